// Small helpers shared by the test binaries.
#pragma once

#include <filesystem>
#include <string>

namespace zvtest {

// A fresh, empty folder under the build tree (or the system temp folder),
// removed when the object goes away.
class TempDir {
 public:
  explicit TempDir(const std::string& tag);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& data);
// Source tree root (ZV_SOURCE_DIR, set by ctest), for fixtures under tests/.
std::filesystem::path SourceDir();
// A path of the build (Unix) as a Wine program reaches it, through drive Z:.
std::wstring FromUnixPath(const char* unixPath);

}  // namespace zvtest
