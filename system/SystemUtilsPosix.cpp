// The portable subset of the system utilities, so that the portable core and
// its tests can call them natively. Narrow text is UTF-8 here.
#include <openssl/evp.h>
#include <sys/statvfs.h>
#include <sys/stat.h>

#include <cstdio>

#include "SystemUtils.h"
#include "system/FileDigest.h"

namespace {
std::string NativePath(const std::wstring& path) {
  std::string narrow = WideToUtf8(path);
  for (char& c : narrow)
    if (c == '\\') c = '/';
  return narrow;
}
}  // namespace

bool GetFreeSize(const std::wstring& path, uint32_t& freeMiB) {
  struct statvfs st;
  if (statvfs(NativePath(path).c_str(), &st) != 0) return false;
  freeMiB = static_cast<uint32_t>((static_cast<uint64_t>(st.f_bfree) * st.f_frsize) >> 20);
  return true;
}

std::string GetFileMd5(const std::wstring& path) { return GetFileDigestHex(path, EVP_md5()); }

bool IsFileExist(const std::wstring& path) {
  struct stat st;
  std::string native = NativePath(path);
  if (stat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  std::FILE* f = std::fopen(native.c_str(), "r");
  if (!f) return false;
  std::fclose(f);
  return true;
}

std::wstring AnsiToUnicode(const std::string& text) { return Utf8ToWide(text); }
std::string UnicodeToAnsi(const std::wstring& text) { return WideToUtf8(text); }
std::string AnsiToUtf8(const std::string& text) { return text; }
std::string UnicodeToUtf8(const std::wstring& text) { return WideToUtf8(text); }
std::wstring LocaleToUnicode(const std::string& text) { return Utf8ToWide(text); }
std::string UnicodeToLocale(const std::wstring& text) { return WideToUtf8(text); }
