// The product's settings, web addresses, language and texts.
//
// Start-up, after the settings archive has been unpacked into the data
// folder + "language\\" (see ui/archive/ExtractZip.h):
//
//   m_langMgr.Init(m_strDataDir + L"language\\");   // language, settings, addresses, texts
//   m_langMgr.SetCustom(domainText);                 // after Init, which clears it
//
// Init reads "language.ini" (UI language id -> language name; an id it does
// not list takes a listed one of the same primary language, else English), the section
// "PRODUCT" of "productInfo.ini", the address table (resource 107, UTF-16
// INI) and the language's section of "text.ini" over the built-in English
// texts, then replaces the placeholders PRODUCT, COLOR and BRAND in every
// text. Afterwards the object is only read, without locks. Every missing key
// answers the empty string; nothing here fails or throws.
#pragma once

#include <map>
#include <string>

class ILanguagePlatform;

class LanguageManager {
 public:
  // The platform answers the UI language, the processor width and the
  // address table; null means the process's default platform.
  explicit LanguageManager(ILanguagePlatform* platform = nullptr);

  void Init(const std::wstring& folder);
  void SetCustom(const std::wstring& text) { m_strCustom = text; }

  std::wstring GetProductName() const { return Product(L"STR_PRODUCT_NAME"); }
  std::wstring GetBrandName() const;        // "Zelvane" when not set
  std::wstring GetLicenceColor() const { return Product(L"STR_LISENCE_COLOR"); }
  std::wstring GetGaTitle() const { return Product(L"STR_GA_TTTLE"); }
  std::wstring GetExeName() const { return Product(L"STR_EXE_NAME"); }
  std::wstring GetProductDir() const;       // "dir1\\dir2\\", parts left out when empty
  std::wstring GetProductExePath() const;   // GetProductDir() + executable name
  bool IsRunAsAdmin() const;                // false only for exactly "0"
  std::wstring GetProductSetting(const std::wstring& key) const { return Product(key); }

  std::wstring GetDownloadUrl() const;      // "STR_DOWN_URL_X64" on 64-bit systems, else "STR_DOWN_URL"
  std::wstring GetDownloadUrlEx() const;
  std::wstring GetInstallUrl() const;
  std::wstring GetLicenceUrl() const;
  std::wstring GetCarouselUrl() const;
  // A build's own carousel origin, in place of the product setting and the default.
  void SetCarouselOrigin(const std::wstring& origin) { m_strCarouselOrigin = origin; }
  int GetDownloadRatio() const { return 90; }
  int GetReadFileTimeout() const { return 1500; }

  const std::wstring& GetLanguageName() const { return m_strLanguage; }
  bool IsRtl() const { return m_bRtl; }
  std::wstring GetText(const std::wstring& key) const;
  const std::wstring& GetCustom() const { return m_strCustom; }

  // The steps of Init, in the order it runs them.
  void InitCurrentLanguage();
  void LoadProductInfo();
  void LoadUrlTable();
  void LoadTextTable();

 private:
  std::wstring Product(const std::wstring& key) const;
  std::wstring Url(const std::wstring& key) const;
  std::wstring FallbackLanguageName(const std::wstring& table, const std::wstring& id) const;

  std::map<std::wstring, std::wstring> m_mapText;
  std::map<std::wstring, std::wstring> m_mapUrl;
  std::map<std::wstring, std::wstring> m_mapProduct;
  std::wstring m_strFolder;
  std::wstring m_strLanguage;
  std::wstring m_strCustom;
  std::wstring m_strCarouselOrigin;
  bool m_bRtl = false;
  ILanguagePlatform* m_pPlatform;
};

// "url&custom=value" when custom is not empty and url contains "key=";
// empty for an empty url; url unchanged otherwise.
std::wstring AppendCustom(const std::wstring& url, const std::wstring& custom);

// The carousel API's HTTPS origin used by GetCarouselUrl unless the product
// settings name another one under "STR_CAROUSEL_HOST".
extern const wchar_t kCarouselApiOrigin[];
