#include "Window/SetupFrameWnd.h"

#include "log/Log.h"
#include "system/SystemUtils.h"

namespace {

constexpr wchar_t kWindowClass[] = L"SetupMainFrame";
constexpr wchar_t kDefaultTitle[] = L"Zelvane Setup";
constexpr int kClientWidth = 650;
constexpr int kClientHeight = 360;

std::atomic<bool> g_bEnvironmentReady{false};

}  // namespace

CSetupFrameWnd::CSetupFrameWnd() = default;

CSetupFrameWnd::~CSetupFrameWnd() {
  if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

void CSetupFrameWnd::InitEnvironment() {
  // The flag is taken on entry so that a failing step is not retried.
  if (g_bEnvironmentReady.exchange(true)) return;
  m_strDataDir = GetDataFolder();
  InitLog(L"zelvane_down.log", (m_strDataDir + L"Log").c_str());
  LoadResZipFile();
}

void CSetupFrameWnd::LoadResZipFile() {
  LOGA(kLog_Info, "LoadResZipFile");
  // The settings archive (RT_RCDATA 105) is unpacked into the "language"
  // folder here, and the texts are loaded from it.
}

std::wstring CSetupFrameWnd::GetWindowTitle() const { return kDefaultTitle; }

bool CSetupFrameWnd::Create(HWND parent, const std::wstring& title, DWORD style, DWORD exStyle) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = &CSetupFrameWnd::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
  m_hWnd = CreateWindowExW(exStyle, kWindowClass, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, instance, this);
  if (!m_hWnd) return false;
  RECT rc = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&rc, style, FALSE, exStyle);
  SetWindowPos(m_hWnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return true;
}

void CSetupFrameWnd::CenterWindow() {
  RECT window;
  GetWindowRect(m_hWnd, &window);
  MONITORINFO mi = {};
  mi.cbSize = sizeof(mi);
  GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
  const RECT& area = mi.rcWork;
  int width = window.right - window.left;
  int height = window.bottom - window.top;
  int x = area.left + ((area.right - area.left) - width) / 2;
  int y = area.top + ((area.bottom - area.top) - height) / 2;
  if (x < area.left) x = area.left;
  if (y < area.top) y = area.top;
  SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int CSetupFrameWnd::ShowModal() {
  ShowWindow(m_hWnd, SW_SHOWNORMAL);
  MSG msg;
  while (IsWindow(m_hWnd) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK CSetupFrameWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CSetupFrameWnd* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<CSetupFrameWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->m_hWnd = hwnd;
  } else {
    self = reinterpret_cast<CSetupFrameWnd*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT CSetupFrameWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    m_hWnd = nullptr;
  }
  return DefWindowProcW(m_hWnd, message, wParam, lParam);
}
