// Operating-system queries and small helpers. None keeps state, logs or
// throws; failures are empty results or false, with outputs left unchanged.
#pragma once

#include <cstdint>
#include <string>

#include "Strings.h"

#if defined(_WIN32)
#include <windows.h>
using ZvWindowHandle = HWND;
#else
using ZvWindowHandle = void*;
#endif

std::wstring GetDataFolder();          // Program Files\zelvane_down\<exe base>\ (ends in "\\")
std::wstring GetProgramDirectory();    // Program Files folder + "\\"
std::wstring GetModuleFilePath();      // full path of the running executable
std::wstring GetModuleFolder();        // its folder, ending in "\\"
std::wstring GetWindowsProductName();  // empty when unknown
bool IsWindows64Bit();
std::wstring GetUserUILanguage();      // decimal language id, e.g. "1033"
bool GetFreeSize(const std::wstring& path, uint32_t& freeMiB);
std::wstring GetFileVersion(const std::wstring& path);
std::wstring GetFileDescription(const std::wstring& path);
std::string GetFileMd5(const std::wstring& path);  // 32 lowercase hex digits or empty
bool IsFileExist(const std::wstring& path);
bool FindProcess(const std::wstring& exeName, uint32_t& pid);
bool KillProcess(uint32_t pid);
void ShellOpen(ZvWindowHandle owner, const std::wstring& target);

// Conversions. ANSI means the system ANSI code page; "locale" the C runtime's
// multibyte conversion under the user's default locale. Elsewhere than on
// Windows the narrow side is UTF-8 throughout.
std::wstring AnsiToUnicode(const std::string& text);
std::string UnicodeToAnsi(const std::wstring& text);
std::string AnsiToUtf8(const std::string& text);
std::string UnicodeToUtf8(const std::wstring& text);
std::wstring LocaleToUnicode(const std::string& text);
std::string UnicodeToLocale(const std::wstring& text);
