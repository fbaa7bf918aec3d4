#include "RollingFileSink.h"

#include "LogPlatform.h"

namespace zvlog {

RollingFileSink::RollingFileSink(std::wstring path, std::size_t maxBytes)
    : path_(std::move(path)), maxBytes_(maxBytes) {
  Open();
}

RollingFileSink::~RollingFileSink() {
  if (file_) std::fclose(file_);
}

void RollingFileSink::Open() {
  file_ = OpenForAppend(path_);
  size_ = 0;
  if (file_ && std::fseek(file_, 0, SEEK_END) == 0) {
    long end = std::ftell(file_);
    if (end > 0) size_ = static_cast<std::size_t>(end);
  }
}

void RollingFileSink::RollOver() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  RenameReplacing(path_, path_ + L".1");
  Open();
}

void RollingFileSink::sink_it_(const spdlog::details::log_msg& msg) {
  spdlog::memory_buf_t formatted;
  formatter_->format(msg, formatted);
  if (size_ > 0 && size_ + formatted.size() > maxBytes_) RollOver();
  if (!file_) return;  // the file cannot be opened: records are lost silently
  std::size_t written = std::fwrite(formatted.data(), 1, formatted.size(), file_);
  size_ += written;
  std::fflush(file_);
}

void RollingFileSink::flush_() {
  if (file_) std::fflush(file_);
}

}  // namespace zvlog
