// LanguageManager over the shipped settings and over small fixtures:
// language choice for every listed UI language and the fallback of unlisted
// ones to their primary language, texts and placeholders,
// product settings and the address builders.
#include <doctest/doctest.h>

#include <filesystem>

#include "common/IniFile.h"
#include "common/LanguageFallback.h"
#include "common/LanguageManager.h"
#include "common/LanguagePlatform.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

fs::path ShippedSettings() { return zvtest::SourceDir() / "resources" / "settings"; }
std::wstring Folder(const fs::path& p) { return Utf8ToWide(p.string() + "/"); }

std::string Utf16Le(const std::wstring& text) {
  std::string out = "\xFF\xFE";
  for (wchar_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return out;
}

const wchar_t* const kTextKeys[] = {
    L"STR_INSTALL",      L"STR_BROWSE",        L"STR_LISENCE",        L"STR_CUSTOMIZE_INSTALL",
    L"STR_INSTALL_PATH", L"STR_SELECT_FOLDER", L"STR_STORAGE",        L"STR_PATH_INVALID",
    L"STR_INSTALLING",   L"STR_HIDE",          L"STR_MESSAGEBOX_TITLE", L"STR_NETWORK_ERROR",
    L"STR_OPERATE_TIP",  L"STR_SOFT_RUN",      L"STR_CLOSE_TIP1",     L"STR_CLOSE_TIP2",
    L"STR_START",        L"STR_MB",
    L"STR_CONNECTING",   L"STR_DOWNLOADED",    L"STR_SPEED",          L"STR_LEFT_FEW_SECONDS",
    L"STR_LEFT_SECONDS", L"STR_LEFT_MINUTES",  L"STR_LEFT_HOURS"};

// A settings folder of its own: language.ini, productInfo.ini, text.ini.
struct Fixture {
  zvtest::TempDir dir{"language"};
  CStaticLanguagePlatform platform;
  void Write(const char* name, const std::wstring& text) {
    zvtest::WriteFile(dir.path() / name, Utf16Le(text));
  }
  void AddressTable(const std::wstring& text) {
    platform.hasAddressTable = true;
    platform.addressTable = Utf16Le(text);
  }
  LanguageManager Load(const wchar_t* uiLanguage = L"1033") {
    platform.uiLanguage = uiLanguage;
    LanguageManager manager(&platform);
    manager.Init(Folder(dir.path()));
    return manager;
  }
};

}  // namespace

TEST_CASE("every listed UI language id picks its language; others give English") {
  struct {
    const wchar_t* id;
    const wchar_t* name;
  } table[] = {
      {L"1033", L"English"},   {L"2052", L"Chinese"},    {L"1028", L"ChineseTW"},
      {L"1043", L"Dutch"},     {L"1036", L"French"},     {L"1031", L"German"},
      {L"1040", L"Italian"},   {L"1066", L"Vietnamese"}, {L"1032", L"Greek"},
      {L"1055", L"Turkey"},    {L"1041", L"Japanese"},   {L"3082", L"Spanish"},
      {L"2070", L"Portuguese"}, {L"1042", L"Korean"},    {L"1025", L"Arabic"},
      {L"1054", L"Thai"},      {L"1057", L"Indonesian"}, {L"1086", L"Malaysian"},
      {L"1051", L"Slovak"},    {L"1048", L"Romanian"},   {L"1045", L"Polish"},
      {L"1049", L"Russian"},   {L"1044", L"Norwegian"},  {L"1030", L"Danish"},
      {L"2108", L"Irish"},     {L"1035", L"Finnish"},    {L"1029", L"Czech"},
      {L"1053", L"Swedish"},   {L"1037", L"Hebrew"},
      // English (United Kingdom) and nonsense; the other unlisted ids
      // fall back to their primary language (below).
      {L"2057", L"English"},   {L"0", L"English"},
      {L"", L"English"},
  };
  const std::wstring settings = Folder(ShippedSettings());
  const std::wstring textFile = settings + L"text.ini";
  CStaticLanguagePlatform platform;
  LanguageManager english(&platform);
  english.Init(settings);
  for (const auto& row : table) {
    CAPTURE(WideToUtf8(row.id));
    platform.uiLanguage = row.id;
    LanguageManager manager(&platform);
    manager.Init(settings);
    CHECK(manager.GetLanguageName() == row.name);
    const bool rtl = std::wstring(row.name) == L"Arabic" || std::wstring(row.name) == L"Hebrew";
    CHECK(manager.IsRtl() == rtl);
    for (const wchar_t* key : kTextKeys) {
      CAPTURE(WideToUtf8(key));
      const std::wstring text = manager.GetText(key);
      CHECK_FALSE(text.empty());
      CHECK(text.find(L"PRODUCT") == std::wstring::npos);
      CHECK(text.find(L"BRAND") == std::wstring::npos);
      CHECK(text.find(L"COLOR") == std::wstring::npos);
    }
    // The language's own translation is in force (not the English one).
    std::wstring own = ReadIniString(textFile, row.name, L"STR_INSTALL");
    CHECK_FALSE(own.empty());
    CHECK(manager.GetText(L"STR_INSTALL") == own);
    if (std::wstring(row.name) != L"English")
      CHECK(manager.GetText(L"STR_CLOSE_TIP1") != english.GetText(L"STR_CLOSE_TIP1"));
  }
}

