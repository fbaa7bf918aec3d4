#include "ui/win/UIManager.h"

#include <windowsx.h>

#include <algorithm>

#include "log/Log.h"
#include "ui/archive/ResourceLoader.h"
#include "ui/archive/SkinResources.h"
#include "ui/markup_tree/MarkupValues.h"
#include "ui/win/UIControl.h"
#include "ui/win/UIRender.h"

namespace SkinUI {

HINSTANCE CUIManager::s_hInstance = nullptr;
std::vector<CUIManager*> CUIManager::s_aPreMessages;

void SetModuleInstance(HINSTANCE hInst) { CUIManager::SetInstance(hInst); }

HINSTANCE CUIManager::GetInstance() {
  return s_hInstance ? s_hInstance : GetModuleHandleW(nullptr);
}

void CUIManager::SetInstance(HINSTANCE hInst) { s_hInstance = hInst; }

namespace {

void FillFontInfo(HDC hDC, TFontInfo& f) {
  HDC dc = hDC ? hDC : GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, f.hFont);
  GetTextMetricsW(dc, &f.tm);
  SelectObject(dc, old);
  if (!hDC) ReleaseDC(nullptr, dc);
}

HFONT MakeFont(const std::wstring& face, int size, bool bold, bool underline, bool italic) {
  LOGFONTW lf{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfHeight = -size;
  if (bold) lf.lfWeight += FW_BOLD;
  lf.lfUnderline = underline ? TRUE : FALSE;
  lf.lfItalic = italic ? TRUE : FALSE;
  lf.lfQuality = CLEARTYPE_QUALITY;
  return CreateFontIndirectW(&lf);
}

}  // namespace

CUIManager::CUIManager() {
  LOGFONTW lf{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
  lf.lfCharSet = DEFAULT_CHARSET;
  m_DefaultFont.hFont = CreateFontIndirectW(&lf);
  m_DefaultFont.sFontName = lf.lfFaceName;
  m_DefaultFont.iSize = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
  FillFontInfo(nullptr, m_DefaultFont);
}

CUIManager::~CUIManager() {
  for (auto& t : m_aTimers) {
    if (!t.bKilled && m_hWndPaint) ::KillTimer(m_hWndPaint, t.uWinTimer);
  }
  m_aTimers.clear();
  // Controls detach themselves from this manager while they go away.
  CControlUI* root = m_pRoot;
  m_pRoot = nullptr;
  m_pFocus = m_pEventHover = m_pEventClick = nullptr;
  delete root;
  for (CControlUI* c : m_aDelayedCleanup) delete c;
  m_aDelayedCleanup.clear();
  for (auto& kv : m_mFonts) FreeFont(kv.second);
  for (auto& f : m_aExtraFonts) FreeFont(f);
  FreeFont(m_DefaultFont);
  for (auto& kv : m_mImages) {
    if (kv.second && kv.second->hBitmap) DeleteObject(kv.second->hBitmap);
  }
  if (m_hDcOffscreen) {
    SelectObject(m_hDcOffscreen, m_hbmpOffscreenOld);
    DeleteDC(m_hDcOffscreen);
  }
  if (m_hbmpOffscreen) DeleteObject(m_hbmpOffscreen);
  if (m_hDcPaint && m_hWndPaint) ReleaseDC(m_hWndPaint, m_hDcPaint);
  s_aPreMessages.erase(std::remove(s_aPreMessages.begin(), s_aPreMessages.end(), this), s_aPreMessages.end());
}

void CUIManager::FreeFont(TFontInfo& f) {
  if (f.hFont) DeleteObject(f.hFont);
  f.hFont = nullptr;
}

void CUIManager::Init(HWND hWnd) {
  m_hWndPaint = hWnd;
  m_hDcPaint = GetDC(hWnd);
  if (std::find(s_aPreMessages.begin(), s_aPreMessages.end(), this) == s_aPreMessages.end()) {
    s_aPreMessages.push_back(this);
  }
}

bool CUIManager::AttachRoot(CControlUI* pControl) {
  if (!pControl) return false;
  SetFocus(nullptr);
  m_pEventHover = m_pEventClick = nullptr;
  if (m_pRoot && m_pRoot != pControl) AddDelayedCleanup(m_pRoot);
  m_pRoot = pControl;
  m_bUpdateNeeded = true;
  m_bFirstLayout = true;
  InitControls(pControl);
  if (m_hWndPaint) InvalidateRect(m_hWndPaint, nullptr, FALSE);
  return true;
}

void CUIManager::InitControls(CControlUI* pControl, CControlUI* pParent) {
  if (!pControl) return;
  pControl->SetManager(this, pParent ? pParent : pControl->GetParent(), true);
  pControl->FindControl(&CUIManager::FindControlFromNameHash, this, UIFIND_ALL);
}

CControlUI* CUIManager::FindControlFromNameHash(CControlUI* pThis, void* pData) {
  auto* self = static_cast<CUIManager*>(pData);
  const std::wstring& name = pThis->GetName();
  if (!name.empty()) self->m_mNameHash.emplace(name, pThis);  // the first one keeps the name
  return nullptr;
}

CControlUI* CUIManager::ReapControl(CControlUI* pThis, void* pData) {
  return nullptr;
}

void CUIManager::ReapObjects(CControlUI* pControl) {
  if (pControl == m_pEventHover) m_pEventHover = nullptr;
  if (pControl == m_pEventClick) m_pEventClick = nullptr;
  if (pControl == m_pFocus) m_pFocus = nullptr;
  if (pControl == m_pRoot) m_pRoot = nullptr;
  KillTimers(pControl);
  for (auto it = m_mNameHash.begin(); it != m_mNameHash.end();) {
    if (it->second == pControl) it = m_mNameHash.erase(it);
    else ++it;
  }
  for (auto& n : m_aAsyncNotify) {
    if (n.pSender == pControl) n.pSender = nullptr;
  }
}

void CUIManager::AddDelayedCleanup(CControlUI* pControl) {
  if (!pControl) return;
  pControl->SetManager(this, nullptr, false);
  m_aDelayedCleanup.push_back(pControl);
  if (m_hWndPaint) PostMessageW(m_hWndPaint, WM_SKINUI_ASYNC_NOTIFY, 0, 0);
}

void CUIManager::Invalidate(const RECT& rc) {
  if (m_hWndPaint) InvalidateRect(m_hWndPaint, &rc, FALSE);
}

void CUIManager::Invalidate() {
  if (m_hWndPaint) InvalidateRect(m_hWndPaint, nullptr, FALSE);
}

CControlUI* CUIManager::FindControl(const std::wstring& name) const {
  auto it = m_mNameHash.find(name);
  return it == m_mNameHash.end() ? nullptr : it->second;
}

CControlUI* CUIManager::FindControlFromPoint(CControlUI* pThis, void* pData) {
  return pThis;
}

CControlUI* CUIManager::FindControl(POINT pt) const {
  if (!m_pRoot) return nullptr;
  return m_pRoot->FindControl(&CUIManager::FindControlFromPoint, &pt,
                              UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST);
}

namespace {
struct NameSearch {
  const std::wstring* name;
};
}  // namespace

CControlUI* CUIManager::FindControlFromName(CControlUI* pThis, void* pData) {
  auto* s = static_cast<NameSearch*>(pData);
  return EqualsNoCase(pThis->GetName(), *s->name) ? pThis : nullptr;
}

CControlUI* CUIManager::FindSubControlByName(CControlUI* pParent, const std::wstring& name) const {
  if (!pParent) pParent = m_pRoot;
  if (!pParent) return nullptr;
  NameSearch s{&name};
  return pParent->FindControl(&CUIManager::FindControlFromName, &s, UIFIND_ALL);
}

bool CUIManager::AddOptionGroup(const std::wstring& group, COptionUI* pOption) {
  auto& v = m_mOptionGroup[group];
  if (std::find(v.begin(), v.end(), pOption) != v.end()) return false;
  v.push_back(pOption);
  return true;
}

std::vector<COptionUI*>* CUIManager::GetOptionGroup(const std::wstring& group) {
  auto it = m_mOptionGroup.find(group);
  return it == m_mOptionGroup.end() ? nullptr : &it->second;
}

void CUIManager::RemoveOptionGroup(const std::wstring& group, COptionUI* pOption) {
  auto it = m_mOptionGroup.find(group);
  if (it == m_mOptionGroup.end()) return;
  auto& v = it->second;
  v.erase(std::remove(v.begin(), v.end(), pOption), v.end());
  if (v.empty()) m_mOptionGroup.erase(it);
}

void CUIManager::SetFocus(CControlUI* pControl, bool bFocusWnd) {
  if (bFocusWnd && m_hWndPaint) {
    HWND focus = ::GetFocus();
    if (focus != m_hWndPaint && pControl != m_pFocus && !m_bNoActivate) ::SetFocus(m_hWndPaint);
  }
  if (pControl == m_pFocus) return;
  if (m_pFocus) {
    CControlUI* old = m_pFocus;
    TEventUI e;
    e.Type = UIEVENT_KILLFOCUS;
    e.pSender = pControl;
    e.dwTimestamp = GetTickCount();
    old->Event(e);
    SendNotify(old, L"killfocus");
    m_pFocus = nullptr;
  }
  if (!pControl || pControl->GetManager() != this || !pControl->IsVisible() || !pControl->IsEnabled()) return;
  m_pFocus = pControl;
  TEventUI e;
  e.Type = UIEVENT_SETFOCUS;
  e.pSender = pControl;
  e.dwTimestamp = GetTickCount();
  pControl->Event(e);
  SendNotify(pControl, L"setfocus");
}

void CUIManager::SetCapture() {
  ::SetCapture(m_hWndPaint);
  m_bMouseCapture = true;
}

void CUIManager::ReleaseCapture() {
  ::ReleaseCapture();
  m_bMouseCapture = false;
}

namespace {

// Listener lists hold each listener once.
template <class T>
bool AddOnce(std::vector<T*>& list, T* p) {
  if (std::find(list.begin(), list.end(), p) != list.end()) return false;
  list.push_back(p);
  return true;
}

template <class T>
bool RemoveFrom(std::vector<T*>& list, T* p) {
  auto it = std::find(list.begin(), list.end(), p);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

}  // namespace

bool CUIManager::AddNotifier(INotifyUI* p) { return AddOnce(m_aNotifiers, p); }
bool CUIManager::RemoveNotifier(INotifyUI* p) { return RemoveFrom(m_aNotifiers, p); }
bool CUIManager::AddPreMessageFilter(IMessageFilterUI* p) { return AddOnce(m_aPreMessageFilters, p); }
bool CUIManager::RemovePreMessageFilter(IMessageFilterUI* p) { return RemoveFrom(m_aPreMessageFilters, p); }
bool CUIManager::AddMessageFilter(IMessageFilterUI* p) { return AddOnce(m_aMessageFilters, p); }
bool CUIManager::RemoveMessageFilter(IMessageFilterUI* p) { return RemoveFrom(m_aMessageFilters, p); }

void CUIManager::SendNotify(CControlUI* pControl, const std::wstring& type, WPARAM wParam, LPARAM lParam,
                            bool bAsync, bool bAllowRepeat) {
  NotifyMsg msg;
  msg.pSender = pControl;
  msg.sType = type;
  msg.wParam = wParam;
  msg.lParam = lParam;
  SendNotify(msg, bAsync, bAllowRepeat);
}

void CUIManager::SendNotify(NotifyMsg& msg, bool bAsync, bool bAllowRepeat) {
  msg.ptMouse = m_ptLastMousePos;
  msg.dwTimestamp = GetTickCount();
  if (!bAsync) {
    // A copy of the list: a listener may register or remove listeners.
    std::vector<INotifyUI*> notifiers = m_aNotifiers;
    for (INotifyUI* n : notifiers) {
      if (std::find(m_aNotifiers.begin(), m_aNotifiers.end(), n) != m_aNotifiers.end()) n->Notify(msg);
    }
    return;
  }
  if (!bAllowRepeat) {
    for (auto& q : m_aAsyncNotify) {
      if (q.pSender == msg.pSender && q.sType == msg.sType) {
        q = msg;
        return;
      }
    }
  }
  m_aAsyncNotify.push_back(msg);
  if (m_hWndPaint) PostMessageW(m_hWndPaint, WM_SKINUI_ASYNC_NOTIFY, 0, 0);
}

void CUIManager::SendQueued() {
  for (CControlUI* c : m_aDelayedCleanup) delete c;
  m_aDelayedCleanup.clear();
  std::vector<NotifyMsg> queued;
  queued.swap(m_aAsyncNotify);
  for (auto& msg : queued) {
    std::vector<INotifyUI*> notifiers = m_aNotifiers;
    for (INotifyUI* n : notifiers) n->Notify(msg);
  }
}

bool CUIManager::SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse) {
  if (!pControl || !m_hWndPaint) return false;
  for (auto& t : m_aTimers) {
    if (t.pSender == pControl && t.nLocalID == nTimerID) {
      if (t.bKilled && ::SetTimer(m_hWndPaint, t.uWinTimer, uElapse, nullptr)) {
        t.bKilled = false;
        return true;
      }
      return false;
    }
  }
  UINT_PTR id = ++m_uTimerID;
  if (!::SetTimer(m_hWndPaint, id, uElapse, nullptr)) return false;
  m_aTimers.push_back(TimerInfo{pControl, nTimerID, id, false});
  return true;
}

bool CUIManager::KillTimer(CControlUI* pControl, UINT nTimerID) {
  for (auto& t : m_aTimers) {
    if (t.pSender == pControl && t.nLocalID == nTimerID) {
      if (!t.bKilled && m_hWndPaint) ::KillTimer(m_hWndPaint, t.uWinTimer);
      t.bKilled = true;
      return true;
    }
  }
  return false;
}

void CUIManager::KillTimers(CControlUI* pControl) {
  for (auto it = m_aTimers.begin(); it != m_aTimers.end();) {
    if (it->pSender == pControl) {
      if (!it->bKilled && m_hWndPaint) ::KillTimer(m_hWndPaint, it->uWinTimer);
      it = m_aTimers.erase(it);
    } else {
      ++it;
    }
  }
}

void CUIManager::SetInitSize(int cx, int cy) {
  m_szInitWindowSize = {cx, cy};
  if (!m_pRoot && m_hWndPaint) {
    SetWindowPos(m_hWndPaint, nullptr, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
  }
}

void CUIManager::SetOpacity(BYTE opacity) {
  if (!m_hWndPaint) return;
  LONG ex = GetWindowLongW(m_hWndPaint, GWL_EXSTYLE);
  SetWindowLongW(m_hWndPaint, GWL_EXSTYLE, ex | WS_EX_LAYERED);
  SetLayeredWindowAttributes(m_hWndPaint, 0, opacity, LWA_ALPHA);
}

void CUIManager::SetWindowAttribute(const std::wstring& name, const std::wstring& value) {
  if (EqualsNoCase(name, L"size")) {
    MarkupSize s = ParseSize(value);
    SetInitSize(s.cx, s.cy);
  } else if (EqualsNoCase(name, L"sizebox")) {
    MarkupRect r = ParseRect(value);
    SetSizeBox(RECT{r.left, r.top, r.right, r.bottom});
  } else if (EqualsNoCase(name, L"caption")) {
    MarkupRect r = ParseRect(value);
    SetCaptionRect(RECT{r.left, r.top, r.right, r.bottom});
  } else if (EqualsNoCase(name, L"roundcorner")) {
    MarkupSize s = ParseSize(value);
    SetRoundCorner(s.cx, s.cy);
  } else if (EqualsNoCase(name, L"mininfo")) {
    MarkupSize s = ParseSize(value);
    SetMinInfo(s.cx, s.cy);
  } else if (EqualsNoCase(name, L"maxinfo")) {
    MarkupSize s = ParseSize(value);
    SetMaxInfo(s.cx, s.cy);
  } else if (EqualsNoCase(name, L"showdirty")) {
    SetShowUpdateRect(ParseBool(value, true));
  } else if (name == L"noactivate") {
    SetNoActivate(ParseBool(value, true));
  } else if (EqualsNoCase(name, L"opacity") || name == L"layeredopacity") {
    SetOpacity(static_cast<BYTE>(std::clamp(ParseInt(value), 0, 255)));
  } else if (name == L"layeredimage") {
    // Layered composition from an image is not used by this program's skin.
    m_mWindowCustomAttrs[name] = value;
  } else if (EqualsNoCase(name, L"disabledfontcolor")) {
    m_dwDefaultDisabledColor = ParseColor(value);
  } else if (EqualsNoCase(name, L"defaultfontcolor")) {
    m_dwDefaultFontColor = ParseColor(value);
  } else if (EqualsNoCase(name, L"linkfontcolor")) {
    m_dwDefaultLinkFontColor = ParseColor(value);
  } else if (EqualsNoCase(name, L"linkhoverfontcolor")) {
    m_dwDefaultLinkHoverFontColor = ParseColor(value);
  } else if (EqualsNoCase(name, L"selectedcolor")) {
    m_dwDefaultSelectedBkColor = ParseColor(value);
  } else if (!name.empty()) {
    m_mWindowCustomAttrs[name] = value;
  }
}

std::wstring CUIManager::GetWindowCustomAttribute(const std::wstring& name) const {
  auto it = m_mWindowCustomAttrs.find(name);
  return it == m_mWindowCustomAttrs.end() ? std::wstring() : it->second;
}

HFONT CUIManager::AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic,
                          bool makeDefault) {
  HFONT h = MakeFont(face, size, bold, underline, italic);
  if (!h) return nullptr;
  TFontInfo f;
  f.hFont = h;
  f.sFontName = face;
  f.iSize = size;
  f.bBold = bold;
  f.bUnderline = underline;
  f.bItalic = italic;
  FillFontInfo(m_hDcPaint, f);
  auto it = m_mFonts.find(id);
  if (it != m_mFonts.end()) FreeFont(it->second);
  m_mFonts[id] = f;
  if (makeDefault) {
    TFontInfo copy = f;
    copy.hFont = MakeFont(face, size, bold, underline, italic);
    FillFontInfo(m_hDcPaint, copy);
    FreeFont(m_DefaultFont);
    m_DefaultFont = copy;
  }
  return h;
}

HFONT CUIManager::GetFont(int id) {
  TFontInfo* f = GetFontInfo(id);
  return f ? f->hFont : m_DefaultFont.hFont;
}

TFontInfo* CUIManager::GetFontInfo(int id) {
  auto it = m_mFonts.find(id);
  return it == m_mFonts.end() ? &m_DefaultFont : &it->second;
}

TFontInfo* CUIManager::GetDefaultFontInfo() { return &m_DefaultFont; }

TFontInfo* CUIManager::GetFontInfo(HFONT hFont) {
  if (hFont == m_DefaultFont.hFont) return &m_DefaultFont;
  for (auto& kv : m_mFonts) {
    if (kv.second.hFont == hFont) return &kv.second;
  }
  for (auto& f : m_aExtraFonts) {
    if (f.hFont == hFont) return &f;
  }
  return nullptr;
}

HFONT CUIManager::GetFont(const std::wstring& face, int size, bool bold, bool underline, bool italic) {
  auto same = [&](const TFontInfo& f) {
    return f.sFontName == face && f.iSize == size && f.bBold == bold && f.bUnderline == underline && f.bItalic == italic;
  };
  for (auto& kv : m_mFonts) {
    if (same(kv.second)) return kv.second.hFont;
  }
  for (auto& f : m_aExtraFonts) {
    if (same(f)) return f.hFont;
  }
  if (same(m_DefaultFont)) return m_DefaultFont.hFont;
  // Markup fonts are kept for the manager's life; bound the count so that
  // hostile markup cannot exhaust GDI objects.
  if (m_aExtraFonts.size() >= 64) return m_DefaultFont.hFont;
  TFontInfo f;
  f.hFont = MakeFont(face, size, bold, underline, italic);
  if (!f.hFont) return m_DefaultFont.hFont;
  f.sFontName = face;
  f.iSize = size;
  f.bBold = bold;
  f.bUnderline = underline;
  f.bItalic = italic;
  FillFontInfo(m_hDcPaint, f);
  m_aExtraFonts.push_back(f);
  return f.hFont;
}

const TImageInfo* CUIManager::GetImageEx(const std::wstring& name, DWORD mask, bool useMask) {
  auto it = m_mImages.find(name);
  if (it != m_mImages.end()) return it->second.get();
  if (m_mFailedImages.count(name)) return nullptr;
  return AddImage(name, mask, useMask);
}

const TImageInfo* CUIManager::AddImage(const std::wstring& name, DWORD mask, bool useMask) {
  std::string bytes;
  std::wstring error;
  if (!LoadSkinImage(name, bytes, error)) {
    LOGW(kLog_Info, L"image %ls not loaded: %ls", name.c_str(), error.c_str());
    m_mFailedImages[name] = true;
    return nullptr;
  }
  TImageInfo* info = CRenderEngine::LoadImageBytes(bytes, mask, useMask);
  if (!info) {
    LOGW(kLog_Info, L"image %ls could not be decoded", name.c_str());
    m_mFailedImages[name] = true;
    return nullptr;
  }
  m_mImages[name].reset(info);
  return info;
}

const TImageInfo* CUIManager::AddColourImage(DWORD argb) {
  wchar_t key[32];
  wsprintfW(key, L"*COLOR*%08X", argb);
  auto it = m_mImages.find(key);
  if (it != m_mImages.end()) return it->second.get();
  TImageInfo* info = CRenderEngine::MakeColourImage(argb);
  if (!info) return nullptr;
  m_mImages[key].reset(info);
  return info;
}

void CUIManager::AddDefaultAttributeList(const std::wstring& controlName, const std::wstring& list) {
  m_mDefaultAttrs[controlName] = list;
}

std::wstring CUIManager::GetDefaultAttributeList(const std::wstring& controlName) const {
  auto it = m_mDefaultAttrs.find(controlName);
  return it == m_mDefaultAttrs.end() ? std::wstring() : it->second;
}

void CUIManager::AddMultiLanguageString(int id, const std::wstring& text) { m_mMultiLanguage[id] = text; }

std::wstring CUIManager::ReplaceLanguageTokens(const std::wstring& text) const {
  if (m_mMultiLanguage.empty() || text.find(L"%{") == std::wstring::npos) return text;
  return SkinUI::ReplaceLanguageTokens(text, m_mMultiLanguage);
}

bool CUIManager::TranslateMessage(const LPMSG pMsg) {
  // The manager whose window is the target or one of its ancestors.
  HWND target = pMsg->hwnd;
  for (CUIManager* m : s_aPreMessages) {
    for (HWND h = target; h; h = GetParent(h)) {
      if (h == m->m_hWndPaint) {
        LRESULT lRes = 0;
        if (m->PreMessageHandler(pMsg->message, pMsg->wParam, pMsg->lParam, lRes)) return true;
        return false;
      }
      if (!(GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) break;
    }
  }
  return false;
}

bool CUIManager::PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
  std::vector<IMessageFilterUI*> filters = m_aPreMessageFilters;
  for (IMessageFilterUI* f : filters) {
    bool handled = false;
    LRESULT r = f->MessageHandler(uMsg, wParam, lParam, handled);
    if (handled) {
      lRes = r;
      return true;
    }
  }
  if (uMsg == WM_KEYDOWN && HandleNavigationKey(wParam)) {
    lRes = 0;
    return true;
  }
  return false;
}

void CUIManager::SetHot(CControlUI* pNew, POINT pt, DWORD now) {
  if (pNew == m_pEventHover) return;
  if (m_pEventHover) {
    TEventUI e;
    e.Type = UIEVENT_MOUSELEAVE;
    e.pSender = m_pEventHover;
    e.ptMouse = pt;
    e.dwTimestamp = now;
    CControlUI* old = m_pEventHover;
    m_pEventHover = nullptr;
    old->Event(e);
  }
  if (pNew) {
    TEventUI e;
    e.Type = UIEVENT_MOUSEENTER;
    e.pSender = pNew;
    e.ptMouse = pt;
    e.dwTimestamp = now;
    m_pEventHover = pNew;
    pNew->Event(e);
  }
}

void CUIManager::DoPaint() {
  PAINTSTRUCT ps;
  RECT rcClient;
  GetClientRect(m_hWndPaint, &rcClient);
  if (!m_pRoot) {
    BeginPaint(m_hWndPaint, &ps);
    EndPaint(m_hWndPaint, &ps);
    return;
  }
  if (m_bUpdateNeeded) {
    m_bUpdateNeeded = false;
    if (rcClient.right > rcClient.left && rcClient.bottom > rcClient.top) {
      m_pRoot->SetPos(rcClient, false);
      InvalidateRect(m_hWndPaint, nullptr, FALSE);
    }
    if (m_bFirstLayout) {
      m_bFirstLayout = false;
      SendNotify(m_pRoot, L"windowinit");
    }
  }
  BeginPaint(m_hWndPaint, &ps);
  int cx = rcClient.right - rcClient.left, cy = rcClient.bottom - rcClient.top;
  if (cx > 0 && cy > 0) {
    if (!m_hDcOffscreen || m_szOffscreen.cx != cx || m_szOffscreen.cy != cy) {
      if (m_hDcOffscreen) {
        SelectObject(m_hDcOffscreen, m_hbmpOffscreenOld);
        DeleteDC(m_hDcOffscreen);
      }
      if (m_hbmpOffscreen) DeleteObject(m_hbmpOffscreen);
      BITMAPINFO bmi{};
      bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
      bmi.bmiHeader.biWidth = cx;
      bmi.bmiHeader.biHeight = -cy;
      bmi.bmiHeader.biPlanes = 1;
      bmi.bmiHeader.biBitCount = 32;
      void* bits = nullptr;
      m_hDcOffscreen = CreateCompatibleDC(ps.hdc);
      m_hbmpOffscreen = CreateDIBSection(ps.hdc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
      m_hbmpOffscreenOld = static_cast<HBITMAP>(SelectObject(m_hDcOffscreen, m_hbmpOffscreen));
      m_szOffscreen = {cx, cy};
    }
    RECT rcPaint = ps.rcPaint;
    int saved = SaveDC(m_hDcOffscreen);
    IntersectClipRect(m_hDcOffscreen, rcPaint.left, rcPaint.top, rcPaint.right, rcPaint.bottom);
    m_pRoot->DoPaint(m_hDcOffscreen, rcPaint);
    PaintFocusRing(m_hDcOffscreen);
    RestoreDC(m_hDcOffscreen, saved);
    BitBlt(ps.hdc, rcPaint.left, rcPaint.top, rcPaint.right - rcPaint.left, rcPaint.bottom - rcPaint.top,
           m_hDcOffscreen, rcPaint.left, rcPaint.top, SRCCOPY);
    if (m_bShowUpdateRect) {
      HBRUSH b = CreateSolidBrush(RGB(255, 0, 0));
      FrameRect(ps.hdc, &rcPaint, b);
      DeleteObject(b);
    }
  }
  EndPaint(m_hWndPaint, &ps);
}

bool CUIManager::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
  if (!m_hWndPaint) return false;
  {
    std::vector<IMessageFilterUI*> filters = m_aMessageFilters;
    for (IMessageFilterUI* f : filters) {
      bool handled = false;
      LRESULT r = f->MessageHandler(uMsg, wParam, lParam, handled);
      if (handled) {
        lRes = r;
        return true;
      }
    }
  }
  const DWORD now = GetTickCount();
  switch (uMsg) {
    case WM_SKINUI_ASYNC_NOTIFY:
      SendQueued();
      return true;
    case WM_ERASEBKGND:
      lRes = 1;
      return true;
    case WM_PAINT:
      DoPaint();
      return true;
    case WM_SIZE:
      if (m_pRoot) m_pRoot->NeedUpdate();
      m_bUpdateNeeded = true;
      Invalidate();
      return false;
    case WM_GETMINMAXINFO: {
      auto* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
      if (m_szMinWindow.cx > 0) mmi->ptMinTrackSize.x = m_szMinWindow.cx;
      if (m_szMinWindow.cy > 0) mmi->ptMinTrackSize.y = m_szMinWindow.cy;
      if (m_szMaxWindow.cx > 0) mmi->ptMaxTrackSize.x = m_szMaxWindow.cx;
      if (m_szMaxWindow.cy > 0) mmi->ptMaxTrackSize.y = m_szMaxWindow.cy;
      return false;
    }
    case WM_TIMER:
      for (auto& t : m_aTimers) {
        if (t.uWinTimer == wParam && !t.bKilled) {
          TEventUI e;
          e.Type = UIEVENT_TIMER;
          e.pSender = t.pSender;
          e.dwTimestamp = now;
          e.ptMouse = m_ptLastMousePos;
          e.wParam = t.nLocalID;
          e.lParam = lParam;
          t.pSender->Event(e);
          return true;
        }
      }
      return false;
    case WM_MOUSEHOVER: {
      m_bMouseTracking = false;
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      CControlUI* c = FindControl(pt);
      if (c) {
        TEventUI e;
        e.Type = UIEVENT_MOUSEHOVER;
        e.pSender = c;
        e.ptMouse = pt;
        e.dwTimestamp = now;
        c->Event(e);
      }
      return true;
    }
    case WM_MOUSELEAVE:
      m_bMouseTracking = false;
      if (!m_bMouseCapture) {
        POINT pt{-1, -1};
        m_ptLastMousePos = pt;
        SetHot(nullptr, pt, now);
      }
      return false;
    case WM_MOUSEMOVE: {
      if (!m_bMouseTracking) {
        TRACKMOUSEEVENT tme{sizeof(tme), TME_HOVER | TME_LEAVE, m_hWndPaint, 1000};
        TrackMouseEvent(&tme);
        m_bMouseTracking = true;
      }
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      CControlUI* c = FindControl(pt);
      if (c && c->GetManager() != this) break;
      if (!m_bMouseCapture) SetHot(c, pt, now);
      CControlUI* target = (m_bMouseCapture && m_pEventClick) ? m_pEventClick : c;
      if (target) {
        TEventUI e;
        e.Type = UIEVENT_MOUSEMOVE;
        e.pSender = target;
        e.ptMouse = pt;
        e.wParam = wParam;
        e.lParam = lParam;
        e.dwTimestamp = now;
        e.wKeyState = static_cast<WORD>(wParam);
        target->Event(e);
      }
      return false;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      ::SetFocus(m_hWndPaint);
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      CControlUI* c = FindControl(pt);
      if (!c || c->GetManager() != this) break;
      m_pEventClick = c;
      SetFocus(c, false);
      SetCapture();
      TEventUI e;
      e.Type = uMsg == WM_LBUTTONDOWN ? UIEVENT_BUTTONDOWN : UIEVENT_DBLCLICK;
      e.pSender = c;
      e.ptMouse = pt;
      e.wParam = wParam;
      e.lParam = lParam;
      e.wKeyState = static_cast<WORD>(wParam);
      e.dwTimestamp = now;
      c->Event(e);
      return false;
    }
    case WM_LBUTTONUP: {
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      if (!m_pEventClick) break;
      ReleaseCapture();
      CControlUI* c = m_pEventClick;
      m_pEventClick = nullptr;
      TEventUI e;
      e.Type = UIEVENT_BUTTONUP;
      e.pSender = c;
      e.ptMouse = pt;
      e.wParam = wParam;
      e.lParam = lParam;
      e.wKeyState = static_cast<WORD>(wParam);
      e.dwTimestamp = now;
      c->Event(e);
      // The hot control may have changed while the mouse was captured.
      CControlUI* under = FindControl(pt);
      SetHot(under && under->GetManager() == this ? under : nullptr, pt, now);
      return false;
    }
    case WM_RBUTTONDOWN: {
      ::SetFocus(m_hWndPaint);
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      CControlUI* c = FindControl(pt);
      if (!c || c->GetManager() != this) break;
      c->SetFocus();
      TEventUI e;
      e.Type = UIEVENT_RBUTTONDOWN;
      e.pSender = c;
      e.ptMouse = pt;
      e.dwTimestamp = now;
      c->Event(e);
      return false;
    }
    case WM_CONTEXTMENU: {
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ::ScreenToClient(m_hWndPaint, &pt);
      CControlUI* c = FindControl(pt);
      if (!c) break;
      TEventUI e;
      e.Type = UIEVENT_CONTEXTMENU;
      e.pSender = c;
      e.ptMouse = pt;
      e.wParam = wParam;
      e.lParam = reinterpret_cast<LPARAM>(c);
      e.dwTimestamp = now;
      c->Event(e);
      return false;
    }
    case WM_MOUSEWHEEL: {
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ::ScreenToClient(m_hWndPaint, &pt);
      CControlUI* c = FindControl(pt);
      if (!c) break;
      TEventUI e;
      e.Type = UIEVENT_SCROLLWHEEL;
      e.pSender = c;
      e.ptMouse = pt;
      e.wParam = MAKELPARAM(static_cast<short>(HIWORD(wParam)) < 0 ? SB_LINEDOWN : SB_LINEUP, 0);
      e.dwTimestamp = now;
      c->Event(e);
      return false;
    }
    case WM_SETCURSOR: {
      if (LOWORD(lParam) != HTCLIENT) break;
      if (m_bMouseCapture) return true;
      POINT pt;
      GetCursorPos(&pt);
      ::ScreenToClient(m_hWndPaint, &pt);
      CControlUI* c = FindControl(pt);
      if (!c || !(c->GetControlFlags() & UIFLAG_SETCURSOR)) break;
      TEventUI e;
      e.Type = UIEVENT_SETCURSOR;
      e.pSender = c;
      e.ptMouse = pt;
      e.wParam = wParam;
      e.lParam = lParam;
      e.dwTimestamp = now;
      c->Event(e);
      lRes = TRUE;
      return true;
    }
    case WM_KEYDOWN:
    case WM_CHAR: {
      if (!m_pFocus) break;
      TEventUI e;
      e.Type = uMsg == WM_KEYDOWN ? UIEVENT_KEYDOWN : UIEVENT_CHAR;
      e.pSender = m_pFocus;
      e.chKey = static_cast<wchar_t>(wParam);
      e.ptMouse = m_ptLastMousePos;
      e.wParam = wParam;
      e.lParam = lParam;
      e.dwTimestamp = now;
      m_pFocus->Event(e);
      return false;
    }
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != m_hWndPaint) m_bMouseCapture = false;
      return false;
    default:
      break;
  }
  return false;
}

}  // namespace SkinUI
