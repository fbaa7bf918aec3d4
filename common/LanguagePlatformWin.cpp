#include <windows.h>

#include "common/LanguagePlatform.h"
#include "system/SystemUtils.h"

namespace {

constexpr WORD kAddressTableId = 107;

class CWindowsLanguagePlatform : public ILanguagePlatform {
 public:
  std::wstring GetUserUILanguage() override { return ::GetUserUILanguage(); }
  bool IsWindows64Bit() override { return ::IsWindows64Bit(); }
  bool LoadAddressTable(std::string& bytes) override {
    bytes.clear();
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(kAddressTableId), RT_RCDATA);
    if (!info) return false;
    const DWORD size = SizeofResource(module, info);
    HGLOBAL handle = LoadResource(module, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    if (!data || size == 0) return false;
    bytes.assign(static_cast<const char*>(data), size);
    return true;
  }
};

}  // namespace

ILanguagePlatform& GetDefaultLanguagePlatform() {
  static CWindowsLanguagePlatform platform;
  return platform;
}
