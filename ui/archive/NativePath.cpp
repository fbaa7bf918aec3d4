#include "ui/archive/NativePath.h"

#include <system_error>

#include "system/StdioFile.h"
#include "system/Strings.h"

namespace SkinUI {

std::filesystem::path ToFsPath(const std::wstring& path) {
#if defined(_WIN32)
  return std::filesystem::path(path);
#else
  std::string narrow = WideToUtf8(path);
  for (char& c : narrow)
    if (c == '\\') c = '/';
  return std::filesystem::path(narrow);
#endif
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::size_t maxSize) {
  bytes.clear();
  const std::filesystem::path fsPath = ToFsPath(path);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fsPath, ec)) return false;
  const auto size = std::filesystem::file_size(fsPath, ec);
  if (ec || size > maxSize) return false;
  StdioFile in = OpenStdioFile(fsPath, "rb");
  if (!in) return false;
  const std::size_t expected = static_cast<std::size_t>(size);
  bytes.resize(expected);
  ReadStdioFile(in.get(), bytes);
  if (bytes.size() != expected) {
    bytes.clear();
    return false;
  }
  return true;
}

bool WriteFileReplacing(const std::filesystem::path& target, const std::string& bytes,
                        std::string& error) {
  std::filesystem::path temp = target;
  // The suffix in the path's own character type: no conversion facet needed.
  const std::filesystem::path::value_type partSuffix[] = {'.', 'z', 'v', 'p', 'a', 'r', 't', '\0'};
  temp += partSuffix;
  std::error_code ec;
  {
    StdioFile out = OpenStdioFile(temp, "wb");
    if (!out) {
      error = "cannot create the file";
      return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
    if (std::fclose(out.release()) != 0 || !written) {
      std::filesystem::remove(temp, ec);
      error = "cannot write the file";
      return false;
    }
  }
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    // Some runtimes refuse to rename over an existing file: remove it first.
    std::error_code removeError;
    if (!std::filesystem::is_directory(target, removeError)) {
      std::filesystem::remove(target, removeError);
      ec.clear();
      std::filesystem::rename(temp, target, ec);
    }
  }
  if (ec) {
    std::filesystem::remove(temp, ec);
    error = "cannot replace the file";
    return false;
  }
  return true;
}

}  // namespace SkinUI
