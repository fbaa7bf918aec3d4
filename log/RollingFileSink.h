// spdlog sink that appends to one file and, when a record would take the file
// past its size limit, moves it to "<name>.1" (replacing an older backup) and
// starts a new file. spdlog's own rotating sink names backups differently.
#pragma once

#include <spdlog/sinks/base_sink.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace zvlog {

class RollingFileSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  RollingFileSink(std::wstring path, std::size_t maxBytes);
  ~RollingFileSink() override;

  const std::wstring& path() const { return path_; }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;
  void flush_() override;

 private:
  void Open();
  void RollOver();

  std::wstring path_;
  std::size_t maxBytes_;
  std::FILE* file_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace zvlog