TEST_CASE("shipped settings: product values, texts with placeholders, addresses") {
  CStaticLanguagePlatform platform;
  platform.addressTable = zvtest::ReadFile(zvtest::SourceDir() / "resources" / "url.ini");
  platform.hasAddressTable = !platform.addressTable.empty();
  LanguageManager manager(&platform);
  manager.Init(Folder(ShippedSettings()));
  manager.SetCustom(L"com_english");
  CHECK(manager.GetProductName() == L"Quillory");
  CHECK(manager.GetBrandName() == L"Quillory");
  CHECK(manager.GetExeName() == L"Quillory.exe");
  CHECK(manager.GetProductExePath() == L"Quillory\\Quillory\\Quillory.exe");
  CHECK(manager.IsRunAsAdmin());
  CHECK(manager.GetGaTitle() == L"Quillory Quillory");
  CHECK(manager.GetText(L"STR_LISENCE") ==
        L"I've read and agreed to {c #524CF5}Quillory License Agreement{/c}");
  CHECK(manager.GetText(L"STR_MESSAGEBOX_TITLE") == L"Quillory Setup");
  CHECK(manager.GetText(L"STR_START") == L"Start\u00A0Now");
  CHECK(manager.GetDownloadRatio() == 90);
  CHECK(manager.GetReadFileTimeout() == 1500);

  const std::wstring licence = manager.GetLicenceUrl();
  CHECK(licence.rfind(L"https://", 0) == 0);
  const std::wstring tail = L"/producturl?key=license_agreement&pid=300531&lang=English&custom=com_english";
  REQUIRE(licence.size() > tail.size());
  CHECK(licence.substr(licence.size() - tail.size()) == tail);
  const std::wstring install = manager.GetInstallUrl();
  CHECK(install.find(L"?key=installed&pid=300531&lang=English&custom=com_english") != std::wstring::npos);
  const std::wstring download = manager.GetDownloadUrl();
  CHECK(download.rfind(L"https://", 0) == 0);
  CHECK(download.find(L"/quillory/quillory.exe") != std::wstring::npos);
  CHECK(download.find(L"custom=") == std::wstring::npos);
  CHECK(manager.GetDownloadUrlEx().empty());
  CHECK(manager.GetCarouselUrl() ==
        std::wstring(kCarouselApiOrigin) + L"/downloader/carousel?pid=300531&lang=English");
}

