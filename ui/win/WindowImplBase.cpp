#include "ui/win/WindowImplBase.h"

#include <windowsx.h>

#include <cstdlib>
#include <vector>

#include "log/Log.h"
#include "ui/archive/ResourceLoader.h"
#include "ui/archive/SkinResources.h"
#include "ui/win/UIAccessible.h"
#include "ui/win/UIControl.h"

namespace SkinUI {

// ---------------------------------------------------------------------------
// CNotifyPump

const NotifyMap CNotifyPump::messageMap = {nullptr, nullptr};

const NotifyMap* CNotifyPump::GetMessageMap() const { return &CNotifyPump::messageMap; }

bool CNotifyPump::AddVirtualWnd(const std::wstring& name, CNotifyPump* pump) {
  if (name.empty() || !pump) return false;
  return m_virtualWnds.emplace(name, pump).second;
}

bool CNotifyPump::RemoveVirtualWnd(const std::wstring& name) { return m_virtualWnds.erase(name) != 0; }

void CNotifyPump::NotifyPump(NotifyMsg& msg) {
  if (!msg.sVirtualWnd.empty()) {
    auto it = m_virtualWnds.find(msg.sVirtualWnd);
    if (it != m_virtualWnds.end() && it->second->LoopDispatch(msg)) return;
  }
  LoopDispatch(msg);
}

bool CNotifyPump::LoopDispatch(NotifyMsg& msg) {
  const std::wstring senderName = msg.pSender ? msg.pSender->GetName() : std::wstring();
  for (const NotifyMap* map = GetMessageMap(); map; map = map->base) {
    if (!map->entries) continue;
    const NotifyMapEntry* match = nullptr;
    for (const NotifyMapEntry* e = map->entries; e->kind != kNotify_End; ++e) {
      if (msg.sType != e->type) continue;
      if (e->controlName && e->controlName[0]) {
        if (senderName == e->controlName) {
          match = e;
          break;
        }
      } else {
        match = e;  // the last unnamed entry of the type
      }
    }
    if (!match) continue;
    if (match->kind == kNotify_WParamLParam) (this->*(match->handlerWL))(msg.wParam, msg.lParam);
    else (this->*(match->handler))(msg);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// CWindowWnd

bool CWindowWnd::RegisterWindowClass() {
  std::wstring cls = GetWindowClassName();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  if (GetClassInfoExW(CUIManager::GetInstance(), cls.c_str(), &wc)) return true;
  wc.style = GetClassStyle();
  wc.lpfnWndProc = &CWindowWnd::__WndProc;
  wc.hInstance = CUIManager::GetInstance();
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = cls.c_str();
  ATOM atom = RegisterClassExW(&wc);
  return atom != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND hwndParent, const std::wstring& name, DWORD dwStyle, DWORD dwExStyle, int x, int y,
                        int cx, int cy) {
  if (!RegisterWindowClass()) {
    LOGA(kLog_Info, "window class could not be registered (%lu)", GetLastError());
    return nullptr;
  }
  m_hWnd = CreateWindowExW(dwExStyle, GetWindowClassName().c_str(), name.c_str(), dwStyle, x, y, cx, cy, hwndParent,
                           nullptr, CUIManager::GetInstance(), this);
  return m_hWnd;
}

LRESULT CALLBACK CWindowWnd::__WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  CWindowWnd* self = nullptr;
  if (uMsg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<LPCREATESTRUCTW>(lParam);
    self = static_cast<CWindowWnd*>(cs->lpCreateParams);
    self->m_hWnd = hWnd;
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<CWindowWnd*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (uMsg == WM_NCDESTROY && self) {
      LRESULT r = DefWindowProcW(hWnd, uMsg, wParam, lParam);
      SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
      self->m_hWnd = nullptr;
      self->OnFinalMessage(hWnd);
      return r;
    }
  }
  if (self) return self->HandleMessage(uMsg, wParam, lParam);
  return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::ShowWindow(bool bShow, bool bTakeFocus) {
  if (!IsWindow(m_hWnd)) return;
  ::ShowWindow(m_hWnd, bShow ? (bTakeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

UINT CWindowWnd::ShowModal() {
  if (!IsWindow(m_hWnd)) return 0;
  UINT nRet = 0;
  HWND hWndParent = GetWindow(m_hWnd, GW_OWNER);
  ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
  if (hWndParent) EnableWindow(hWndParent, FALSE);
  MSG msg{};
  while (IsWindow(m_hWnd)) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (msg.hwnd == m_hWnd && msg.message == WM_CLOSE) {
      nRet = static_cast<UINT>(msg.wParam);
      if (hWndParent) {
        EnableWindow(hWndParent, TRUE);
        ::SetFocus(hWndParent);
      }
    }
    if (!CUIManager::TranslateMessage(&msg)) {
      ::TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (hWndParent) EnableWindow(hWndParent, TRUE);
  return nRet;
}

void CWindowWnd::Close(UINT nRet) {
  if (IsWindow(m_hWnd)) ::PostMessageW(m_hWnd, WM_CLOSE, nRet, 0);
}

void CWindowWnd::CenterWindow() {
  if (!IsWindow(m_hWnd)) return;
  RECT w;
  GetWindowRect(m_hWnd, &w);
  HWND owner = GetWindow(m_hWnd, GW_OWNER);
  MONITORINFO mi{};
  mi.cbSize = sizeof(mi);
  GetMonitorInfoW(MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
  RECT a = mi.rcWork;
  RECT r = a;
  if (owner && !IsIconic(owner)) GetWindowRect(owner, &r);
  int width = w.right - w.left, height = w.bottom - w.top;
  int x = (r.left + r.right) / 2 - width / 2;
  int y = (r.top + r.bottom) / 2 - height / 2;
  if (x < a.left) x = a.left;
  else if (x + width > a.right) x = a.right - width;
  if (y < a.top) y = a.top;
  else if (y + height > a.bottom) y = a.bottom - height;
  SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::SetIcon(UINT nRes) {
  HINSTANCE inst = CUIManager::GetInstance();
  HICON big = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(nRes), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                            GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  if (big) ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  HICON small = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(nRes), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                              LR_DEFAULTCOLOR));
  if (small) ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void CWindowWnd::ResizeClient(int cx, int cy) {
  RECT rc;
  if (!GetClientRect(m_hWnd, &rc)) return;
  if (cx != -1) rc.right = cx;
  if (cy != -1) rc.bottom = cy;
  if (!AdjustWindowRectEx(&rc, GetWindowLongW(m_hWnd, GWL_STYLE), GetMenu(m_hWnd) != nullptr,
                          GetWindowLongW(m_hWnd, GWL_EXSTYLE))) {
    return;
  }
  SetWindowPos(m_hWnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
               SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::PostMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageW(m_hWnd, uMsg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// WindowImplBase

SKINUI_BEGIN_MESSAGE_MAP(WindowImplBase, CNotifyPump)
  SKINUI_ON_MSGTYPE(L"click", WindowImplBase::OnClick)
SKINUI_END_MESSAGE_MAP()

WindowImplBase::~WindowImplBase() { ReleaseAccessibility(); }

void WindowImplBase::InitAccessibility() {
  if (!m_pAccessible) {
    m_pAccessible = new CAccessibleRoot(m_hWnd, &m_pm);
    m_pm.SetAccessibleEventSink(m_pAccessible);
  }
  struct {
    const wchar_t* name;
    UINT command;
  } const buttons[] = {{L"closebtn", SC_CLOSE}, {L"minbtn", SC_MINIMIZE}, {L"maxbtn", SC_MAXIMIZE},
                       {L"restorebtn", SC_RESTORE}};
  HMENU menu = GetSystemMenu(m_hWnd, FALSE);
  for (const auto& b : buttons) {
    CControlUI* control = m_pm.FindControl(b.name);
    wchar_t text[128] = {};
    if (!control || !control->GetToolTip().empty() || !menu ||
        GetMenuStringW(menu, b.command, text, 128, MF_BYCOMMAND) <= 0) {
      continue;
    }
    // "&Close\tAlt+F4": without the mnemonic mark and the shortcut.
    std::wstring name;
    for (const wchar_t* c = text; *c && *c != L'\t'; ++c) {
      if (*c != L'&') name += *c;
    }
    control->SetToolTip(name);
  }
}

void WindowImplBase::ReleaseAccessibility() {
  if (!m_pAccessible) return;
  m_pm.SetAccessibleEventSink(nullptr);
  m_pAccessible->Disconnect();
  m_pAccessible->Release();
  m_pAccessible = nullptr;
}

void WindowImplBase::OnFinalMessage(HWND) {
  ReleaseAccessibility();
  m_pm.RemovePreMessageFilter(this);
  m_pm.RemoveNotifier(this);
  m_pm.ReapObjects(m_pm.GetFocus());
}

LONG WindowImplBase::GetStyle() {
  LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
  return style & ~WS_CAPTION;
}

void WindowImplBase::OnClick(NotifyMsg& msg) {
  if (!msg.pSender) return;
  const std::wstring& name = msg.pSender->GetName();
  if (name == L"closebtn") Close(1);
  else if (name == L"minbtn") SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  else if (name == L"maxbtn") SendMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  else if (name == L"restorebtn") SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
}

LRESULT WindowImplBase::OnDefaultKey(WPARAM wParam) {
  if (wParam == VK_ESCAPE) {
    Close(1);
    return TRUE;
  }
  return FALSE;
}

LRESULT WindowImplBase::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM, bool& bHandled) {
  if (uMsg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
    LRESULT r = OnDefaultKey(wParam);
    bHandled = r != FALSE;
    return r;
  }
  return FALSE;
}

LRESULT WindowImplBase::OnNcActivate(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
  if (IsIconic(m_hWnd)) bHandled = FALSE;
  return wParam == 0 ? TRUE : FALSE;
}

LRESULT WindowImplBase::OnNcCalcSize(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
  if (IsZoomed(m_hWnd) && wParam) {
    auto* p = reinterpret_cast<LPNCCALCSIZE_PARAMS>(lParam);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    p->rgrc[0] = mi.rcWork;
    return WVR_REDRAW;
  }
  return 0;
}

LRESULT WindowImplBase::OnNcHitTest(UINT, WPARAM, LPARAM lParam, BOOL&) {
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ScreenToClient(m_hWnd, &pt);
  RECT c;
  GetClientRect(m_hWnd, &c);
  if (!IsZoomed(m_hWnd)) {
    RECT sb = m_pm.GetSizeBox();
    if (pt.y < c.top + sb.top) {
      if (pt.x < c.left + sb.left) return HTTOPLEFT;
      if (pt.x > c.right - sb.right) return HTTOPRIGHT;
      return HTTOP;
    }
    if (pt.y > c.bottom - sb.bottom) {
      if (pt.x < c.left + sb.left) return HTBOTTOMLEFT;
      if (pt.x > c.right - sb.right) return HTBOTTOMRIGHT;
      return HTBOTTOM;
    }
    if (pt.x < c.left + sb.left) return HTLEFT;
    if (pt.x > c.right - sb.right) return HTRIGHT;
  }
  RECT cap = m_pm.GetCaptionRect();
  if (pt.x >= c.left + cap.left && pt.x < c.right - cap.right && pt.y >= cap.top && pt.y < cap.bottom) {
    CControlUI* control = m_pm.FindControl(pt);
    if (control) {
      std::wstring cls = control->GetClass();
      if (!EqualsNoCase(cls, L"Button") && !EqualsNoCase(cls, L"Option") && !EqualsNoCase(cls, L"Text")) {
        return HTCAPTION;
      }
    }
  }
  return HTCLIENT;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
  auto* mmi = reinterpret_cast<LPMINMAXINFO>(lParam);
  MONITORINFO mi{};
  mi.cbSize = sizeof(mi);
  GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
  RECT work = mi.rcWork;
  OffsetRect(&work, -mi.rcMonitor.left, -mi.rcMonitor.top);
  mmi->ptMaxPosition.x = work.left;
  mmi->ptMaxPosition.y = work.top;
  mmi->ptMaxTrackSize.x = work.right - work.left;
  mmi->ptMaxTrackSize.y = work.bottom - work.top;
  SIZE minInfo = m_pm.GetMinInfo();
  if (minInfo.cx > 0) mmi->ptMinTrackSize.x = minInfo.cx;
  if (minInfo.cy > 0) mmi->ptMinTrackSize.y = minInfo.cy;
  bHandled = FALSE;  // the manager applies its limits too
  return 0;
}

LRESULT WindowImplBase::OnSize(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
  SIZE round = m_pm.GetRoundCorner();
  if ((round.cx != 0 || round.cy != 0) && !IsIconic(m_hWnd)) {
    RECT rc;
    GetWindowRect(m_hWnd, &rc);
    OffsetRect(&rc, -rc.left, -rc.top);
    rc.right++;
    rc.bottom++;
    HRGN rgn = CreateRoundRectRgn(rc.left, rc.top, rc.right, rc.bottom, round.cx, round.cy);
    SetWindowRgn(m_hWnd, rgn, TRUE);  // the system owns the region now
  }
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  if ((wParam & 0xFFF0) == SC_CLOSE) {
    bHandled = TRUE;
    SendMessage(WM_CLOSE);
    return 0;
  }
  BOOL zoomed = IsZoomed(m_hWnd);
  LRESULT r = CWindowWnd::HandleMessage(uMsg, wParam, lParam);
  if (IsWindow(m_hWnd) && IsZoomed(m_hWnd) != zoomed) {
    CControlUI* maxBtn = m_pm.FindControl(L"maxbtn");
    CControlUI* restoreBtn = m_pm.FindControl(L"restorebtn");
    if (maxBtn && restoreBtn) {
      maxBtn->SetVisible(!IsZoomed(m_hWnd));
      restoreBtn->SetVisible(IsZoomed(m_hWnd) != FALSE);
    }
  }
  return r;
}

void WindowImplBase::OnSkinLoadFailed(const std::wstring& reason) {
  LOGW(kLog_Info, L"skin could not be loaded: %ls", reason.c_str());
  MessageBoxW(nullptr, L"\x52A0\x8F7D\x8D44\x6E90\x6587\x4EF6\x5931\x8D25", L"SkinUI", MB_OK | MB_ICONERROR);
  ExitProcess(1);
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
  LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
  style &= ~WS_CAPTION;
  SetWindowLongW(m_hWnd, GWL_STYLE, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  SetWindowPos(m_hWnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  m_pm.Init(m_hWnd);
  m_pm.AddPreMessageFilter(this);

  if (GetResourceFolder().empty()) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    size_t slash = folder.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
    SetResourceFolder(folder + GetSkinFolder());
  }
  switch (GetResourceType()) {
    case UILIB_ZIP:
      SetResourceArchive(GetZipFileName(), true);
      break;
    case UILIB_ZIPRESOURCE: {
      // The archive buffer lives for the process: lookups keep pointing into it.
      unsigned id = static_cast<unsigned>(wcstoul(GetResourceID().c_str(), nullptr, 10));
      std::string bytes;
      if (!GetResourceLoader().LoadResource(kResourceTypeSkinZip, id, bytes) || bytes.empty()) {
        OnSkinLoadFailed(L"the skin resource is missing or empty");
      }
      auto* buffer = new std::vector<char>(bytes.begin(), bytes.end());
      SetResourceArchive(buffer->data(), buffer->size());
      break;
    }
    default:
      break;
  }

  std::wstring error;
  CControlUI* root = nullptr;
  if (GetResourceType() == UILIB_RESOURCE) {
    root = BuildSkin(GetSkinFile(), L"xml", this, m_pm, error);
  } else {
    root = BuildSkin(GetSkinFile(), L"", this, m_pm, error);
  }
  if (!root) OnSkinLoadFailed(error.empty() ? L"no controls" : error);
  m_pm.AttachRoot(root);
  m_pm.AddNotifier(this);
  InitAccessibility();
  InitWindow();
  return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  LRESULT lRes = 0;
  BOOL bHandled = TRUE;
  switch (uMsg) {
    case WM_CREATE: lRes = OnCreate(uMsg, wParam, lParam, bHandled); break;
    case WM_CLOSE: lRes = OnClose(uMsg, wParam, lParam, bHandled); break;
    case WM_DESTROY: lRes = OnDestroy(uMsg, wParam, lParam, bHandled); break;
    case WM_NCACTIVATE: lRes = OnNcActivate(uMsg, wParam, lParam, bHandled); break;
    case WM_NCCALCSIZE: lRes = OnNcCalcSize(uMsg, wParam, lParam, bHandled); break;
    case WM_NCPAINT: lRes = OnNcPaint(uMsg, wParam, lParam, bHandled); break;
    case WM_NCHITTEST: lRes = OnNcHitTest(uMsg, wParam, lParam, bHandled); break;
    case WM_GETMINMAXINFO: lRes = OnGetMinMaxInfo(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEWHEEL: lRes = OnMouseWheel(uMsg, wParam, lParam, bHandled); break;
    case WM_SIZE: lRes = OnSize(uMsg, wParam, lParam, bHandled); break;
    case WM_CHAR: lRes = OnChar(uMsg, wParam, lParam, bHandled); break;
    case WM_SYSCOMMAND: lRes = OnSysCommand(uMsg, wParam, lParam, bHandled); break;
    case WM_KEYDOWN: lRes = OnKeyDown(uMsg, wParam, lParam, bHandled); break;
    case WM_KILLFOCUS: lRes = OnKillFocus(uMsg, wParam, lParam, bHandled); break;
    case WM_SETFOCUS: lRes = OnSetFocus(uMsg, wParam, lParam, bHandled); break;
    case WM_LBUTTONUP: lRes = OnLButtonUp(uMsg, wParam, lParam, bHandled); break;
    case WM_LBUTTONDOWN: lRes = OnLButtonDown(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEMOVE: lRes = OnMouseMove(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEHOVER: lRes = OnMouseHover(uMsg, wParam, lParam, bHandled); break;
    case WM_GETOBJECT:
      lRes = m_pAccessible ? m_pAccessible->OnGetObject(wParam, lParam) : 0;
      bHandled = lRes != 0;
      break;
    case WM_SKINUI_ACCESSIBLE_ACTION:
      if (m_pAccessible) m_pAccessible->RunDefaultAction(static_cast<LONG>(wParam));
      break;
    default:
      bHandled = FALSE;
      lRes = HandleCustomMessage(uMsg, wParam, lParam, bHandled);
      break;
  }
  if (bHandled) return lRes;
  if (m_pm.MessageHandler(uMsg, wParam, lParam, lRes)) return lRes;
  return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

}  // namespace SkinUI
