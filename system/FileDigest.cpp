#include "system/FileDigest.h"

#include <openssl/evp.h>

#include <cctype>
#include <memory>

#include "system/Strings.h"

std::FILE* OpenFileForReading(const std::wstring& path) {
#if defined(_WIN32)
  return _wfopen(path.c_str(), L"rb");
#else
  std::string narrow = WideToUtf8(path);
  for (char& c : narrow)
    if (c == '\\') c = '/';
  return std::fopen(narrow.c_str(), "rb");
#endif
}

std::string GetFileDigestHex(const std::wstring& path, const EVP_MD* md) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(path), &std::fclose);
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!file || !ctx || !md || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return std::string();
  unsigned char chunk[16384];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0)
    if (EVP_DigestUpdate(ctx.get(), chunk, got) != 1) return std::string();
  if (std::ferror(file.get())) return std::string();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 15]);
  }
  return hex;
}

std::string GetFileSha256(const std::wstring& path) { return GetFileDigestHex(path, EVP_sha256()); }

bool MatchesSha256Pin(const std::wstring& path, const std::wstring& pin, std::string& why) {
  if (pin.empty()) return true;
  std::string expected;
  for (wchar_t c : pin) {
    if (c > 0x7f || !std::isxdigit(static_cast<unsigned char>(c))) break;
    expected.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  if (expected.size() != pin.size() || expected.size() != 64) {
    why = "the SHA-256 pin '" + WideToUtf8(pin) + "' is not 64 hexadecimal digits";
    return false;
  }
  std::string actual = GetFileSha256(path);
  if (actual.empty()) {
    why = "the file cannot be read for its SHA-256";
    return false;
  }
  if (actual != expected) {
    why = "SHA-256 " + actual + " is not the pinned " + expected;
    return false;
  }
  return true;
}
