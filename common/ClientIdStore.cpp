#include "common/ClientIdStore.h"

#include <windows.h>
#include <objbase.h>

#include "common/ClientId.h"
#include "log/Log.h"
#include "system/Strings.h"

const wchar_t kClientIdKey[] = L"SOFTWARE\\WOW6432Node\\Zelvane\\ZelvaneDown";

namespace {

constexpr DWORD kMaxValueBytes = 2048;

std::wstring NewClientId() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return std::wstring();
  return Utf8ToWide(FormatClientId(guid.Data1, guid.Data2, guid.Data3, guid.Data4));
}

}  // namespace

std::wstring ReadOrCreateClientId(const std::wstring& keyPath) {
  size_t slash = keyPath.rfind(L'\\');
  if (slash != std::wstring::npos) {
    HKEY parent = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.substr(0, slash).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | KEY_WOW64_64KEY, nullptr, &parent, nullptr) == ERROR_SUCCESS)
      RegCloseKey(parent);
  }
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                      &disposition) != ERROR_SUCCESS) {
    LOGA(kLog_Info, "client id key cannot be created or opened");
    return std::wstring();
  }
  if (disposition == REG_OPENED_EXISTING_KEY) {
    std::string data(kMaxValueBytes, '\0');
    DWORD type = 0;
    DWORD size = kMaxValueBytes;
    LONG status = RegQueryValueExW(key, L"GUID", nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
    if (status == ERROR_SUCCESS && type == REG_SZ) {
      data.resize(size);
      std::wstring id = ClientIdFromRegistryData(data);
      if (IsValidClientId(WideToUtf8(id))) {
        RegCloseKey(key);
        return id;
      }
    }
    LOGA(kLog_Info, "stored client id missing or malformed (status %ld, type %lu), replacing it",
         static_cast<long>(status), static_cast<unsigned long>(type));
  }
  std::wstring id = NewClientId();
  if (!id.empty()) {
    DWORD bytes = static_cast<DWORD>((id.size() + 1) * sizeof(wchar_t));  // with the terminator
    if (RegSetValueExW(key, L"GUID", 0, REG_SZ, reinterpret_cast<const BYTE*>(id.c_str()), bytes) != ERROR_SUCCESS)
      LOGA(kLog_Info, "client id could not be stored");
  }
  RegCloseKey(key);
  return id;
}