TEST_CASE("address builders") {
  const std::wstring common =
      L"[CommonUrl]\r\n"
      L"STR_DOWN_URL=https://dl.example/p32.exe\r\n"
      L"STR_DOWN_URL_X64=https://dl.example/p64.exe\r\n"
      L"STR_LICENCE_URL=https://www.example/producturl?key=license_agreement\r\n"
      L"STR_INSTALL_URL=https://www.example/producturl?key=installed\r\n";
  struct Case {
    const char* what;
    std::wstring table;
    const wchar_t* uiLanguage;
    bool is64;
    const wchar_t* custom;
    const wchar_t* download;
    const wchar_t* downloadEx;
    const wchar_t* licence;
    const wchar_t* install;
  } cases[] = {
      {"common table, 64-bit", common, L"1033", true, L"com_english", L"https://dl.example/p64.exe", L"",
       L"https://www.example/producturl?key=license_agreement&pid=7&lang=English&custom=com_english",
       L"https://www.example/producturl?key=installed&pid=7&lang=English&custom=com_english"},
      {"32-bit, no custom value", common, L"1036", false, L"", L"https://dl.example/p32.exe", L"",
       L"https://www.example/producturl?key=license_agreement&pid=7&lang=French",
       L"https://www.example/producturl?key=installed&pid=7&lang=French"},
      {"language section: empty keeps common, non-empty replaced as written",
       common + L"[French]\r\nSTR_LICENCE_URL=\r\nSTR_INSTALL_URL=https://fr.example/ok?key=fr\r\n"
                L"STR_DOWN_URL_X64=https://fr.example/p.exe\r\n",
       L"1036", true, L"c", L"https://fr.example/p.exe", L"",
       L"https://www.example/producturl?key=license_agreement&pid=7&lang=French&custom=c",
       L"https://fr.example/ok?key=fr&custom=c"},
      {"extended download address, language section without key=",
       common + L"STR_DOWN_URLEX=https://www.example/producturl?key=pkg_url\r\n[English]\r\n"
                L"STR_INSTALL_URL=https://en.example/done\r\n",
       L"1033", true, L"x", L"https://dl.example/p64.exe",
       L"https://www.example/producturl?key=pkg_url&pid=7&lang=English&custom=x",
       L"https://www.example/producturl?key=license_agreement&pid=7&lang=English&custom=x",
       L"https://en.example/done"},
      {"64-bit system without the 64-bit address",
       L"\uFEFF[CommonUrl]\nSTR_DOWN_URL=https://dl.example/p32.exe\n", L"1033", true, L"x", L"", L"",
       L"", L""},
      {"commented and blank-padded lines",
       L"[CommonUrl]\n  ;STR_DOWN_URL_X64=https://no\n  STR_DOWN_URL_X64 = https://yes.example/a.exe \n",
       L"1033", true, L"", L"https://yes.example/a.exe", L"", L"", L""},
  };
  for (const Case& c : cases) {
    CAPTURE(c.what);
    Fixture fixture;
    fixture.Write("language.ini", L"[Language]\r\n1033=English\r\n1036=French\r\n");
    fixture.Write("productInfo.ini", L"[PRODUCT]\r\nSTR_PID=7\r\n");
    // The table is given without a byte-order mark, apart from the case that writes one.
    fixture.platform.hasAddressTable = true;
    fixture.platform.addressTable = Utf16Le(c.table).substr(2);
    fixture.platform.is64Bit = c.is64;
    LanguageManager manager = fixture.Load(c.uiLanguage);
    manager.SetCustom(c.custom);
    CHECK(manager.GetDownloadUrl() == c.download);
    CHECK(manager.GetDownloadUrlEx() == c.downloadEx);
    CHECK(manager.GetLicenceUrl() == c.licence);
    CHECK(manager.GetInstallUrl() == c.install);
    CHECK(manager.GetCustom() == c.custom);
  }

  CHECK(AppendCustom(L"", L"x").empty());
  CHECK(AppendCustom(L"https://a/b?key=1", L"") == L"https://a/b?key=1");
  CHECK(AppendCustom(L"https://a/b?Key=1", L"x") == L"https://a/b?Key=1");

  // No address table at all: every address but the carousel's is empty.
  Fixture bare;
  LanguageManager manager = bare.Load();
  manager.SetCustom(L"x");
  CHECK(manager.GetDownloadUrl().empty());
  CHECK(manager.GetLicenceUrl().empty());
  CHECK(manager.GetInstallUrl().empty());
  CHECK(manager.GetCarouselUrl() == std::wstring(kCarouselApiOrigin) + L"/downloader/carousel?pid=&lang=English");
}

TEST_CASE("product settings") {
  struct {
    const wchar_t* runAsAdmin;
    bool expected;
  } admin[] = {{L"1", true}, {L"yes", true}, {L"00", true}, {L"", true}, {nullptr, true}, {L"0", false}};
  for (const auto& row : admin) {
    Fixture fixture;
    std::wstring product = L"[PRODUCT]\r\n";
    if (row.runAsAdmin) product += std::wstring(L"STR_RUN_AS_ADMIN=") + row.runAsAdmin + L"\r\n";
    fixture.Write("productInfo.ini", product);
    CHECK(fixture.Load().IsRunAsAdmin() == row.expected);
  }
  struct {
    const wchar_t* dir1;
    const wchar_t* dir2;
    const wchar_t* dir;
    const wchar_t* exePath;
  } dirs[] = {{L"A", L"B", L"A\\B\\", L"A\\B\\p.exe"},
              {L"", L"B", L"B\\", L"B\\p.exe"},
              {L"A", L"", L"A\\", L"A\\p.exe"},
              {L"", L"", L"", L"p.exe"}};
  for (const auto& row : dirs) {
    Fixture fixture;
    fixture.Write("productInfo.ini", std::wstring(L"[PRODUCT]\nSTR_EXE_NAME=p.exe\nSTR_DIR1_NAME=") +
                                         row.dir1 + L"\nSTR_DIR2_NAME=" + row.dir2 + L"\n");
    LanguageManager manager = fixture.Load();
    CHECK(manager.GetProductDir() == row.dir);
    CHECK(manager.GetProductExePath() == row.exePath);
  }
  Fixture carousel;
  carousel.Write("productInfo.ini", L"[PRODUCT]\nSTR_PID=5\nSTR_CAROUSEL_HOST=https://127.0.0.1:8443\n");
  CHECK(carousel.Load().GetCarouselUrl() == L"https://127.0.0.1:8443/downloader/carousel?pid=5&lang=English");
}

