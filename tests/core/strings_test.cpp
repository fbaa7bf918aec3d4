#include <doctest/doctest.h>

#include "system/Strings.h"

TEST_CASE("UTF-8 and wide strings convert both ways, non-BMP characters included") {
  // "Zelvane", e-acute, CJK, an emoji outside the BMP, Arabic.
  const std::string utf8 = "Zelvane \xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80 \xD8\xB9";
  std::wstring wide = Utf8ToWide(utf8);
  CHECK(WideToUtf8(wide) == utf8);
  if (sizeof(wchar_t) == 2) {
    CHECK(wide.size() == 16);  // the emoji is a surrogate pair
  } else {
    CHECK(wide.size() == 15);
  }
  std::wstring emoji = Utf8ToWide("\xF0\x9F\x98\x80");
  CHECK(WideToUtf8(emoji) == "\xF0\x9F\x98\x80");
}

TEST_CASE("malformed UTF-8 becomes replacement characters, never a crash") {
  const char* cases[] = {"\xC3", "\xE4\xB8", "\xF0\x9F\x98", "\xFF\xFE", "\xC0\xAF", "\xED\xA0\x80"};
  for (const char* input : cases) {
    std::wstring wide = Utf8ToWide(input);
    CHECK(!wide.empty());
    CHECK(wide.find(static_cast<wchar_t>(0xFFFD)) != std::wstring::npos);
  }
}

TEST_CASE("UTF-16LE bytes decode with or without a byte-order mark") {
  std::string bom("\xFF\xFE" "A\0=\0" "\x3D\xD8\x00\xDE", 10);  // "A=" then U+1F600
  std::wstring wide = Utf16LeToWide(bom);
  CHECK(WideToUtf8(wide) == "A=\xF0\x9F\x98\x80");
  std::string plain("h\0i\0", 4);
  CHECK(Utf16LeToWide(plain) == L"hi");
  std::string lone("\x00\xD8x\0", 4);  // unpaired high surrogate
  CHECK(WideToUtf8(Utf16LeToWide(lone)) == "\xEF\xBF\xBDx");
  CHECK(Utf16LeToWide(std::string("a", 1)).empty());  // odd trailing byte ignored
}

TEST_CASE("ReplaceAll replaces each original occurrence once") {
  struct Case {
    std::wstring text, from, to, expected;
  } cases[] = {
      {L"aaa", L"a", L"aa", L"aaaaaa"},
      {L"%NAME% and %NAME%", L"%NAME%", L"Zelvane", L"Zelvane and Zelvane"},
      {L"abc", L"", L"x", L"abc"},
      {L"abc", L"d", L"x", L"abc"},
      {L"abab", L"ab", L"", L""},
  };
  for (auto& c : cases) {
    std::wstring text = c.text;
    ReplaceAll(text, c.from, c.to);
    CHECK(text == c.expected);
  }
}

TEST_CASE("file name part of a path") {
  CHECK(GetFileNameFromPath(L"C:\\a\\b\\setup.exe") == L"setup.exe");
  CHECK(GetFileNameFromPath(L"C:/a/b/setup.beta.exe") == L"setup.beta.exe");
  CHECK(GetFileNameFromPath(L"setup.exe") == L"setup.exe");
  CHECK(GetFileNameFromPath(L"") == L"");
  CHECK(GetFileNameFromPath(L"C:\\dir\\") == L"");
}

TEST_CASE("SplitUrl splits host and path of http(s) addresses only") {
  struct Case {
    std::wstring url;
    bool result;
    std::wstring host, path;
  } cases[] = {
      {L"http://example.test/a/b?x=1", true, L"example.test", L"a/b?x=1"},
      {L"https://example.test:8080/x", true, L"example.test:8080", L"x"},
      {L"https://example.test", false, L"example.test", L"-"},
      {L"ftp://example.test/a", true, L"-", L"-"},
      // A scheme that does not open the address is not one.
      {L"ftp://evil.test/?u=http://example.test/", true, L"-", L"-"},
  };
  for (auto& c : cases) {
    std::wstring host = L"-", path = L"-";
    CHECK(SplitUrl(c.url, host, path) == c.result);
    CHECK(host == c.host);
    CHECK(path == c.path);
  }
}
