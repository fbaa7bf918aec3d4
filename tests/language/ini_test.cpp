// INI text parsing (address table rules) and the profile-style file reader.
#include <doctest/doctest.h>

#include "common/IniFile.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"

namespace {

std::string Utf16Le(const std::wstring& text, bool bom = true) {
  std::string out = bom ? "\xFF\xFE" : "";
  for (wchar_t c : text) {
    uint32_t cp = static_cast<uint32_t>(c);
    auto unit = [&](uint32_t u) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>(u >> 8));
    };
    if (cp >= 0x10000 && sizeof(wchar_t) == 4) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

std::wstring Path(const std::filesystem::path& p) { return Utf8ToWide(p.string()); }

}  // namespace

TEST_CASE("address table text: comments, blanks, headers, duplicates") {
  const IniTable table = ParseIniText(
      L"top=before any section\r\n"
      L"   ; STR_DOWN_URLEX=https://example.invalid/producturl?key=pkg_url\r\n"
      L"[CommonUrl]\r\n"
      L"  STR_DOWN_URL  =  https://dl.example/a.exe  \r\n"
      L"no equals sign here\r\n"
      L"STR_X=1=2\r\n"
      L"STR_DUP=first\n"
      L"STR_DUP=second\n"
      L"\t\f\v\n"
      L"[English\n"
      L"STR_INSTALL_URL=\n"
      L"[commonurl]\n"
      L"STR_DOWN_URL=lower-case section\n"
      L"[ Spaced ]\n"
      L"k=v");
  CHECK(table.at(L"").at(L"top") == L"before any section");
  const IniSection& common = table.at(L"CommonUrl");
  CHECK(common.at(L"STR_DOWN_URL") == L"https://dl.example/a.exe");
  CHECK(common.count(L"STR_DOWN_URLEX") == 0);
  CHECK(common.count(L"no equals sign here") == 0);
  CHECK(common.at(L"STR_X") == L"1=2");
  CHECK(common.at(L"STR_DUP") == L"second");
  CHECK(table.at(L"English").at(L"STR_INSTALL_URL").empty());
  CHECK(table.at(L"commonurl").at(L"STR_DOWN_URL") == L"lower-case section");
  CHECK(table.at(L" Spaced ").at(L"k") == L"v");
  CHECK(ParseIniText(L"").empty());
}

TEST_CASE("byte-order marks") {
  CHECK(HasUtf16Bom("\xFF\xFE", 2));
  CHECK(HasUtf16Bom("\xFE\xFF", 2));
  CHECK_FALSE(HasUtf16Bom("\xFF\xFE", 1));
  CHECK_FALSE(HasUtf16Bom("[a", 2));
  CHECK_FALSE(HasUtf16Bom(nullptr, 4));
  CHECK(DecodeIniBytes(Utf16Le(L"[A]\r\nk=\u00e9\U0001F600")) == L"[A]\r\nk=\u00e9\U0001F600");
  CHECK(DecodeIniBytes("\xEF\xBB\xBFk=\xC3\xA9") == L"k=\u00e9");
  CHECK(DecodeIniBytes(std::string("\xFE\xFF\x00k\x00=\x00v", 8)) == L"k=v");
}

TEST_CASE("profile reader: encodings, case, trimming, missing parts") {
  zvtest::TempDir dir("ini");
  zvtest::WriteFile(dir.path() / "utf16.ini",
                    Utf16Le(L"[Language]\r\n1033=English\r\n1025=Arabic\r\n[Indonesian]\r\n"
                            L"STR_INSTALL = Pasang\r\nSTR_HIDE = Sembunyikan\r\nBARE\r\n"
                            L"; comment=ignored\r\n[Language]\r\n1033=Second section\r\n"));
  zvtest::WriteFile(dir.path() / "plain.ini", "k=v\nno section at all\n");
  const std::wstring utf16 = Path(dir.path() / "utf16.ini");
  CHECK(ReadIniString(utf16, L"Language", L"1033") == L"English");
  CHECK(ReadIniString(utf16, L"language", L"1025") == L"Arabic");
  CHECK(ReadIniString(utf16, L"Language", L"2057").empty());
  CHECK(ReadIniString(utf16, L"Missing", L"1033").empty());
  CHECK(ReadIniString(Path(dir.path() / "none.ini"), L"Language", L"1033").empty());

  IniSection table = {{L"STR_INSTALL", L"Install"}, {L"STR_START", L"Start"}};
  REQUIRE(ReadIniSection(utf16, L"Indonesian", table));
  CHECK(table.at(L"STR_INSTALL") == L"Pasang");
  CHECK(table.at(L"STR_HIDE") == L"Sembunyikan");
  CHECK(table.at(L"STR_START") == L"Start");
  CHECK(table.at(L"BARE").empty());
  CHECK(table.count(L"; comment") == 0);

  // An INI without sections has no section to give.
  IniSection none;
  CHECK_FALSE(ReadIniSection(Path(dir.path() / "plain.ini"), L"PRODUCT", none));
  CHECK(none.empty());
  CHECK(ReadIniString(Path(dir.path() / "plain.ini"), L"", L"k").empty());
  CHECK_FALSE(ReadIniSection(Path(dir.path() / "none.ini"), L"PRODUCT", none));
}
