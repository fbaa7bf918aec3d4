#include "ui/markup_tree/MarkupValues.h"

#include <cerrno>
#include <climits>
#include <cwchar>
#include <cwctype>

namespace SkinUI {
namespace {

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }

// Reads one number at `p` like wcstol and returns where it ended.
const wchar_t* ReadLong(const wchar_t* p, int& number) {
  wchar_t* end = nullptr;
  errno = 0;
  long long value = std::wcstoll(p, &end, 10);
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  number = static_cast<int>(value);
  return end ? end : p;
}

// Reads `count` numbers, each from the character after the one that ended
// the previous number.
void ReadNumbers(const std::wstring& value, int* numbers, int count) {
  const wchar_t* p = value.c_str();
  for (int i = 0; i < count; ++i) {
    numbers[i] = 0;
    const wchar_t* end = ReadLong(p, numbers[i]);
    p = (*end != L'\0') ? end + 1 : end;
  }
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

}  // namespace

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

int ParseInt(const std::wstring& value) {
  int number = 0;
  ReadLong(value.c_str(), number);
  return number;
}

MarkupSize ParseSize(const std::wstring& value) {
  int n[2];
  ReadNumbers(value, n, 2);
  return MarkupSize{n[0], n[1]};
}

MarkupRect ParseRect(const std::wstring& value) {
  int n[4];
  ReadNumbers(value, n, 4);
  return MarkupRect{n[0], n[1], n[2], n[3]};
}

uint32_t ParseColor(const std::wstring& value) {
  const wchar_t* p = value.c_str();
  while (*p == L' ' || *p == L'\t') ++p;
  if (*p == L'#') ++p;
  // Leading signs or blanks after "#" are not part of the syntax.
  if (!std::iswxdigit(static_cast<wint_t>(*p))) return 0;
  unsigned long long number = std::wcstoull(p, nullptr, 16);
  return number > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(number);
}

bool ParseBool(const std::wstring& value, bool ignoreCase) {
  return ignoreCase ? EqualsNoCase(value, L"true") : value == L"true";
}

ImageDescription ParseImageDescription(const std::wstring& value) {
  ImageDescription image;
  if (value.find(L'=') == std::wstring::npos || value.find(L'\'') == std::wstring::npos) {
    image.file = value;
    return image;
  }
  std::size_t pos = 0;
  const std::size_t size = value.size();
  while (pos < size) {
    while (pos < size && IsBlank(value[pos])) ++pos;
    const std::size_t keyStart = pos;
    while (pos < size && value[pos] != L'=' && !IsBlank(value[pos])) ++pos;
    const std::wstring key = value.substr(keyStart, pos - keyStart);
    while (pos < size && IsBlank(value[pos])) ++pos;
    if (key.empty() || pos >= size || value[pos] != L'=') break;
    ++pos;
    while (pos < size && IsBlank(value[pos])) ++pos;
    if (pos >= size || value[pos] != L'\'') break;
    const std::size_t valueStart = ++pos;
    const std::size_t valueEnd = value.find(L'\'', valueStart);
    if (valueEnd == std::wstring::npos) break;
    const std::wstring item = value.substr(valueStart, valueEnd - valueStart);
    pos = valueEnd + 1;
    if (item.empty()) continue;
    if (key == L"file") image.file = item;
    else if (key == L"res") image.res = item;
    else if (key == L"restype") image.resType = item;
    else if (key == L"color") { image.hasColor = true; image.color = ParseColor(item); }
    else if (key == L"dest") { image.hasDest = true; image.dest = ParseRect(item); }
    else if (key == L"source") image.source = ParseRect(item);
    else if (key == L"corner" || key == L"scale9") image.corner = ParseRect(item);
    else if (key == L"mask") { image.hasMask = true; image.mask = ParseColor(item); }
    else if (key == L"fade") {
      int fade = ParseInt(item);
      image.fade = fade < 0 ? 0 : (fade > 255 ? 255 : fade);
    }
    else if (key == L"hole") image.hole = ParseBool(item);
    else if (key == L"xtiled") image.xtiled = ParseBool(item);
    else if (key == L"ytiled") image.ytiled = ParseBool(item);
    else if (key == L"hsl") image.hsl = ParseBool(item);
  }
  return image;
}

std::wstring ReplaceLanguageTokens(const std::wstring& text,
                                   const std::map<int, std::wstring>& declared) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = text.find(L"%{", pos);
    if (start == std::wstring::npos) break;
    std::size_t digits = start + 2;
    while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9') ++digits;
    // Up to 9 digits: longer numbers cannot have been declared.
    const std::size_t count = digits - (start + 2);
    if (count > 0 && count <= 9 && digits < text.size() && text[digits] == L'}') {
      auto found = declared.find(std::stoi(text.substr(start + 2, count)));
      if (found != declared.end()) {
        out.append(text, pos, start - pos);
        out += found->second;
        pos = digits + 1;
        continue;
      }
    }
    out.append(text, pos, start + 2 - pos);
    pos = start + 2;
  }
  out.append(text, pos, std::wstring::npos);
  return out;
}

