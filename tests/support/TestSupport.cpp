#include "tests/support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zvtest {

TempDir::TempDir(const std::string& tag) {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("zv-" + tag + "-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::filesystem::path SourceDir() {
  const char* dir = std::getenv("ZV_SOURCE_DIR");
  return dir ? std::filesystem::path(dir) : std::filesystem::current_path();
}

std::wstring FromUnixPath(const char* unixPath) {
  std::wstring out = L"Z:";
  for (const char* p = unixPath; *p; ++p) out += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
  return out;
}

}  // namespace zvtest
