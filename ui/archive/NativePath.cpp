#include "ui/archive/NativePath.h"

#include <system_error>

#include "system/FileOps.h"
#include "system/StdioFile.h"
#include "system/Strings.h"

namespace SkinUI {

std::wstring ToNativePath(const std::wstring& path) {
#if defined(_WIN32)
  return path;
#else
  std::wstring native = path;
  for (wchar_t& c : native)
    if (c == L'\\') c = L'/';
  return native;
#endif
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::size_t maxSize) {
  bytes.clear();
  const std::wstring nativePath = ToNativePath(path);
  std::error_code ec;
  if (!IsRegularFile(nativePath, ec)) return false;
  const auto size = FileSize(nativePath, ec);
  if (ec || size > maxSize) return false;
  StdioFile in = OpenStdioFile(nativePath, "rb");
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

bool WriteFileReplacing(const std::wstring& target, const std::string& bytes,
                        std::string& error) {
  const std::wstring temp = target + L".zvpart";
  std::error_code ec;
  {
    StdioFile out = OpenStdioFile(temp, "wb");
    if (!out) {
      error = "cannot create the file";
      return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
    if (std::fclose(out.release()) != 0 || !written) {
      RemoveFile(temp, ec);
      error = "cannot write the file";
      return false;
    }
  }
  RenameFile(temp, target, ec);
  if (ec) {
    // Some runtimes refuse to rename over an existing file: remove it first.
    std::error_code removeError;
    if (!IsDirectory(target, removeError)) {
      RemoveFile(target, removeError);
      ec.clear();
      RenameFile(temp, target, ec);
    }
  }
  if (ec) {
    RemoveFile(temp, ec);
    error = "cannot replace the file";
    return false;
  }
  return true;
}

}  // namespace SkinUI