TEST_CASE("text table: fallbacks and placeholder passes") {
  SUBCASE("no settings files: built-in English with placeholders replaced") {
    Fixture fixture;
    LanguageManager manager = fixture.Load(L"1025");
    CHECK(manager.GetLanguageName() == L"English");
    CHECK_FALSE(manager.IsRtl());
    CHECK(manager.GetBrandName() == L"Zelvane");
    CHECK(manager.GetText(L"STR_MESSAGEBOX_TITLE") == L" Setup");
    CHECK(manager.GetText(L"STR_LISENCE") ==
          L"I've read and agreed to {c }Zelvane License Agreement{/c}");
    CHECK(manager.GetText(L"STR_STORAGE") == L"Insuficient storage. Storage required:");
    CHECK(manager.GetText(L"STR_NOT_A_KEY").empty());
    CHECK(manager.GetText(L"STR_NOT_A_KEY").empty());
  }
  SUBCASE("a section with one key, placeholder order, PRODUCTION") {
    Fixture fixture;
    fixture.Write("language.ini", L"[Language]\r\n1031=German\r\n");
    fixture.Write("productInfo.ini",
                  L"[PRODUCT]\r\nSTR_PRODUCT_NAME=My BRAND\r\nSTR_BRAND_NAME=Acme\r\n"
                  L"STR_LISENCE_COLOR=#PRODUCT\r\n");
    fixture.Write("text.ini", L"[German]\r\nSTR_INSTALL=Installieren\r\nSTR_EXTRA=PRODUCTION COLOR\r\n");
    LanguageManager manager = fixture.Load(L"1031");
    CHECK(manager.GetText(L"STR_INSTALL") == L"Installieren");
    CHECK(manager.GetText(L"STR_HIDE") == L"Hide");
    CHECK(manager.GetText(L"STR_MESSAGEBOX_TITLE") == L"My Acme Setup");
    CHECK(manager.GetText(L"STR_EXTRA") == L"My AcmeION #PRODUCT");
  }
  SUBCASE("a lower-case language name is left to right") {
    Fixture fixture;
    fixture.Write("language.ini", L"[Language]\r\n1025=arabic\r\n1037=Hebrew\r\n");
    LanguageManager arabic = fixture.Load(L"1025");
    CHECK(arabic.GetLanguageName() == L"arabic");
    CHECK_FALSE(arabic.IsRtl());
    CHECK(fixture.Load(L"1037").IsRtl());
  }
  SUBCASE("language.ini without sections gives English") {
    Fixture fixture;
    fixture.Write("language.ini", L"1036=French\r\n");
    CHECK(fixture.Load(L"1036").GetLanguageName() == L"English");
  }
}

// ---------------------------------------------------------------------------
// A UI language that language.ini does not list exactly: its primary
// language before English, with Chinese split by script.

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
    manager.Init(Folder(ShippedSettings()));
    CHECK(manager.GetLanguageName() == row.name);
    CHECK(manager.IsRtl() == (std::wstring(row.name) == L"Arabic"));
    // The texts of the language chosen, not the built-in English ones.
    CHECK(manager.GetText(L"STR_INSTALL") ==
          ReadIniString(Folder(ShippedSettings()) + L"text.ini", row.name, L"STR_INSTALL"));
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
  Fixture f;
  f.Write("language.ini", L"[Language]\r\n0x416=Hex\r\n2070=\r\n 3082 = Spanish \r\nabc=Junk\r\n1036=French\r\n");
  struct {
    const wchar_t* id;
    const wchar_t* name;
  } table[] = {{L"1046", L"English"}, {L"2058", L"Spanish"}, {L"3084", L"French"}, {L"1033", L"English"}};
  for (const auto& row : table) {
    CAPTURE(WideToUtf8(row.id));
    CHECK(f.Load(row.id).GetLanguageName() == row.name);
  }
}
