#include "RequestUrl.h"

#include <cwctype>
#include <limits>

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  std::size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size() || static_cast<wchar_t>(std::towlower(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool IsControl(wchar_t c) { return c < 0x20 || c == 0x7f; }

bool ParsePort(const std::wstring& digits, unsigned short& port) {
  if (digits.empty() || digits.size() > 5) return false;
  unsigned value = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<unsigned short>(value);
  return true;
}

}  // namespace

bool ParseRequestUrl(const std::wstring& url, RequestUrl& out) {
  RequestUrl parsed;
  std::size_t start = 0;
  if (StartsWithNoCase(url, L"https://")) {
    parsed.secure = true;
    start = 8;
  } else if (StartsWithNoCase(url, L"http://")) {
    start = 7;
  } else {
    return false;
  }
  for (wchar_t c : url) {
    if (IsControl(c)) return false;
  }
  std::size_t slash = url.find(L'/', start);
  if (slash == std::wstring::npos) return false;
  std::wstring authority = url.substr(start, slash - start);
  if (authority.find(L'@') != std::wstring::npos) return false;

  std::wstring host = authority;
  std::wstring portText;
  if (!authority.empty() && authority[0] == L'[') {
    std::size_t close = authority.find(L']');
    if (close == std::wstring::npos) return false;
    host = authority.substr(1, close - 1);
    std::wstring rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != L':') return false;
      portText = rest.substr(1);
      if (portText.empty()) return false;
    }
  } else {
    std::size_t colon = authority.find(L':');
    if (colon != std::wstring::npos) {
      host = authority.substr(0, colon);
      portText = authority.substr(colon + 1);
      if (portText.empty()) return false;
    }
  }
  if (host.empty() || host.find_first_of(L" \t?#\\") != std::wstring::npos) return false;
  parsed.host = host;
  parsed.port = parsed.secure ? 443 : 80;
  if (!portText.empty() && !ParsePort(portText, parsed.port)) return false;

  parsed.path = url.substr(slash);
  std::size_t hash = parsed.path.find(L'#');
  if (hash != std::wstring::npos) parsed.path.erase(hash);
  out = parsed;
  return true;
}

bool ParseContentLength(const std::wstring& text, int64_t& value) {
  std::size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return false;
  std::size_t last = text.find_last_not_of(L" \t");
  int64_t result = 0;
  for (std::size_t i = first; i <= last; ++i) {
    wchar_t c = text[i];
    if (c < L'0' || c > L'9') return false;
    int digit = static_cast<int>(c - L'0');
    if (result > (std::numeric_limits<int64_t>::max() - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = result;
  return true;
}
