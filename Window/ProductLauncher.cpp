#include "Window/ProductLauncher.h"

#include <windows.h>
#include <shellapi.h>

#include "log/Log.h"

namespace {

using WdcRunTaskAsInteractiveUserFn = HRESULT(WINAPI*)(LPCWSTR commandLine, LPCWSTR, DWORD);

std::string WithCode(const char* what, unsigned long code) {
  return std::string(what) + " (" + std::to_string(code) + ")";
}

bool ShellOpenProduct(const std::wstring& path, std::string& why) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // A product that cannot be started is not reported: no error box holds up
  // the installer, which closes right after.
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = path.c_str();
  info.lpParameters = L"";
  info.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&info)) return true;
  why = WithCode("the shell did not start it", GetLastError());
  return false;
}

bool RunWithWdc(const std::wstring& path, std::string& why) {
  // The module is taken from the system folder only, never from the folders
  // a planted copy could sit in.
  HMODULE wdc = LoadLibraryExW(L"wdc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto run = wdc ? reinterpret_cast<WdcRunTaskAsInteractiveUserFn>(
                       reinterpret_cast<void*>(GetProcAddress(wdc, "WdcRunTaskAsInteractiveUser")))
                 : nullptr;
  if (!run) {
    why = "WdcRunTaskAsInteractiveUser not available";
    return false;
  }
  // Quoted, so that a folder with blanks cannot be read as another program.
  std::wstring commandLine = L"\"" + path + L"\"";
  HRESULT result = run(commandLine.c_str(), nullptr, 57);
  if (SUCCEEDED(result)) return true;
  why = WithCode("WdcRunTaskAsInteractiveUser failed", static_cast<unsigned long>(result));
  return false;
}

// Starts the program with the token of the desktop shell, which runs as the
// interactive user without the installer's elevation.
bool RunWithShellToken(const std::wstring& path, std::string& why) {
  HWND shell = GetShellWindow();
  DWORD shellPid = 0;
  if (!shell || !GetWindowThreadProcessId(shell, &shellPid) || !shellPid) {
    why = "no desktop shell";
    return false;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellPid);
  if (!process) {
    why = WithCode("the desktop shell cannot be opened", GetLastError());
    return false;
  }
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
    } else {
      why = WithCode("the start with the desktop shell's token failed", GetLastError());
    }
  } else {
    why = WithCode("the desktop shell's token cannot be taken", GetLastError());
  }
  if (primary) CloseHandle(primary);
  if (token) CloseHandle(token);
  CloseHandle(process);
  return started;
}

}  // namespace

const ProductStartWays& SystemProductStartWays() {
  static const ProductStartWays ways = {&ShellOpenProduct, &RunWithWdc, &RunWithShellToken};
  return ways;
}

bool StartProduct(const std::wstring& path, bool runAsAdmin, const ProductStartWays& ways, std::string& why) {
  if (runAsAdmin) return ways.withOwnRights(path, why);
  std::string wdcWhy, tokenWhy;
  if (ways.asInteractiveUser(path, wdcWhy) || ways.withShellToken(path, tokenWhy)) return true;
  // The product must not get the installer's rights: it is not started.
  why = wdcWhy + "; " + tokenWhy;
  return false;
}

void RunProduct(const std::wstring& path, bool runAsAdmin) {
  std::string why;
  if (!StartProduct(path, runAsAdmin, SystemProductStartWays(), why))
    LOGA(kLog_Info, "RunProduct: the product is not started: %s", why.c_str());
}
