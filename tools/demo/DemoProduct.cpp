// Demo product: what the demo installer installs under the product's
// executable name. It leaves "started.marker" next to itself (start time,
// its path, whether it runs elevated, its command line) so that tests can see
// that it was started and how, and shows a small window saying what it is.
// "/close-after=N" or ZV_DEMO_PRODUCT_SECONDS=N closes it after N seconds.
#include <windows.h>

#include <string>

#include "tools/demo/ProductNames.h"

namespace {

constexpr UINT_PTR kCloseTimer = 1;

std::wstring ModulePath() {
  std::wstring path(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  return path;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

bool IsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  bool ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  return ok && elevation.TokenIsElevated;
}

void WriteMarker(const std::wstring& exe) {
  size_t slash = exe.find_last_of(L'\\');
  if (slash == std::wstring::npos) return;
  SYSTEMTIME t;
  GetLocalTime(&t);
  char stamp[32];
  wsprintfA(stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
            t.wSecond, t.wMilliseconds);
  std::string text = "Zelvane demo product started\r\ntime=" + std::string(stamp) + "\r\nexe=" + Utf8(exe) +
                     "\r\nelevated=" + (IsElevated() ? "1" : "0") + "\r\ncommandline=" +
                     Utf8(GetCommandLineW()) + "\r\n";
  std::wstring marker = exe.substr(0, slash + 1) + L"started.marker";
  HANDLE h = CreateFileW(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
}

UINT CloseAfterSeconds() {
  std::wstring line = GetCommandLineW();
  size_t at = line.find(L"/close-after=");
  if (at != std::wstring::npos) return static_cast<UINT>(wcstoul(line.c_str() + at + 13, nullptr, 10));
  wchar_t value[16] = {};
  DWORD n = GetEnvironmentVariableW(L"ZV_DEMO_PRODUCT_SECONDS", value, 16);
  return (n > 0 && n < 16) ? static_cast<UINT>(wcstoul(value, nullptr, 10)) : 0;
}

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(wnd, &ps);
      RECT rc;
      GetClientRect(wnd, &rc);
      FillRect(dc, &rc, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
      std::wstring text = L"This is the Zelvane demo product \"" ZV_DEMO_PRODUCT_NAME
                          L"\".\nIt was installed by the demo installer.";
      SetBkMode(dc, TRANSPARENT);
      DrawTextW(dc, text.c_str(), -1, &rc, DT_CENTER | DT_VCENTER | DT_WORDBREAK);
      EndPaint(wnd, &ps);
      return 0;
    }
    case WM_TIMER:
      if (wp == kCloseTimer) DestroyWindow(wnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(wnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WriteMarker(ModulePath());

  WNDCLASSW wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"ZelvaneDemoProduct";
  if (!RegisterClassW(&wc)) return 1;
  HWND wnd = CreateWindowExW(0, wc.lpszClassName, L"Zelvane demo product - " ZV_DEMO_PRODUCT_NAME,
                             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                             CW_USEDEFAULT, 440, 170, nullptr, nullptr, instance, nullptr);
  if (!wnd) return 1;
  if (UINT seconds = CloseAfterSeconds()) SetTimer(wnd, kCloseTimer, seconds * 1000, nullptr);
  ShowWindow(wnd, show);
  UpdateWindow(wnd);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
