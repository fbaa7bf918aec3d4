// Reads what the process's log file gained since a mark. The log goes on
// across test cases (and runs): only what is written after the mark counts.
// Header-only: for test binaries that link the log facility.
#pragma once

#include "log/Log.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <string>

namespace zvtest {

// The log facility names its file with "\\" separators on every system.
inline std::filesystem::path LogPath() {
  LOGA(kLog_Info, "test: log mark");  // sets the log up if it is not yet
  std::wstring path = CurrentLogFilePath();
#ifndef _WIN32
  for (wchar_t& c : path)
    if (c == L'\\') c = L'/';
#endif
  return std::filesystem::path(path);
}

class LogSince {
 public:
  LogSince() : start_(ReadFile(LogPath()).size()) {}
  std::string Text() const {
    std::string all = ReadFile(LogPath());
    return all.size() > start_ ? all.substr(start_) : std::string();
  }
  bool Has(const std::string& text) const { return Text().find(text) != std::string::npos; }
  int Count(const std::string& text) const {
    std::string all = Text();
    int n = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size())) ++n;
    return n;
  }

 private:
  std::size_t start_;
};

}  // namespace zvtest