MarkupAttributes ParseAttributeList(const std::wstring& list) {
  MarkupAttributes attributes;
  std::size_t pos = 0;
  const std::size_t size = list.size();
  for (;;) {
    while (pos < size && IsBlank(list[pos])) ++pos;
    const std::size_t nameStart = pos;
    while (pos < size && list[pos] != L'=' && !IsBlank(list[pos])) ++pos;
    if (pos == nameStart) break;
    MarkupAttribute attribute;
    attribute.name = list.substr(nameStart, pos - nameStart);
    while (pos < size && IsBlank(list[pos])) ++pos;
    if (pos >= size || list[pos] != L'=') break;
    ++pos;
    while (pos < size && IsBlank(list[pos])) ++pos;
    if (pos >= size || list[pos] != L'"') break;
    const std::size_t valueEnd = list.find(L'"', pos + 1);
    if (valueEnd == std::wstring::npos) break;
    attribute.value = list.substr(pos + 1, valueEnd - pos - 1);
    attributes.push_back(std::move(attribute));
    pos = valueEnd + 1;
  }
  return attributes;
}

void ApplyWindowAttributes(const MarkupAttributes& attributes, WindowSettings& settings) {
  static const wchar_t* const kColorNames[] = {L"disabledfontcolor", L"defaultfontcolor",
                                               L"linkfontcolor", L"linkhoverfontcolor",
                                               L"selectedcolor"};
  for (const MarkupAttribute& a : attributes) {
    const std::wstring& n = a.name;
    if (EqualsNoCase(n, L"size")) {
      settings.hasSize = true;
      settings.size = ParseSize(a.value);
    } else if (EqualsNoCase(n, L"sizebox")) {
      settings.sizeBox = ParseRect(a.value);
    } else if (EqualsNoCase(n, L"caption")) {
      settings.caption = ParseRect(a.value);
    } else if (EqualsNoCase(n, L"roundcorner")) {
      settings.roundCorner = ParseSize(a.value);
    } else if (EqualsNoCase(n, L"mininfo")) {
      settings.minInfo = ParseSize(a.value);
    } else if (EqualsNoCase(n, L"maxinfo")) {
      settings.maxInfo = ParseSize(a.value);
    } else if (EqualsNoCase(n, L"showdirty")) {
      settings.showDirty = ParseBool(a.value, true);
    } else if (n == L"noactivate") {
      settings.noActivate = ParseBool(a.value, true);
    } else if (EqualsNoCase(n, L"opacity")) {
      settings.hasOpacity = true;
      settings.opacity = ParseInt(a.value);
    } else if (n == L"layeredopacity") {
      settings.hasLayeredOpacity = true;
      settings.layeredOpacity = ParseInt(a.value);
    } else if (n == L"layeredimage") {
      settings.layeredImage = a.value;
    } else {
      bool isColor = false;
      for (const wchar_t* colorName : kColorNames) {
        if (EqualsNoCase(n, colorName)) {
          settings.colors[colorName] = ParseColor(a.value);
          isColor = true;
          break;
        }
      }
      if (!isColor) settings.custom.push_back(a);
    }
  }
}

}  // namespace SkinUI
