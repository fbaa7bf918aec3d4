// File operations for native builds: std::filesystem on the UTF-8 form of the path.
#include "system/FileOps.h"

#include <filesystem>

#include "system/Strings.h"

namespace fs = std::filesystem;

namespace {

fs::path Native(const std::wstring& path) { return fs::path(WideToUtf8(path)); }

}  // namespace

FileKind GetFileKind(const std::wstring& path, std::error_code& ec) {
  switch (fs::status(Native(path), ec).type()) {
    case fs::file_type::not_found: return FileKind::kNotFound;
    case fs::file_type::regular: return FileKind::kRegular;
    case fs::file_type::directory: return FileKind::kDirectory;
    case fs::file_type::none:
    case fs::file_type::unknown: return FileKind::kUnknown;
    default: return FileKind::kOther;
  }
}

bool FileExists(const std::wstring& path, std::error_code& ec) { return fs::exists(Native(path), ec); }

bool IsRegularFile(const std::wstring& path, std::error_code& ec) {
  return fs::is_regular_file(Native(path), ec);
}

bool IsDirectory(const std::wstring& path, std::error_code& ec) {
  return fs::is_directory(Native(path), ec);
}

std::uintmax_t FileSize(const std::wstring& path, std::error_code& ec) {
  return fs::file_size(Native(path), ec);
}

bool RemoveFile(const std::wstring& path, std::error_code& ec) { return fs::remove(Native(path), ec); }

void RenameFile(const std::wstring& from, const std::wstring& to, std::error_code& ec) {
  fs::rename(Native(from), Native(to), ec);
}

bool CreateDirectories(const std::wstring& path, std::error_code& ec) {
  return fs::create_directories(Native(path), ec);
}

std::wstring ParentPath(const std::wstring& path) {
  return Utf8ToWide(Native(path).parent_path().string());
}

std::wstring JoinPath(const std::wstring& path, const std::wstring& name) {
  return Utf8ToWide((Native(path) / Native(name)).string());
}

std::FILE* OpenFileWide(const std::wstring& path, const char* mode) {
  return std::fopen(WideToUtf8(path).c_str(), mode);
}
