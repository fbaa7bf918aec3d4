#include "ui/archive/NativePath.h"

#include <fstream>
#include <system_error>

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
  std::ifstream in(fsPath, std::ios::binary);
  if (!in) return false;
  bytes.resize(static_cast<std::size_t>(size));
  in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
  if (static_cast<std::size_t>(in.gcount()) != bytes.size()) {
    bytes.clear();
    return false;
  }
  return true;
}

bool WriteFileReplacing(const std::filesystem::path& target, const std::string& bytes,
                        std::string& error) {
  std::filesystem::path temp = target;
  temp += ".zvpart";
  std::error_code ec;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = "cannot create the file";
      return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
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
