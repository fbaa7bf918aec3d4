#include "common/LanguageManager.h"

#include <utility>
#include <vector>

#include "common/IniFile.h"
#include "common/LanguageFallback.h"
#include "common/LanguagePlatform.h"
#include "log/Log.h"
#include "system/Strings.h"

const wchar_t kCarouselApiOrigin[] = L"https://api.quillory.com";

namespace {

const wchar_t* const kBuiltInTexts[][2] = {
    {L"STR_INSTALL", L"Install"},
    {L"STR_BROWSE", L"Browse"},
    {L"STR_LISENCE", L"I've read and agreed to {c COLOR}BRAND License Agreement{/c}"},
    {L"STR_CUSTOMIZE_INSTALL", L"Customize Installation"},
    {L"STR_INSTALL_PATH", L"Installation Path"},
    {L"STR_SELECT_FOLDER", L"Select a location to install the program"},
    {L"STR_STORAGE", L"Insuficient storage. Storage required:"},
    {L"STR_PATH_INVALID", L"The installation path is invalid."},
    {L"STR_INSTALLING", L"Installing..."},
    {L"STR_HIDE", L"Hide"},
    {L"STR_MESSAGEBOX_TITLE", L"PRODUCT Setup"},
    {L"STR_NETWORK_ERROR", L"Network error. Please check your network settings."},
    {L"STR_PROXY_AUTH", L"The proxy server {proxy} asks for a user name and password. Please check your proxy settings."},
    {L"STR_OPERATE_TIP",
     L"Click Abort to cancel installation, Retry to try again, or Ignore to download via browser."},
    {L"STR_SOFT_RUN",
     L"PRODUCT is running. Continuing installation will forcely quit the program. Are you sure "
     L"to install?"},
    {L"STR_CLOSE_TIP1", L"Are you sure you want to quit?"},
    {L"STR_CLOSE_TIP2", L"Installation is in progress. Are you sure you want to quit?"},
    {L"STR_START", L"Start\u00A0Now"},
    {L"STR_MB", L"MB"},
    {L"STR_INSTALL_FAILED", L"The installation did not complete. Please try again."},
};

std::wstring Lookup(const std::map<std::wstring, std::wstring>& table, const std::wstring& key) {
  auto found = table.find(key);
  return found == table.end() ? std::wstring() : found->second;
}

}  // namespace

std::wstring AppendCustom(const std::wstring& url, const std::wstring& custom) {
  if (url.empty()) return std::wstring();
  if (!custom.empty() && url.find(L"key=") != std::wstring::npos) return url + L"&custom=" + custom;
  return url;
}

LanguageManager::LanguageManager(ILanguagePlatform* platform)
    : m_pPlatform(platform ? platform : &GetDefaultLanguagePlatform()) {}

void LanguageManager::Init(const std::wstring& folder) {
  m_strCustom.clear();
  m_bRtl = false;
  m_strFolder = folder;
  InitCurrentLanguage();
  LoadProductInfo();
  LoadUrlTable();
  LoadTextTable();
}

std::wstring LanguageManager::Product(const std::wstring& key) const {
  return Lookup(m_mapProduct, key);
}

std::wstring LanguageManager::Url(const std::wstring& key) const { return Lookup(m_mapUrl, key); }

std::wstring LanguageManager::GetText(const std::wstring& key) const {
  return Lookup(m_mapText, key);
}

std::wstring LanguageManager::GetBrandName() const {
  std::wstring brand = Product(L"STR_BRAND_NAME");
  return brand.empty() ? std::wstring(L"Zelvane") : brand;
}

std::wstring LanguageManager::GetProductDir() const {
  std::wstring dir;
  const std::wstring first = Product(L"STR_DIR1_NAME");
  const std::wstring second = Product(L"STR_DIR2_NAME");
  if (!first.empty()) dir += first + L"\\";
  if (!second.empty()) dir += second + L"\\";
  return dir;
}

std::wstring LanguageManager::GetProductExePath() const { return GetProductDir() + GetExeName(); }

bool LanguageManager::IsRunAsAdmin() const { return Product(L"STR_RUN_AS_ADMIN") != L"0"; }

std::wstring LanguageManager::GetDownloadUrl() const {
  return Url(m_pPlatform->IsWindows64Bit() ? L"STR_DOWN_URL_X64" : L"STR_DOWN_URL");
}

std::wstring LanguageManager::GetDownloadUrlEx() const {
  const std::wstring url = Url(L"STR_DOWN_URLEX");
  return url.empty() ? std::wstring() : AppendCustom(url, m_strCustom);
}

std::wstring LanguageManager::GetInstallUrl() const {
  return AppendCustom(Url(L"STR_INSTALL_URL"), m_strCustom);
}

