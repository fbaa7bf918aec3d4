// Another program's window that shares the installer's title: decoy_window
// TITLE READY_FILE creates it minimised, writes READY_FILE, and runs until it
// is asked to close. Exit code 0 when nothing restored it meanwhile, 1 when
// something did (the single-instance guard must find the installer's own
// window, not this one), 2 on a set-up failure.
#include <windows.h>

#include <cstdio>

namespace {
bool g_restored = false;

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (!IsIconic(hwnd)) g_restored = true;
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZvDecoyWindow";
  if (!RegisterClassW(&wc)) return 2;
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, argv[1], WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                              nullptr, nullptr, wc.hInstance, nullptr);
  if (!hwnd) return 2;
  ShowWindow(hwnd, SW_SHOWMINIMIZED);
  if (!IsIconic(hwnd)) return 2;
  SetTimer(hwnd, 1, 50, nullptr);
  HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 2;
  CloseHandle(ready);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (!IsIconic(hwnd) && IsWindow(hwnd)) g_restored = true;
  std::printf("decoy window %s\n", g_restored ? "restored" : "untouched");
  return g_restored ? 1 : 0;
}
