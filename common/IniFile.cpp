#include "common/IniFile.h"

#include <functional>
#include <system_error>
#include <vector>

#include "system/StdioFile.h"
#include "system/FileOps.h"
#include "system/Strings.h"
#include "system/SystemUtils.h"

namespace {

constexpr std::size_t kMaxIniFileSize = 4u << 20;

bool IsTrimmed(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring Trim(const std::wstring& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// Calls `section` for each header and `entry` for each other line that is
// not a comment, with the key and value trimmed; `hasEquals` tells whether
// the line had a "=".
void ForEachIniLine(const std::wstring& text,
                    const std::function<void(const std::wstring&)>& section,
                    const std::function<void(const std::wstring&, const std::wstring&, bool)>& entry) {
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == L';') continue;
    if (line[0] == L'[') {
      const std::size_t close = line.find(L']');
      section(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
      continue;
    }
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring::npos)
      entry(line, std::wstring(), false);
    else
      entry(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), true);
  }
}

std::wstring ReadIniFile(const std::wstring& file) {
#if defined(_WIN32)
  const std::wstring& path = file;
#else
  std::wstring path = file;
  for (wchar_t& c : path)
    if (c == L'\\') c = L'/';
#endif
  std::error_code ec;
  if (!IsRegularFile(path, ec)) return std::wstring();
  const auto size = FileSize(path, ec);
  if (ec || size > kMaxIniFileSize) return std::wstring();
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (StdioFile in = OpenStdioFile(path, "rb"))
    ReadStdioFile(in.get(), bytes);
  else
    bytes.clear();
  return DecodeIniBytes(bytes);
}

// The entries of the first section named `name` (ignoring case), in file order.
bool FindProfileSection(const std::wstring& text, const std::wstring& name,
                        std::vector<std::pair<std::wstring, std::wstring>>& entries) {
  int state = 0;  // 0 before, 1 inside, 2 after the section
  ForEachIniLine(
      text,
      [&](const std::wstring& section) {
        if (state == 1) state = 2;
        else if (state == 0 && EqualsNoCase(section, name)) state = 1;
      },
      [&](const std::wstring& key, const std::wstring& value, bool) {
        if (state == 1) entries.emplace_back(key, value);
      });
  return state != 0;
}

}  // namespace

IniTable ParseIniText(const std::wstring& text) {
  IniTable table;
  std::wstring current;
  ForEachIniLine(
      text, [&](const std::wstring& section) { current = section; },
      [&](const std::wstring& key, const std::wstring& value, bool hasEquals) {
        if (hasEquals) table[current][key] = value;
      });
  return table;
}

bool HasUtf16Bom(const void* data, std::size_t size) {
  if (!data || size <= 1) return false;
  const auto* p = static_cast<const unsigned char*>(data);
  return (p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF);
}

std::wstring DecodeIniBytes(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE) return Utf16LeToWide(bytes.substr(2));
  if (bytes.size() >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    std::string swapped = bytes.substr(2);
    for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    return Utf16LeToWide(swapped);
  }
  if (bytes.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
    return Utf8ToWide(bytes.substr(3));
  return AnsiToUnicode(bytes);
}

std::wstring ReadIniString(const std::wstring& file, const std::wstring& section,
                           const std::wstring& key) {
  std::vector<std::pair<std::wstring, std::wstring>> entries;
  if (!FindProfileSection(ReadIniFile(file), section, entries)) return std::wstring();
  for (const auto& entry : entries)
    if (EqualsNoCase(entry.first, key)) return entry.second;
  return std::wstring();
}

bool ReadIniSection(const std::wstring& file, const std::wstring& section, IniSection& table) {
  std::vector<std::pair<std::wstring, std::wstring>> entries;
  if (!FindProfileSection(ReadIniFile(file), section, entries)) return false;
  for (const auto& entry : entries) table[entry.first] = entry.second;
  return true;
}
