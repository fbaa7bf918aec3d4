// Reads the shipped settings files through the platform's profile reader, as
// the installer does after unpacking them: language.ini (ASCII), and
// productInfo.ini and text.ini (UTF-16LE with byte-order mark).
#include <windows.h>

#include <doctest/doctest.h>

#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

std::wstring SettingsFile(const wchar_t* name) {
  const wchar_t* src = _wgetenv(L"ZV_SOURCE_DIR");
  REQUIRE(src != nullptr);
  std::wstring path = src;
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  if (!path.empty() && path[0] == L'\\') path = L"Z:" + path;  // Wine's drive for the Unix root
  return path + L"\\resources\\settings\\" + name;
}

// The entries of one section, split at the first "=" without trimming, as
// the installer's section reader does; `units` receives the reader's count.
std::map<std::wstring, std::wstring> Section(const std::wstring& file, const wchar_t* section,
                                             DWORD* units = nullptr) {
  std::vector<wchar_t> buf(4096, 0);
  DWORD n = GetPrivateProfileSectionW(section, buf.data(), static_cast<DWORD>(buf.size()), file.c_str());
  if (units) *units = n;
  std::map<std::wstring, std::wstring> out;
  for (const wchar_t* p = buf.data(); *p; p += wcslen(p) + 1) {
    std::wstring entry = p;
    size_t eq = entry.find(L'=');
    out[entry.substr(0, eq)] = eq == std::wstring::npos ? L"" : entry.substr(eq + 1);
  }
  return out;
}

const std::vector<std::pair<int, std::wstring>> kLanguages = {
    {1033, L"English"},    {2052, L"Chinese"},   {1028, L"ChineseTW"},  {1043, L"Dutch"},
    {1036, L"French"},     {1031, L"German"},    {1040, L"Italian"},    {1066, L"Vietnamese"},
    {1032, L"Greek"},      {1055, L"Turkey"},    {1041, L"Japanese"},   {3082, L"Spanish"},
    {2070, L"Portuguese"}, {1042, L"Korean"},    {1025, L"Arabic"},     {1054, L"Thai"},
    {1057, L"Indonesian"}, {1086, L"Malaysian"}, {1051, L"Slovak"},     {1048, L"Romanian"},
    {1045, L"Polish"},     {1049, L"Russian"},   {1044, L"Norwegian"},  {1030, L"Danish"},
    {2108, L"Irish"},      {1035, L"Finnish"},   {1029, L"Czech"},      {1053, L"Swedish"},
    {1037, L"Hebrew"}};

const wchar_t* const kTextKeys[] = {
    L"STR_INSTALL",      L"STR_BROWSE",        L"STR_LISENCE",       L"STR_CUSTOMIZE_INSTALL",
    L"STR_INSTALL_PATH", L"STR_SELECT_FOLDER", L"STR_STORAGE",       L"STR_PATH_INVALID",
    L"STR_INSTALLING",   L"STR_HIDE",          L"STR_MESSAGEBOX_TITLE", L"STR_NETWORK_ERROR",
    L"STR_PROXY_AUTH",
    L"STR_OPERATE_TIP",  L"STR_SOFT_RUN",      L"STR_CLOSE_TIP1",    L"STR_CLOSE_TIP2",
    L"STR_START",        L"STR_INSTALL_FAILED"};

}  // namespace

TEST_CASE("language.ini maps every listed UI language id to its name, and nothing else") {
  const std::wstring file = SettingsFile(L"language.ini");
  for (const auto& [id, name] : kLanguages) {
    wchar_t buf[256] = {};
    GetPrivateProfileStringW(L"Language", std::to_wstring(id).c_str(), L"", buf, 256, file.c_str());
    CHECK_MESSAGE(std::wstring(buf) == name, "id " << id);
  }
  for (int unlisted : {2057, 1046, 0}) {
    wchar_t buf[256] = {};
    CHECK(GetPrivateProfileStringW(L"Language", std::to_wstring(unlisted).c_str(), L"", buf, 256,
                                   file.c_str()) == 0);
  }
}

TEST_CASE("productInfo.ini reads as UTF-16 with the product settings") {
  auto product = Section(SettingsFile(L"productInfo.ini"), L"PRODUCT");
  CHECK(product.size() == 10);
  CHECK(product[L"STR_PRODUCT_NAME"] == L"Quillory");
  CHECK(product[L"STR_BRAND_NAME"] == L"Quillory");
  CHECK(product[L"STR_LISENCE_COLOR"] == L"#524CF5");
  CHECK(product[L"STR_EXE_NAME"] == L"Quillory.exe");
  CHECK(product[L"STR_RUN_AS_ADMIN"] == L"1");
  CHECK(product[L"STR_PID"] == L"300531");
  CHECK(product[L"STR_PUBLISHER"] == L"Quillory Software");
}

TEST_CASE("text.ini gives every language all its keys, whole and in its own script") {
  const std::wstring file = SettingsFile(L"text.ini");
  for (const auto& [id, name] : kLanguages) {
    CAPTURE(id);
    DWORD units = 0;
    auto texts = Section(file, name.c_str(), &units);
    CHECK_MESSAGE(units < 4096 - 2, "section cut short by the reader");  // n = size - 2 on overflow
    bool mb = name == L"Arabic" || name == L"Indonesian" || name == L"Malaysian" || name == L"Russian";
    CHECK(texts.size() == std::size(kTextKeys) + (mb ? 1 : 0));
    for (const wchar_t* key : kTextKeys) {
      CAPTURE(std::string(key, key + wcslen(key)));
      CHECK(!texts[key].empty());
    }
  }
  auto english = Section(file, L"English");
  CHECK(english[L"STR_START"] == L"Start\u00a0Now");
  CHECK(english[L"STR_MESSAGEBOX_TITLE"] == L"PRODUCT Setup");
  CHECK(Section(file, L"Chinese")[L"STR_INSTALL"] == L"\u7acb\u5373\u5b89\u88c5");
  CHECK(Section(file, L"Hebrew")[L"STR_INSTALL"] == L"\u05d4\u05ea\u05e7\u05e0\u05d4");
  CHECK(Section(file, L"Arabic")[L"STR_MB"] == L"\u0645\u064a\u063a\u0627\u0628\u0627\u064a\u062a");
  // Written with blanks around "=", read with them removed.
  CHECK(Section(file, L"Indonesian")[L"STR_INSTALL"] == L"Instal");
  CHECK(Section(file, L"Malaysian")[L"STR_INSTALL"] == L"Pasang");
}
