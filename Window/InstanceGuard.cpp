#include "Window/InstanceGuard.h"

#include <windows.h>

#include "system/SystemUtils.h"

std::wstring InstanceName(const std::wstring& exePath) {
  std::wstring name = GetFileDescription(exePath);
  if (!name.empty()) return name;
  std::size_t slash = exePath.find_last_of(L'\\');
  std::size_t dot = exePath.find_last_of(L'.');
  std::size_t start = slash == std::wstring::npos ? 0 : slash + 1;
  if (dot == std::wstring::npos || dot < start) return exePath.substr(start);
  return exePath.substr(start, dot - start);
}

bool AcquireInstanceMutex(const std::wstring& name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (!mutex) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  return true;  // kept open: its existence marks the running instance
}

void BringRunningInstanceToFront(const std::wstring& windowClass, const std::wstring& title) {
  // Class and title both: another program's window may share the title.
  HWND running = FindWindowW(windowClass.c_str(), title.c_str());
  if (!running) return;
  ShowWindow(running, SW_RESTORE);
  SetForegroundWindow(running);
}
