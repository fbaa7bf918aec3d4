// A file read and written at 64-bit byte offsets: the download's data file
// and its resume meta file. Opened for reading and writing; an existing file
// keeps its content, a missing one is created. On Windows other processes may
// only read it while it is open (so the driver's own open of a meta file that
// an engine still holds fails, as it should).
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace engine {

class random_file {
 public:
  random_file() = default;
  ~random_file();
  random_file(const random_file&) = delete;
  random_file& operator=(const random_file&) = delete;

  // Opening an open file closes it first. With create false a missing file
  // is an error instead of being made.
  bool open(const std::wstring& path, std::error_code& ec, bool create = true);
  void close();
  bool is_open() const;
  const std::wstring& path() const { return path_; }

  // The whole buffer at `offset`, or the current position when offset is -1
  // (the position then moves past it). Returns size when every byte was
  // written, -1 otherwise (ec says why): a short write is a failure.
  int64_t write(const char* data, int64_t offset, int64_t size, std::error_code& ec);
  // Up to size bytes; fewer only at the end of the file. -1 on error.
  int64_t read(char* data, int64_t offset, int64_t size, std::error_code& ec);
  // Current length of the file, -1 on error.
  int64_t length(std::error_code& ec) const;
  // Cuts or extends (with zeros) the file to exactly `size` bytes.
  bool set_length(int64_t size, std::error_code& ec);
  int64_t position() const { return position_; }
  void seek(int64_t position) { position_ = position; }

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // HANDLE; null when closed
#else
  int fd_ = -1;
#endif
  std::wstring path_;
  int64_t position_ = 0;
};

}  // namespace engine
