#include "SystemUtils.h"

#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::wstring BaseNameWithoutExtension(const std::wstring& path) {
  std::wstring name = GetFileNameFromPath(path);
  std::size_t dot = name.find_last_of(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

bool ReadVersionResource(const std::wstring& path, std::vector<unsigned char>& data) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return false;
  data.assign(size, 0);
  return GetFileVersionInfoW(path.c_str(), 0, size, data.data()) != 0;
}

std::string WideToCodePage(UINT codePage, const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

std::wstring CodePageToWide(UINT codePage, const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

}  // namespace

std::wstring GetModuleFilePath() {
  wchar_t buffer[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::wstring(buffer, n);
}

std::wstring GetModuleFolder() {
  std::wstring path = GetModuleFilePath();
  std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring GetProgramDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE)) return L"\\";
  return std::wstring(buffer) + L"\\";
}

std::wstring GetDataFolder() {
  return GetProgramDirectory() + L"zelvane_down\\" + BaseNameWithoutExtension(GetModuleFilePath()) +
         L"\\";
}

std::wstring GetWindowsProductName() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                    KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
    return std::wstring();
  wchar_t buffer[1024] = {};
  DWORD bytes = sizeof(buffer);
  DWORD type = 0;
  LONG rc = RegQueryValueExW(key, L"ProductName", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                             &bytes);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::wstring();
  // The stored value need not be terminated: end at the size returned.
  std::wstring name(buffer, bytes / sizeof(wchar_t));
  while (!name.empty() && name.back() == L'\0') name.pop_back();
  return name;
}

bool IsWindows64Bit() {
  using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto fn = kernel ? reinterpret_cast<GetNativeSystemInfoFn>(
                         reinterpret_cast<void*>(GetProcAddress(kernel, "GetNativeSystemInfo")))
                   : nullptr;
  if (!fn) return false;
  SYSTEM_INFO info = {};
  fn(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

std::wstring GetUserUILanguage() {
  wchar_t buffer[16];
  std::swprintf(buffer, 16, L"%d", static_cast<int>(GetUserDefaultUILanguage()));
  return buffer;
}

bool GetFreeSize(const std::wstring& path, uint32_t& freeMiB) {
  ULARGE_INTEGER available, total, totalFree;
  if (!GetDiskFreeSpaceExW(path.c_str(), &available, &total, &totalFree)) return false;
  freeMiB = static_cast<uint32_t>(totalFree.QuadPart >> 20);
  return true;
}

std::wstring GetFileVersion(const std::wstring& path) {
  std::vector<unsigned char> data;
  if (!ReadVersionResource(path, data)) return std::wstring();
  void* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &translation, &length) ||
      length == 0)
    return std::wstring();
  VS_FIXEDFILEINFO* info = nullptr;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO))
    return std::wstring();
  wchar_t buffer[64];
  std::swprintf(buffer, 64, L"%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
                static_cast<int>(LOWORD(info->dwFileVersionMS)),
                static_cast<int>(HIWORD(info->dwFileVersionLS)),
                static_cast<int>(LOWORD(info->dwFileVersionLS)));
  return buffer;
}

std::wstring GetFileDescription(const std::wstring& path) {
  std::vector<unsigned char> data;
  if (!ReadVersionResource(path, data)) return std::wstring();
  void* root = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", &root, &length)) return std::wstring();
  wchar_t* text = nullptr;
  if (!VerQueryValueW(data.data(), L"\\StringFileInfo\\040904b0\\FileDescription",
                      reinterpret_cast<void**>(&text), &length) ||
      !text || length == 0)
    return std::wstring();
  std::wstring value(text, length);
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return value;
}

std::string GetFileMd5(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string result;
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
    bool ok = true;
    BYTE chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
      if (!CryptHashData(hash, chunk, got, 0)) {
        ok = false;
        break;
      }
    }
    BYTE digest[16];
    DWORD digestLength = sizeof(digest);
    if (ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &digestLength, 0) && digestLength == 16) {
      static const char kHex[] = "0123456789abcdef";
      for (BYTE b : digest) {
        result.push_back(kHex[b >> 4]);
        result.push_back(kHex[b & 15]);
      }
    }
  }
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  CloseHandle(file);
  return result;
}

bool IsFileExist(const std::wstring& path) {
  FILE* f = _wfopen(path.c_str(), L"r");
  if (!f) return false;
  std::fclose(f);
  // The C runtime opens folders too; a folder is not a file.
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FindProcess(const std::wstring& exeName, uint32_t& pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (CompareStringW(LOCALE_USER_DEFAULT, 0, entry.szExeFile, -1, exeName.c_str(), -1) ==
        CSTR_EQUAL) {
      pid = entry.th32ProcessID;
      found = true;
      break;
    }
  }
  CloseHandle(snapshot);
  return found;
}

bool KillProcess(uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_CREATE_THREAD | PROCESS_VM_OPERATION |
                                   PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                               FALSE, pid);
  if (!process) return false;
  TerminateProcess(process, 0);
  CloseHandle(process);
  return true;
}

void ShellOpen(ZvWindowHandle owner, const std::wstring& target) {
  ShellExecuteW(owner, L"Open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::wstring AnsiToUnicode(const std::string& text) { return CodePageToWide(CP_ACP, text); }
std::string UnicodeToAnsi(const std::wstring& text) { return WideToCodePage(CP_ACP, text); }
std::string AnsiToUtf8(const std::string& text) {
  return WideToCodePage(CP_UTF8, CodePageToWide(CP_ACP, text));
}
std::string UnicodeToUtf8(const std::wstring& text) { return AnsiToUtf8(UnicodeToAnsi(text)); }

std::wstring LocaleToUnicode(const std::string& text) {
  std::setlocale(LC_CTYPE, "");
  std::vector<wchar_t> buffer(text.size() * 2 + 1);
  std::size_t n = std::mbstowcs(buffer.data(), text.c_str(), buffer.size() - 1);
  if (n == static_cast<std::size_t>(-1)) return std::wstring();
  return std::wstring(buffer.data(), n);
}

std::string UnicodeToLocale(const std::wstring& text) {
  std::setlocale(LC_CTYPE, "");
  std::vector<char> buffer(text.size() * 4 + 1);
  std::size_t n = std::wcstombs(buffer.data(), text.c_str(), buffer.size() - 1);
  if (n == static_cast<std::size_t>(-1)) return std::string();
  return std::string(buffer.data(), n);
}
