// Demo product: what the demo installer installs under the product's
// executable name. It leaves "started.marker" next to itself (start time,
// its path, whether it runs elevated, its command line) so that tests can see
// that it was started and how, and shows a small window saying what it is.
// "/close-after=N" or ZV_DEMO_PRODUCT_SECONDS=N closes it after N seconds.
#include <windows.h>

#include "tools/demo/ProductNames.h"

namespace {

constexpr UINT_PTR kCloseTimer = 1;
constexpr DWORD kPathMax = 32768;

// Plain buffers only, no C++ library: keeps the demo product a few kilobytes.
wchar_t g_exe[kPathMax];

bool IsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  bool ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  return ok && elevation.TokenIsElevated;
}

// Appends `text` as UTF-8 to the buffer at `used`, within `cap` bytes.
void AppendUtf8(char* buf, int cap, int& used, const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buf + used, cap - used, nullptr, nullptr);
  if (n > 0) used += n - 1;  // without the terminator
}

void AppendAscii(char* buf, int cap, int& used, const char* text) {
  while (*text && used < cap - 1) buf[used++] = *text++;
}

void WriteMarker() {
  DWORD n = GetModuleFileNameW(nullptr, g_exe, kPathMax);
  if (n == 0 || n >= kPathMax) return;
  wchar_t* slash = wcsrchr(g_exe, L'\\');
  if (!slash || (slash - g_exe) + 16 >= static_cast<long>(kPathMax)) return;

  static char text[3 * kPathMax + 256];
  const int cap = sizeof(text);
  int used = 0;
  SYSTEMTIME t;
  GetLocalTime(&t);
  char stamp[32];
  wsprintfA(stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
            t.wSecond, t.wMilliseconds);
  AppendAscii(text, cap, used, "Zelvane demo product started\r\ntime=");
  AppendAscii(text, cap, used, stamp);
  AppendAscii(text, cap, used, "\r\nexe=");
  AppendUtf8(text, cap, used, g_exe);
  AppendAscii(text, cap, used, IsElevated() ? "\r\nelevated=1\r\ncommandline=" : "\r\nelevated=0\r\ncommandline=");
  AppendUtf8(text, cap, used, GetCommandLineW());
  AppendAscii(text, cap, used, "\r\n");

  static wchar_t marker[kPathMax];
  lstrcpynW(marker, g_exe, static_cast<int>(slash - g_exe) + 2);
  lstrcatW(marker, L"started.marker");
  HANDLE h = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, text, static_cast<DWORD>(used), &written, nullptr);
  CloseHandle(h);
}

UINT CloseAfterSeconds() {
  if (const wchar_t* at = wcsstr(GetCommandLineW(), L"/close-after="))
    return static_cast<UINT>(wcstoul(at + 13, nullptr, 10));
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
      const wchar_t* text = L"This is the Zelvane demo product \"" ZV_DEMO_PRODUCT_NAME
                            L"\".\nIt was installed by the demo installer.";
      SetBkMode(dc, TRANSPARENT);
      DrawTextW(dc, text, -1, &rc, DT_CENTER | DT_WORDBREAK);
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
  WriteMarker();

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
