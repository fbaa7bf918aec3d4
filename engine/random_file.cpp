// The two implementations of random_file: Win32 handles with positioned
// ReadFile/WriteFile, and POSIX descriptors with pread/pwrite. Positions are
// kept by the object, so no operation depends on a shared file pointer.
#include "engine/random_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/Strings.h"
#endif

#include <algorithm>

namespace engine {

namespace {

std::error_code invalid_argument() { return std::make_error_code(std::errc::invalid_argument); }
std::error_code not_open() { return std::make_error_code(std::errc::bad_file_descriptor); }

#ifdef _WIN32
std::error_code last_error() { return std::error_code(static_cast<int>(GetLastError()), std::system_category()); }
// One ReadFile/WriteFile moves at most this much (the API counts in DWORD).
constexpr int64_t kMaxIo = 1 << 30;
#else
std::error_code last_error() { return std::error_code(errno, std::generic_category()); }
constexpr int64_t kMaxIo = 1 << 30;
#endif

}  // namespace

random_file::~random_file() { close(); }

bool random_file::is_open() const {
#ifdef _WIN32
  return handle_ != nullptr;
#else
  return fd_ >= 0;
#endif
}

bool random_file::open(const std::wstring& path, std::error_code& ec, bool create) {
  close();
  ec.clear();
#ifdef _WIN32
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ec = last_error();
    return false;
  }
  handle_ = h;
#else
  int fd = ::open(WideToUtf8(path).c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  if (fd < 0) {
    ec = last_error();
    return false;
  }
  fd_ = fd;
#endif
  path_ = path;
  position_ = 0;
  return true;
}

void random_file::close() {
#ifdef _WIN32
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
#else
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
#endif
  path_.clear();
  position_ = 0;
}

int64_t random_file::write(const char* data, int64_t offset, int64_t size, std::error_code& ec) {
  ec.clear();
  if (!is_open()) {
    ec = not_open();
    return -1;
  }
  if (size < 0 || offset < -1) {
    ec = invalid_argument();
    return -1;
  }
  int64_t at = offset == -1 ? position_ : offset;
  int64_t done = 0;
  while (done < size) {
    int64_t step = std::min(size - done, kMaxIo);
#ifdef _WIN32
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(static_cast<uint64_t>(at + done) & 0xffffffffu);
    ov.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(at + done) >> 32);
    DWORD n = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), data + done, static_cast<DWORD>(step), &n, &ov)) {
      ec = last_error();
      return -1;
    }
#else
    ssize_t n = ::pwrite(fd_, data + done, static_cast<size_t>(step), static_cast<off_t>(at + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ec = last_error();
      return -1;
    }
#endif
    if (n == 0) {  // the device takes nothing more: a full disk behaves so
      ec = std::make_error_code(std::errc::no_space_on_device);
      return -1;
    }
    done += static_cast<int64_t>(n);
  }
  position_ = at + size;
  return size;
}

int64_t random_file::read(char* data, int64_t offset, int64_t size, std::error_code& ec) {
  ec.clear();
  if (!is_open()) {
    ec = not_open();
    return -1;
  }
  if (size < 0 || offset < -1) {
    ec = invalid_argument();
    return -1;
  }
  int64_t at = offset == -1 ? position_ : offset;
  int64_t done = 0;
  while (done < size) {
    int64_t step = std::min(size - done, kMaxIo);
#ifdef _WIN32
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(static_cast<uint64_t>(at + done) & 0xffffffffu);
    ov.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(at + done) >> 32);
    DWORD n = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), data + done, static_cast<DWORD>(step), &n, &ov)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      ec = last_error();
      return -1;
    }
#else
    ssize_t n = ::pread(fd_, data + done, static_cast<size_t>(step), static_cast<off_t>(at + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ec = last_error();
      return -1;
    }
#endif
    if (n == 0) break;  // end of file
    done += static_cast<int64_t>(n);
  }
  position_ = at + done;
  return done;
}

int64_t random_file::length(std::error_code& ec) const {
  ec.clear();
  if (!is_open()) {
    ec = not_open();
    return -1;
  }
#ifdef _WIN32
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) {
    ec = last_error();
    return -1;
  }
  return static_cast<int64_t>(size.QuadPart);
#else
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    ec = last_error();
    return -1;
  }
  return static_cast<int64_t>(st.st_size);
#endif
}

bool random_file::set_length(int64_t size, std::error_code& ec) {
  ec.clear();
  if (!is_open()) {
    ec = not_open();
    return false;
  }
  if (size < 0) {
    ec = invalid_argument();
    return false;
  }
#ifdef _WIN32
  FILE_END_OF_FILE_INFO info{};
  info.EndOfFile.QuadPart = size;
  if (!SetFileInformationByHandle(static_cast<HANDLE>(handle_), FileEndOfFileInfo, &info, sizeof(info))) {
    ec = last_error();
    return false;
  }
#else
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ec = last_error();
    return false;
  }
#endif
  return true;
}

}  // namespace engine
