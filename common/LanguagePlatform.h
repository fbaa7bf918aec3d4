// What the LanguageManager asks of the platform: the user's UI language, the
// processor width and the address table resource.
#pragma once

#include <string>

class ILanguagePlatform {
 public:
  virtual ~ILanguagePlatform() = default;
  // The user's default UI language id in decimal, e.g. "1033".
  virtual std::wstring GetUserUILanguage() = 0;
  virtual bool IsWindows64Bit() = 0;
  // The bytes of the address table (RT_RCDATA 107); false when missing.
  virtual bool LoadAddressTable(std::string& bytes) = 0;
};

// Fixed answers: for tests and for platforms without the Windows resources.
class CStaticLanguagePlatform : public ILanguagePlatform {
 public:
  std::wstring uiLanguage = L"1033";
  bool is64Bit = true;
  bool hasAddressTable = false;
  std::string addressTable;

  std::wstring GetUserUILanguage() override { return uiLanguage; }
  bool IsWindows64Bit() override { return is64Bit; }
  bool LoadAddressTable(std::string& bytes) override {
    bytes = addressTable;
    return hasAddressTable;
  }
};

// Windows: GetUserDefaultUILanguage, the processor architecture and the
// executable's resource 107. Elsewhere: English, 64-bit, no address table.
ILanguagePlatform& GetDefaultLanguagePlatform();
