#include "Strings.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendCodePoint(std::wstring& out, char32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(cp));
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::wstring Utf8ToWide(const std::string& utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t n = utf8.size();
  for (std::size_t i = 0; i < n;) {
    unsigned char c = s[i];
    int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
    if (extra < 0) {
      AppendCodePoint(out, kReplacement);
      ++i;
      continue;
    }
    char32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= n || (s[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      AppendCodePoint(out, kReplacement);
      ++i;
      continue;
    }
    AppendCodePoint(out, cp);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

std::string WideToUtf8(const std::wstring& wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t u = static_cast<char32_t>(wide[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      u &= 0xFFFF;
      if (IsHighSurrogate(u) && i + 1 < wide.size() &&
          IsLowSurrogate(static_cast<char32_t>(wide[i + 1]) & 0xFFFF)) {
        char32_t low = static_cast<char32_t>(wide[++i]) & 0xFFFF;
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
        u = kReplacement;
      }
    } else if (u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) {
      u = kReplacement;
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::wstring Utf16LeToWide(const std::string& bytes) {
  std::wstring out;
  std::size_t i = 0;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE)
    i = 2;
  auto unit = [&](std::size_t at) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[at]) |
                                 (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  for (; i + 1 < bytes.size(); i += 2) {
    char32_t u = unit(i);
    if (IsHighSurrogate(u) && i + 3 < bytes.size() && IsLowSurrogate(unit(i + 2))) {
      AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00));
      i += 2;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendCodePoint(out, kReplacement);
    } else {
      AppendCodePoint(out, u);
    }
  }
  return out;
}

template <typename S>
static void ReplaceAllImpl(S& text, const S& from, const S& to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != S::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
  ReplaceAllImpl(text, from, to);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  ReplaceAllImpl(text, from, to);
}

std::wstring GetFileNameFromPath(const std::wstring& path) {
  if (path.empty()) return std::wstring();
  std::size_t cut = path.find_last_of(L"/\\");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

bool SplitUrl(const std::wstring& url, std::wstring& host, std::wstring& path) {
  // The scheme must open the address: a scheme somewhere inside it (say in a
  // query) says nothing about where the host is.
  std::wstring rest;
  if (url.compare(0, 7, L"http://") == 0) {
    rest = url.substr(7);
  } else if (url.compare(0, 8, L"https://") == 0) {
    rest = url.substr(8);
  } else {
    return true;
  }
  std::size_t slash = rest.find(L'/');
  if (slash == std::wstring::npos) {
    host = rest;
    return false;
  }
  host = rest.substr(0, slash);
  path = rest.substr(slash + 1);
  return true;
}

std::string RemoveDotSegments(std::string input) {
  std::string output;
  while (!input.empty()) {
    if (input.compare(0, 3, "../") == 0) {
      input.erase(0, 3);
    } else if (input.compare(0, 2, "./") == 0) {
      input.erase(0, 2);
    } else if (input.compare(0, 3, "/./") == 0) {
      input.erase(0, 2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.compare(0, 4, "/../") == 0 || input == "/..") {
      input = input.size() == 3 ? "/" : input.substr(3);
      size_t slash = output.rfind('/');
      output.erase(slash == std::string::npos ? 0 : slash);
    } else if (input == "." || input == "..") {
      input.clear();
    } else {
      size_t next = input.find('/', input[0] == '/' ? 1 : 0);
      output += input.substr(0, next);
      input.erase(0, next == std::string::npos ? input.size() : next);
    }
  }
  return output;
}
