// File operations on Windows through the C runtime and Win32, following what
// libstdc++'s std::filesystem does there (_wstat64 for the status, _wmkdir,
// DeleteFileW/RemoveDirectoryW, MoveFileExW) with the same error codes.
#include "system/FileOps.h"

#include <windows.h>

#include <direct.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::error_code LastSystemError() {
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

// The path without separators at its end, unless they are its root.
std::wstring WithoutTrailingSeparators(const std::wstring& path) {
  std::size_t end = path.size();
  while (end > 1 && IsSeparator(path[end - 1]) && !(end == 3 && path[1] == L':')) --end;
  return path.substr(0, end);
}

// The status as std::filesystem::status reports it, with the size of a regular
// file. _wstat64 fails on a trailing separator: the status looks at the path
// without it ("folder\\" is the folder), the size does not.
FileKind Stat(const std::wstring& path, std::error_code& ec, std::uintmax_t* size = nullptr) {
  struct _stat64 st;
  const std::wstring examined = size ? path : WithoutTrailingSeparators(path);
  if (_wstat64(examined.c_str(), &st) != 0) {
    const int err = errno;
    ec.assign(err, std::generic_category());
    if (err == ENOENT || err == ENOTDIR) return FileKind::kNotFound;
    return FileKind::kUnknown;
  }
  ec.clear();
  if (size) *size = static_cast<std::uintmax_t>(st.st_size);
  if ((st.st_mode & _S_IFMT) == _S_IFREG) return FileKind::kRegular;
  if ((st.st_mode & _S_IFMT) == _S_IFDIR) return FileKind::kDirectory;
  return FileKind::kOther;
}

// Whether the status is known, as std::filesystem::status_known tells.
bool Known(FileKind kind) { return kind != FileKind::kUnknown; }

}  // namespace

FileKind GetFileKind(const std::wstring& path, std::error_code& ec) { return Stat(path, ec); }

bool FileExists(const std::wstring& path, std::error_code& ec) {
  const FileKind kind = Stat(path, ec);
  if (!Known(kind)) return false;
  ec.clear();
  return kind != FileKind::kNotFound;
}

bool IsRegularFile(const std::wstring& path, std::error_code& ec) {
  return Stat(path, ec) == FileKind::kRegular;
}

bool IsDirectory(const std::wstring& path, std::error_code& ec) {
  return Stat(path, ec) == FileKind::kDirectory;
}

std::uintmax_t FileSize(const std::wstring& path, std::error_code& ec) {
  std::uintmax_t size = 0;
  const FileKind kind = Stat(path, ec, &size);
  if (kind == FileKind::kRegular) return size;
  if (!ec) {
    ec = std::make_error_code(kind == FileKind::kDirectory ? std::errc::is_a_directory
                                                            : std::errc::not_supported);
  }
  return static_cast<std::uintmax_t>(-1);
}

bool RemoveFile(const std::wstring& path, std::error_code& ec) {
  const FileKind kind = Stat(path, ec);
  if (Known(kind) && kind != FileKind::kNotFound) {
    if ((kind == FileKind::kDirectory && RemoveDirectoryW(path.c_str())) ||
        DeleteFileW(path.c_str())) {
      ec.clear();
      return true;
    }
    ec = LastSystemError();
  } else if (Known(kind)) {
    ec.clear();
  }
  return false;
}

void RenameFile(const std::wstring& from, const std::wstring& to, std::error_code& ec) {
  // A copy across volumes, as std::filesystem::rename does on Windows.
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    ec.clear();
    return;
  }
  ec.assign(GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO, std::generic_category());
}

bool CreateDirectories(const std::wstring& path, std::error_code& ec) {
  if (path.empty()) {
    ec = std::make_error_code(std::errc::invalid_argument);
    return false;
  }
  const std::wstring folder = WithoutTrailingSeparators(path);
  const FileKind kind = Stat(folder, ec);
  if (kind == FileKind::kDirectory) return false;
  if (kind != FileKind::kNotFound) {
    if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
    return false;
  }
  const std::wstring parent = ParentPath(folder);
  if (!parent.empty() && parent != folder) {
    CreateDirectories(parent, ec);
    if (ec) return false;
  }
  if (_wmkdir(folder.c_str()) != 0) {
    const int err = errno;
    // Made meanwhile by someone else is as good.
    if (err == EEXIST && Stat(folder, ec) == FileKind::kDirectory) return false;
    ec.assign(err, std::generic_category());
    return false;
  }
  ec.clear();
  return true;
}

std::wstring ParentPath(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos) {
    // "C:name" lies in the drive's current folder "C:".
    return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : std::wstring();
  }
  std::size_t end = last;
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  if (end == 0) return path.substr(0, last + 1);                      // "\\name"
  if (end == 2 && path[1] == L':') return path.substr(0, last + 1);   // "C:\\name"
  return path.substr(0, end);
}

std::wstring JoinPath(const std::wstring& path, const std::wstring& name) {
  if (path.empty() || IsSeparator(path.back()) || (path.size() == 2 && path[1] == L':'))
    return path + name;
  return path + L'\\' + name;
}

std::FILE* OpenFileWide(const std::wstring& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
}
