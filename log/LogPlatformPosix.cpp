#include "LogPlatform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "system/Strings.h"

namespace zvlog {

std::wstring ModuleFilePath() {
  char buffer[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return std::wstring();
  std::string path(buffer, static_cast<size_t>(n));
  for (char& c : path)
    if (c == '/') c = '\\';
  return Utf8ToWide(path);
}

std::string WideToLogText(const std::wstring& text) { return WideToUtf8(text); }

std::wstring AnsiToWideText(const std::string& text) { return Utf8ToWide(text); }

static std::string PathForFileApi(const std::wstring& path) {
  std::string narrow = WideToUtf8(path);
  for (char& c : narrow)
    if (c == '\\') c = '/';
  return narrow;
}

bool PathExists(const std::wstring& path) {
  struct stat st;
  return stat(PathForFileApi(path).c_str(), &st) == 0;
}

void MakeDirectory(const std::wstring& path) { mkdir(PathForFileApi(path).c_str(), 0755); }

std::FILE* OpenForAppend(const std::wstring& path) {
  return std::fopen(PathForFileApi(path).c_str(), "ab");
}

bool RenameReplacing(const std::wstring& from, const std::wstring& to) {
  return std::rename(PathForFileApi(from).c_str(), PathForFileApi(to).c_str()) == 0;
}

}  // namespace zvlog
