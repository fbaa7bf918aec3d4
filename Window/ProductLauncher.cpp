#include "Window/ProductLauncher.h"

#include <windows.h>
#include <shellapi.h>

#include "log/Log.h"

namespace {

using WdcRunTaskAsInteractiveUserFn = HRESULT(WINAPI*)(LPCWSTR commandLine, LPCWSTR, DWORD);

void ShellOpenProduct(const std::wstring& path) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // A product that cannot be started is not reported: no error box holds up
  // the installer, which closes right after.
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = path.c_str();
  info.lpParameters = L"";
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&info);
}

// Starts the program with the token of the desktop shell, which runs as the
// interactive user without the installer's elevation.
bool RunWithShellToken(const std::wstring& path) {
  HWND shell = GetShellWindow();
  DWORD shellPid = 0;
  if (!shell || !GetWindowThreadProcessId(shell, &shellPid) || !shellPid) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellPid);
  if (!process) return false;
  HANDLE token = nullptr, primary = nullptr;
  bool started = false;
  if (OpenProcessToken(process, TOKEN_DUPLICATE, &token) &&
      DuplicateTokenEx(token, TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_ADJUST_DEFAULT |
                                  TOKEN_ADJUST_SESSIONID,
                       nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    started = CreateProcessWithTokenW(primary, 0, path.c_str(), &commandLine[0], 0, nullptr, nullptr,
                                      &startup, &info) != 0;
    if (started) {
      CloseHandle(info.hThread);
      CloseHandle(info.hProcess);
    }
  }
  if (primary) CloseHandle(primary);
  if (token) CloseHandle(token);
  CloseHandle(process);
  return started;
}

}  // namespace

void RunProduct(const std::wstring& path, bool runAsAdmin) {
  if (runAsAdmin) {
    ShellOpenProduct(path);
    return;
  }
  // The module is taken from the system folder only, never from the folders
  // a planted copy could sit in.
  HMODULE wdc = LoadLibraryExW(L"wdc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto run = wdc ? reinterpret_cast<WdcRunTaskAsInteractiveUserFn>(
                       reinterpret_cast<void*>(GetProcAddress(wdc, "WdcRunTaskAsInteractiveUser")))
                 : nullptr;
  if (!run) {
    // Systems without the entry point: the shell's own token, and failing
    // that a plain start, so that the user still gets the product.
    LOGA(kLog_Info, "RunProduct: WdcRunTaskAsInteractiveUser not available");
    if (!RunWithShellToken(path)) ShellOpenProduct(path);
    return;
  }
  // Quoted, so that a folder with blanks cannot be read as another program.
  std::wstring commandLine = L"\"" + path + L"\"";
  run(commandLine.c_str(), nullptr, 57);
}