std::wstring LanguageManager::GetLicenceUrl() const {
  return AppendCustom(Url(L"STR_LICENCE_URL"), m_strCustom);
}

std::wstring LanguageManager::GetCarouselUrl() const {
  std::wstring origin = m_strCarouselOrigin;
  if (origin.empty()) origin = Product(L"STR_CAROUSEL_HOST");
  if (origin.empty()) origin = kCarouselApiOrigin;
  return origin + L"/downloader/carousel?pid=" + Product(L"STR_PID") + L"&lang=" + m_strLanguage;
}

void LanguageManager::InitCurrentLanguage() {
  m_strLanguage = L"English";
  const std::wstring id = m_pPlatform->GetUserUILanguage();
  LOGW(kLog_Info, L"Language Code:%ls", id.c_str());
  const std::wstring table = m_strFolder + L"language.ini";
  std::wstring name = ReadIniString(table, L"Language", id);
  if (name.empty()) name = FallbackLanguageName(table, id);
  if (!name.empty()) m_strLanguage = name;
  if (m_strLanguage == L"Arabic" || m_strLanguage == L"Hebrew") m_bRtl = true;
}

// A language of the table for an id it does not list: the same primary
// language (Portuguese for Brazil, French for Canada, traditional Chinese for
// Hong Kong), else the empty text (English).
std::wstring LanguageManager::FallbackLanguageName(const std::wstring& table, const std::wstring& id) const {
  IniSection listed;
  ReadIniSection(table, L"Language", listed);
  std::vector<unsigned> ids;
  for (const auto& entry : listed)
    if (!entry.second.empty()) ids.push_back(ParseLanguageId(entry.first));
  const unsigned chosen = ChooseListedLanguage(ParseLanguageId(id), ids);
  for (const auto& entry : listed) {
    if (chosen != 0 && !entry.second.empty() && ParseLanguageId(entry.first) == chosen) {
      LOGW(kLog_Info, L"language id %ls not listed in language.ini: %ls of its primary language", id.c_str(),
           entry.second.c_str());
      return entry.second;
    }
  }
  LOGW(kLog_Info, L"language id %ls not listed in language.ini: English", id.c_str());
  return std::wstring();
}

void LanguageManager::LoadProductInfo() {
  if (!ReadIniSection(m_strFolder + L"productInfo.ini", L"PRODUCT", m_mapProduct))
    LOGA(kLog_Info, "productInfo.ini has no PRODUCT section: product settings are empty");
}

void LanguageManager::LoadUrlTable() {
  std::string bytes;
  if (!m_pPlatform->LoadAddressTable(bytes) || bytes.size() < 2) {
    LOGA(kLog_Info, "address table resource missing or empty");
    return;
  }
  // UTF-16 text without a terminator of its own; an odd last byte is dropped.
  // A byte-swapped mark (FE FF) means big-endian text.
  bytes.resize(bytes.size() & ~static_cast<std::size_t>(1));
  if (HasUtf16Bom(bytes.data(), bytes.size())) {
    const bool bigEndian = static_cast<unsigned char>(bytes[0]) == 0xFE;
    bytes.erase(0, 2);
    if (bigEndian)
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  }
  const IniTable table = ParseIniText(Utf16LeToWide(bytes));
  auto common = table.find(L"CommonUrl");
  if (common != table.end()) m_mapUrl = common->second;
  const std::wstring suffix = L"&pid=" + Product(L"STR_PID") + L"&lang=" + m_strLanguage;
  for (const wchar_t* key : {L"STR_LICENCE_URL", L"STR_INSTALL_URL", L"STR_DOWN_URLEX"}) {
    auto found = m_mapUrl.find(key);
    if (found != m_mapUrl.end()) found->second += suffix;
  }
  auto language = table.find(m_strLanguage);
  if (language != table.end())
    for (const auto& entry : language->second)
      if (!entry.second.empty()) m_mapUrl[entry.first] = entry.second;
}

void LanguageManager::LoadTextTable() {
  m_mapText.clear();
  for (const auto& text : kBuiltInTexts) m_mapText[text[0]] = text[1];
  if (!ReadIniSection(m_strFolder + L"text.ini", m_strLanguage, m_mapText))
    LOGW(kLog_Info, L"text.ini has no section %ls: built-in texts", m_strLanguage.c_str());
  const std::wstring product = GetProductName();
  const std::wstring color = GetLicenceColor();
  const std::wstring brand = GetBrandName();
  for (auto& entry : m_mapText) {
    ReplaceAll(entry.second, L"PRODUCT", product);
    ReplaceAll(entry.second, L"COLOR", color);
    ReplaceAll(entry.second, L"BRAND", brand);
  }
}
