// A UI language that language.ini does not list exactly: its primary
// language before English, with Chinese split by script.
#include <doctest/doctest.h>

#include "common/IniFile.h"
#include "common/LanguageFallback.h"
#include "common/LanguageManager.h"
#include "common/LanguagePlatform.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"

namespace {

std::wstring ShippedSettings() {
  return Utf8ToWide((zvtest::SourceDir() / "resources" / "settings").string() + "/");
}

std::string Utf16Le(const std::wstring& text) {
  std::string out = "\xFF\xFE";
  for (wchar_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return out;
}

}  // namespace

TEST_CASE("shipped settings: unlisted UI language ids fall back to their primary language") {
  struct {
    const wchar_t* id;
    const wchar_t* name;
    const char* what;
  } table[] = {
      {L"1046", L"Portuguese", "Portuguese (Brazil)"},
      {L"3084", L"French", "French (Canada)"},
      {L"4108", L"French", "French (Switzerland)"},
      {L"2058", L"Spanish", "Spanish (Mexico)"},
      {L"1034", L"Spanish", "Spanish (Spain, traditional sort)"},
      {L"3076", L"ChineseTW", "Chinese (Hong Kong)"},
      {L"5124", L"ChineseTW", "Chinese (Macau)"},
      {L"31748", L"ChineseTW", "Chinese (Traditional, neutral)"},
      {L"4100", L"Chinese", "Chinese (Singapore)"},
      {L"4", L"Chinese", "Chinese (Simplified, neutral)"},
      {L"2049", L"Arabic", "Arabic (Iraq)"},
      {L"2068", L"Norwegian", "Norwegian (Nynorsk)"},
      {L"3079", L"German", "German (Austria)"},
      {L"2057", L"English", "English (United Kingdom)"},
      {L"1050", L"English", "Croatian: no language of its primary"},
      {L"1033", L"English", "English (United States), listed"},
      {L"1036", L"French", "French (France), listed"},
      {L"0", L"English", "zero"},
      {L"", L"English", "empty"},
      {L"65536", L"English", "beyond 16 bits"},
      {L"3084x", L"English", "not a number"},
  };
  CStaticLanguagePlatform platform;
  for (const auto& row : table) {
    CAPTURE(row.what);
    platform.uiLanguage = row.id;
    LanguageManager manager(&platform);
    manager.Init(ShippedSettings());
    CHECK(manager.GetLanguageName() == row.name);
    CHECK(manager.IsRtl() == (std::wstring(row.name) == L"Arabic"));
    // The texts of the language chosen, not the built-in English ones.
    CHECK(manager.GetText(L"STR_INSTALL") ==
          ReadIniString(ShippedSettings() + L"text.ini", row.name, L"STR_INSTALL"));
  }
}

TEST_CASE("the stand-in among several listed ids of one primary language") {
  struct {
    unsigned id;
    std::vector<unsigned> listed;
    unsigned chosen;
    const char* what;
  } table[] = {
      {3076, {2052, 1028}, 1028, "Hong Kong reads traditional characters"},
      {4100, {1028, 2052}, 2052, "Singapore reads simplified characters"},
      {3076, {2052}, 2052, "no traditional Chinese: simplified before English"},
      {4100, {1028}, 1028, "no simplified Chinese: traditional before English"},
      {2058, {3082, 1034}, 1034, "the default sublanguage first"},
      {2058, {11274, 3082}, 3082, "then the lowest id"},
      {2058, {1033, 1036}, 0, "no Spanish at all: none"},
      {1046, {2070, 1046}, 1046, "an exact entry wins"},
      {0, {1033}, 0, "no id"},
  };
  for (const auto& row : table) {
    CAPTURE(row.what);
    CHECK(ChooseListedLanguage(row.id, row.listed) == row.chosen);
  }
}

TEST_CASE("a language table with junk keys and empty names") {
  zvtest::TempDir dir{"fallback"};
  zvtest::WriteFile(dir.path() / "language.ini",
                    Utf16Le(L"[Language]\r\n0x416=Hex\r\n2070=\r\n 3082 = Spanish \r\nabc=Junk\r\n1036=French\r\n"));
  CStaticLanguagePlatform platform;
  const std::wstring folder = Utf8ToWide(dir.path().string() + "/");
  struct {
    const wchar_t* id;
    const wchar_t* name;
  } table[] = {{L"1046", L"English"}, {L"2058", L"Spanish"}, {L"3084", L"French"}, {L"1033", L"English"}};
  for (const auto& row : table) {
    CAPTURE(WideToUtf8(row.id));
    platform.uiLanguage = row.id;
    LanguageManager manager(&platform);
    manager.Init(folder);
    CHECK(manager.GetLanguageName() == row.name);
  }
}
