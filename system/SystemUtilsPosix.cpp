// The portable subset of the system utilities, so that the portable core and
// its tests can call them natively. Narrow text is UTF-8 here.
#include <openssl/evp.h>
#include <sys/statvfs.h>
#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "SystemUtils.h"

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

std::string GetFileMd5(const std::wstring& path) {
  std::FILE* f = std::fopen(NativePath(path).c_str(), "rb");
  if (!f) return std::string();
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  std::string result;
  if (ctx && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr)) {
    unsigned char chunk[4096];
    std::size_t got;
    bool ok = true;
    while ((got = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
      if (!EVP_DigestUpdate(ctx, chunk, got)) ok = false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (ok && EVP_DigestFinal_ex(ctx, digest, &length)) {
      static const char kHex[] = "0123456789abcdef";
      for (unsigned int i = 0; i < length; ++i) {
        result.push_back(kHex[digest[i] >> 4]);
        result.push_back(kHex[digest[i] & 15]);
      }
    }
  }
  EVP_MD_CTX_free(ctx);
  std::fclose(f);
  return result;
}

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
