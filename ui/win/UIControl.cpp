#include "ui/win/UIControl.h"

#include <algorithm>

#include "ui/layout/Layout.h"
#include "ui/markup_tree/MarkupValues.h"
#include "ui/win/UIRender.h"

namespace SkinUI {

namespace {

RECT ToRECT(const MarkupRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }
LayoutRect ToLayout(const RECT& r) { return LayoutRect{r.left, r.top, r.right, r.bottom}; }
RECT FromLayout(const LayoutRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

}  // namespace

// ---------------------------------------------------------------------------
// CControlUI

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
  if (m_pCover) {
    delete m_pCover;
    m_pCover = nullptr;
  }
  if (m_pManager) m_pManager->ReapObjects(this);
}

void CControlUI::Delete() {
  if (m_pManager) m_pManager->AddDelayedCleanup(this);
  else delete this;
}

void CControlUI::SetName(const std::wstring& name) {
  m_sName = name;
}

void* CControlUI::GetInterface(const std::wstring& name) {
  if (name == L"Control") return this;
  return nullptr;
}

bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

void CControlUI::SetManager(CUIManager* pManager, CControlUI* pParent, bool bInit) {
  if (m_pCover) m_pCover->SetManager(pManager, this, bInit);
  m_pManager = pManager;
  m_pParent = pParent;
  if (bInit && m_pParent) Init();
}

void CControlUI::SetCover(CControlUI* pControl) {
  if (m_pCover == pControl) return;
  delete m_pCover;
  m_pCover = pControl;
  if (m_pCover) m_pManager ? m_pManager->InitControls(m_pCover, this) : m_pCover->SetManager(nullptr, this, false);
}

void CControlUI::SetText(const std::wstring& text) {
  if (m_sText == text) return;
  m_sText = text;
  Invalidate();
  if (m_pManager) m_pManager->RaiseAccessibleEvent(this, EVENT_OBJECT_NAMECHANGE);
}

void CControlUI::SetPos(RECT rc, bool bNeedInvalidate) {
  if (rc.right < rc.left) rc.right = rc.left;
  if (rc.bottom < rc.top) rc.bottom = rc.top;
  RECT old = m_rcItem;
  m_rcItem = rc;
  m_bUpdateNeeded = false;
  if (bNeedInvalidate && m_pManager) {
    RECT u;
    UnionRect(&u, &old, &m_rcItem);
    m_pManager->Invalidate(u);
  }
  if (m_pCover && m_pCover->IsVisible()) {
    if (m_pCover->IsFloat()) {
      LayoutChild c;
      c.floatPos = ToLayout(m_pCover->GetFixedPos());
      m_pCover->SetPos(FromLayout(PlaceFloating(ToLayout(m_rcItem), c)), false);
    } else {
      m_pCover->SetPos(m_rcItem, false);
    }
  }
}

void CControlUI::SetPadding(RECT rc) { m_rcPadding = rc; NeedParentUpdate(); }
void CControlUI::SetFixedPos(RECT rc) {
  m_rcFixedPos = rc;
  m_cxyFixed.cx = rc.right - rc.left;
  m_cxyFixed.cy = rc.bottom - rc.top;
  NeedParentUpdate();
}
void CControlUI::SetFixedWidth(int cx) { if (cx >= 0) { m_cxyFixed.cx = cx; NeedParentUpdate(); } }
void CControlUI::SetFixedHeight(int cy) { if (cy >= 0) { m_cxyFixed.cy = cy; NeedParentUpdate(); } }
void CControlUI::SetMinWidth(int cx) { if (cx >= 0) { m_cxyMin.cx = cx; NeedParentUpdate(); } }
void CControlUI::SetMaxWidth(int cx) { if (cx >= 0) { m_cxyMax.cx = cx; NeedParentUpdate(); } }
void CControlUI::SetMinHeight(int cy) { if (cy >= 0) { m_cxyMin.cy = cy; NeedParentUpdate(); } }
void CControlUI::SetMaxHeight(int cy) { if (cy >= 0) { m_cxyMax.cy = cy; NeedParentUpdate(); } }

void CControlUI::SetVisible(bool bVisible) {
  if (m_bVisible == bVisible) return;
  bool wasVisible = IsVisible();
  m_bVisible = bVisible;
  if (m_bFocused) m_bFocused = false;
  if (!bVisible && m_pManager && m_pManager->GetFocus() == this) m_pManager->SetFocus(nullptr);
  if (IsVisible() != wasVisible) NeedParentUpdate();
  if (m_pCover) m_pCover->SetInternVisible(IsVisible());
  if (m_pManager && IsVisible() != wasVisible)
    m_pManager->RaiseAccessibleEvent(this, IsVisible() ? EVENT_OBJECT_SHOW : EVENT_OBJECT_HIDE);
}

void CControlUI::SetInternVisible(bool bVisible) {
  m_bInternVisible = bVisible;
  if (!bVisible && m_pManager && m_pManager->GetFocus() == this) m_pManager->SetFocus(nullptr);
  if (m_pCover) m_pCover->SetInternVisible(IsVisible());
}

void CControlUI::SetEnabled(bool bEnable) {
  if (m_bEnabled == bEnable) return;
  m_bEnabled = bEnable;
  if (!bEnable && m_pManager && m_pManager->GetFocus() == this) m_pManager->SetFocus(nullptr);
  Invalidate();
  if (m_pManager) m_pManager->RaiseAccessibleEvent(this, EVENT_OBJECT_STATECHANGE);
}

void CControlUI::SetFocus() {
  if (m_pManager) m_pManager->SetFocus(this, false);
}

void CControlUI::SetFloat(bool b) {
  if (m_bFloat == b) return;
  m_bFloat = b;
  NeedParentUpdate();
}

CControlUI* CControlUI::FindControl(FindControlProc Proc, void* pData, UINT uFlags) {
  if ((uFlags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
  if ((uFlags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
  if ((uFlags & UIFIND_HITTEST) &&
      (!m_bMouseEnabled || !PtInRect(&m_rcItem, *static_cast<POINT*>(pData)))) {
    return nullptr;
  }
  CControlUI* found = nullptr;
  if (m_pCover) found = m_pCover->FindControl(Proc, pData, uFlags);
  if (found) return found;
  return Proc(this, pData);
}

void CControlUI::Invalidate() {
  if (!IsVisible() || !m_pManager) return;
  RECT rc = m_rcItem;
  // Clip to every ancestor so that hidden overflow does not repaint others.
  for (CControlUI* p = m_pParent; p; p = p->GetParent()) {
    RECT parent = p->GetPos();
    if (!IntersectRect(&rc, &rc, &parent)) return;
  }
  m_pManager->Invalidate(rc);
}

void CControlUI::NeedUpdate() {
  if (!IsVisible()) return;
  m_bUpdateNeeded = true;
  Invalidate();
  if (m_pManager) m_pManager->NeedUpdate();
}

void CControlUI::NeedParentUpdate() {
  if (m_pParent) {
    m_pParent->NeedUpdate();
    m_pParent->Invalidate();
  } else {
    NeedUpdate();
  }
  if (m_pManager) m_pManager->NeedUpdate();
}

void CControlUI::Init() { DoInit(); }

void CControlUI::DoEvent(TEventUI& event) {
  if (event.Type == UIEVENT_SETCURSOR) {
    ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
    return;
  }
  if (event.Type == UIEVENT_SETFOCUS) {
    m_bFocused = true;
    Invalidate();
    if (m_pManager) {
      m_pManager->InvalidateFocusRing(this);
      m_pManager->RaiseAccessibleEvent(this, EVENT_OBJECT_FOCUS);
    }
    return;
  }
  if (event.Type == UIEVENT_KILLFOCUS) {
    m_bFocused = false;
    Invalidate();
    if (m_pManager) m_pManager->InvalidateFocusRing(this);
    return;
  }
  if (event.Type == UIEVENT_TIMER) {
    if (m_pManager) m_pManager->SendNotify(this, L"timer", event.wParam, event.lParam);
    return;
  }
  if (event.Type == UIEVENT_CONTEXTMENU && IsContextMenuUsed()) {
    if (m_pManager) m_pManager->SendNotify(this, L"menu", event.wParam, event.lParam);
    return;
  }
  if (m_pParent) m_pParent->DoEvent(event);
}

void CControlUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"pos") {
    RECT rc = ToRECT(ParseRect(value));
    SetFixedPos(rc);
  } else if (name == L"padding") SetPadding(ToRECT(ParseRect(value)));
  else if (name == L"bkcolor" || name == L"bkcolor1") SetBkColor(ParseColor(value));
  else if (name == L"bkcolor2") m_dwBackColor2 = ParseColor(value);
  else if (name == L"bkcolor3") m_dwBackColor3 = ParseColor(value);
  else if (name == L"bordercolor") SetBorderColor(ParseColor(value));
  else if (name == L"focusbordercolor") SetFocusBorderColor(ParseColor(value));
  else if (name == L"bordersize") {
    std::wstring v = value;
    if (v.find(L',') == std::wstring::npos) {
      SetBorderSize(ParseInt(v));
      m_rcBorderSize = RECT{0, 0, 0, 0};
    } else {
      m_rcBorderSize = ToRECT(ParseRect(v));
      Invalidate();
    }
  } else if (name == L"borderstyle") m_nBorderStyle = ParseInt(value);
  else if (name == L"borderround") {
    MarkupSize s = ParseSize(value);
    SetBorderRound(SIZE{s.cx, s.cy});
  } else if (name == L"bkimage") SetBkImage(value);
  else if (name == L"width") SetFixedWidth(ParseInt(value));
  else if (name == L"height") SetFixedHeight(ParseInt(value));
  else if (name == L"minwidth") SetMinWidth(ParseInt(value));
  else if (name == L"minheight") SetMinHeight(ParseInt(value));
  else if (name == L"maxwidth") SetMaxWidth(ParseInt(value));
  else if (name == L"maxheight") SetMaxHeight(ParseInt(value));
  else if (name == L"name") SetName(value);
  else if (name == L"text") SetText(value);
  else if (name == L"tooltip") SetToolTip(value);
  else if (name == L"userdata") SetUserData(value);
  else if (name == L"enabled") SetEnabled(ParseBool(value));
  else if (name == L"mouse") SetMouseEnabled(ParseBool(value));
  else if (name == L"keyboard") SetKeyboardEnabled(ParseBool(value));
  else if (name == L"visible") SetVisible(ParseBool(value));
  else if (name == L"float") {
    // "true", or "0,0,1,1"-style percentages of the container.
    if (value.find(L',') == std::wstring::npos) {
      SetFloat(ParseBool(value));
    } else {
      SetFloat(true);
      size_t pos = 0;
      for (int i = 0; i < 4; ++i) {
        size_t next = value.find(L',', pos);
        m_fFloatPercent[i] = static_cast<float>(_wtof(value.substr(pos, next - pos).c_str()));
        if (next == std::wstring::npos) break;
        pos = next + 1;
      }
    }
  } else if (name == L"shortcut") m_chShortcut = value.empty() ? 0 : value[0];
  else if (name == L"menu") m_bMenuUsed = ParseBool(value);
  else if (name == L"cover") {
    // Handled by the factory.
  } else if (!name.empty() && !value.empty()) {
    m_mCustomAttrs.emplace(name, value);  // the first value is kept
  }
}

void CControlUI::ApplyAttributeList(const std::wstring& list) {
  for (const auto& a : ParseAttributeList(list)) SetAttribute(a.name, a.value);
}

std::wstring CControlUI::GetCustomAttribute(const std::wstring& name) const {
  auto it = m_mCustomAttrs.find(name);
  return it == m_mCustomAttrs.end() ? std::wstring() : it->second;
}

void CControlUI::AddCustomAttribute(const std::wstring& name, const std::wstring& value) {
  if (!name.empty()) m_mCustomAttrs.emplace(name, value);
}

bool CControlUI::HasCustomAttribute(const std::wstring& name) const {
  return m_mCustomAttrs.count(name) != 0;
}

SIZE CControlUI::EstimateSize(SIZE) { return m_cxyFixed; }

bool CControlUI::IsPaintRectValid(const RECT& rcPaint, RECT& rcTemp) const {
  return IntersectRect(&rcTemp, &rcPaint, &m_rcItem) != FALSE;
}

bool CControlUI::DoPaint(HDC hDC, const RECT& rcPaint) {
  if (!IntersectRect(&m_rcPaint, &rcPaint, &m_rcItem)) return true;
  // Rounded corners clip everything the control paints.
  HRGN oldClip = nullptr;
  bool clipped = false;
  if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0) {
    oldClip = CreateRectRgn(0, 0, 0, 0);
    if (GetClipRgn(hDC, oldClip) != 1) {
      DeleteObject(oldClip);
      oldClip = nullptr;
    }
    HRGN round = CreateRoundRectRgn(m_rcItem.left, m_rcItem.top, m_rcItem.right + 1, m_rcItem.bottom + 1,
                                    m_cxyBorderRound.cx, m_cxyBorderRound.cy);
    ExtSelectClipRgn(hDC, round, RGN_AND);
    DeleteObject(round);
    clipped = true;
  }
  PaintBkColor(hDC);
  PaintBkImage(hDC);
  PaintStatusImage(hDC);
  PaintText(hDC);
  PaintBorder(hDC);
  if (clipped) {
    SelectClipRgn(hDC, oldClip);
    if (oldClip) DeleteObject(oldClip);
  }
  if (m_pCover && m_pCover->IsVisible()) m_pCover->DoPaint(hDC, rcPaint);
  return true;
}

void CControlUI::PaintBkColor(HDC hDC) {
  if (m_dwBackColor == 0) return;
  BYTE a = static_cast<BYTE>(m_dwBackColor >> 24);
  CRenderEngine::DrawColor(hDC, a < 255 ? m_rcItem : m_rcPaint, m_dwBackColor);
}

void CControlUI::PaintBkImage(HDC hDC) { DrawImage(hDC, m_bkImage); }

void CControlUI::PaintBorder(HDC hDC) {
  DWORD colour = (m_bFocused && m_dwFocusBorderColor != 0) ? m_dwFocusBorderColor : m_dwBorderColor;
  if (colour == 0 && m_dwBorderColor == 0) return;
  if (m_nBorderSize > 0) {
    if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0) {
      CRenderEngine::DrawRoundRect(hDC, m_rcItem, m_nBorderSize, m_cxyBorderRound.cx, m_cxyBorderRound.cy, colour);
    } else {
      CRenderEngine::DrawRect(hDC, m_rcItem, m_nBorderSize, colour);
    }
    return;
  }
  // Per-side widths.
  const RECT& b = m_rcBorderSize;
  const RECT& r = m_rcItem;
  if (b.left > 0) CRenderEngine::DrawColor(hDC, RECT{r.left, r.top, r.left + b.left, r.bottom}, colour | 0xFF000000);
  if (b.top > 0) CRenderEngine::DrawColor(hDC, RECT{r.left, r.top, r.right, r.top + b.top}, colour | 0xFF000000);
  if (b.right > 0) CRenderEngine::DrawColor(hDC, RECT{r.right - b.right, r.top, r.right, r.bottom}, colour | 0xFF000000);
  if (b.bottom > 0) CRenderEngine::DrawColor(hDC, RECT{r.left, r.bottom - b.bottom, r.right, r.bottom}, colour | 0xFF000000);
}

bool CControlUI::DrawImage(HDC hDC, CImageAttr& image) {
  if (!m_pManager) return false;
  return CRenderEngine::DrawImage(hDC, m_pManager, m_rcItem, m_rcPaint, image);
}

void CControlUI::SetBkColor(DWORD c) { m_dwBackColor = c; Invalidate(); }
void CControlUI::SetBorderColor(DWORD c) { m_dwBorderColor = c; Invalidate(); }
void CControlUI::SetFocusBorderColor(DWORD c) { m_dwFocusBorderColor = c; Invalidate(); }
void CControlUI::SetBorderSize(int n) { m_nBorderSize = std::max(0, n); Invalidate(); }
void CControlUI::SetBorderRound(SIZE sz) { m_cxyBorderRound = sz; Invalidate(); }
void CControlUI::SetBkImage(const std::wstring& image) {
  m_bkImage.Set(image);
  Invalidate();
}

// ---------------------------------------------------------------------------
// CContainerUI

CContainerUI::~CContainerUI() {
  for (CControlUI* c : m_items) delete c;
  m_items.clear();
}

void* CContainerUI::GetInterface(const std::wstring& name) {
  if (name == L"IContainer") return static_cast<IContainerUI*>(this);
  if (name == L"Container") return static_cast<CContainerUI*>(this);
  return CControlUI::GetInterface(name);
}

CControlUI* CContainerUI::GetItemAt(int i) const {
  return i >= 0 && i < GetCount() ? m_items[i] : nullptr;
}

int CContainerUI::GetItemIndex(CControlUI* p) const {
  auto it = std::find(m_items.begin(), m_items.end(), p);
  return it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
}

bool CContainerUI::SetItemIndex(CControlUI* p, int i) {
  int from = GetItemIndex(p);
  if (from < 0 || i < 0 || i >= GetCount()) return false;
  m_items.erase(m_items.begin() + from);
  m_items.insert(m_items.begin() + i, p);
  NeedUpdate();
  return true;
}

bool CContainerUI::Add(CControlUI* p) { return AddAt(p, GetCount()); }

bool CContainerUI::AddAt(CControlUI* p, int i) {
  if (!p || i < 0 || i > GetCount()) return false;
  if (m_pManager) m_pManager->InitControls(p, this);
  else p->SetManager(nullptr, this, false);
  if (IsVisible()) NeedUpdate();
  else p->SetInternVisible(false);
  m_items.insert(m_items.begin() + i, p);
  return true;
}

bool CContainerUI::Remove(CControlUI* p) {
  int i = GetItemIndex(p);
  return i >= 0 && RemoveAt(i);
}

bool CContainerUI::RemoveAt(int i) {
  CControlUI* p = GetItemAt(i);
  if (!p) return false;
  m_items.erase(m_items.begin() + i);
  NeedUpdate();
  p->Delete();
  return true;
}

void CContainerUI::RemoveAll() {
  for (CControlUI* c : m_items) c->Delete();
  m_items.clear();
  NeedUpdate();
}

void CContainerUI::SetInset(RECT rc) { m_rcInset = rc; NeedUpdate(); }
void CContainerUI::SetChildPadding(int n) { m_iChildPadding = n; NeedUpdate(); }

void CContainerUI::SetVisible(bool bVisible) {
  if (m_bVisible == bVisible) return;
  CControlUI::SetVisible(bVisible);
  for (CControlUI* c : m_items) c->SetInternVisible(IsVisible());
}

void CContainerUI::SetInternVisible(bool bVisible) {
  CControlUI::SetInternVisible(bVisible);
  for (CControlUI* c : m_items) c->SetInternVisible(IsVisible());
}

void CContainerUI::SetManager(CUIManager* pManager, CControlUI* pParent, bool bInit) {
  for (CControlUI* c : m_items) c->SetManager(pManager, this, bInit);
  CControlUI::SetManager(pManager, pParent, bInit);
}

CControlUI* CContainerUI::FindControl(FindControlProc Proc, void* pData, UINT uFlags) {
  if ((uFlags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
  if ((uFlags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
  if ((uFlags & UIFIND_HITTEST) && !PtInRect(&m_rcItem, *static_cast<POINT*>(pData))) return nullptr;
  CControlUI* found = nullptr;
  if (m_pCover) found = m_pCover->FindControl(Proc, pData, uFlags);
  if (found) return found;
  if ((uFlags & UIFIND_ME_FIRST) && (found = CControlUI::FindControl(Proc, pData, uFlags))) return found;
  if (uFlags & UIFIND_HITTEST) {
    // The last child painted is on top: search from the end.
    if (m_bMouseChildEnabled) {
      for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
        if ((found = (*it)->FindControl(Proc, pData, uFlags))) return found;
      }
    }
    return m_bMouseEnabled ? CControlUI::FindControl(Proc, pData, uFlags) : nullptr;
  }
  for (CControlUI* c : m_items) {
    if ((found = c->FindControl(Proc, pData, uFlags))) return found;
  }
  if (!(uFlags & UIFIND_ME_FIRST)) return CControlUI::FindControl(Proc, pData, uFlags);
  return nullptr;
}

void CContainerUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"inset") SetInset(ToRECT(ParseRect(value)));
  else if (name == L"childpadding") SetChildPadding(ParseInt(value));
  else if (name == L"childalign") {
    m_iChildAlign = value == L"center" ? DT_CENTER : value == L"right" ? DT_RIGHT : DT_LEFT;
  } else if (name == L"childvalign") {
    m_iChildVAlign = value == L"vcenter" ? DT_VCENTER : value == L"bottom" ? DT_BOTTOM : DT_TOP;
  } else if (name == L"mousechild") m_bMouseChildEnabled = ParseBool(value);
  else if (name == L"vscrollbar" || name == L"hscrollbar") {
    // Scroll bars are not part of this toolkit's skin: accepted and ignored.
  } else CControlUI::SetAttribute(name, value);
}

void CContainerUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CControlUI::SetPos(rc, bNeedInvalidate);
  RECT inner{rc.left + m_rcInset.left, rc.top + m_rcInset.top, rc.right - m_rcInset.right,
             rc.bottom - m_rcInset.bottom};
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* c = m_items[i];
    if (!c->IsVisible()) continue;
    if (c->IsFloat()) SetFloatPos(i);
    else c->SetPos(inner, false);
  }
}

void CContainerUI::SetFloatPos(int iIndex) {
  CControlUI* c = GetItemAt(iIndex);
  if (!c) return;
  LayoutChild lc;
  lc.floating = true;
  lc.floatPos = ToLayout(c->GetFixedPos());
  std::copy(c->GetFloatPercent(), c->GetFloatPercent() + 4, lc.floatPercent);
  c->SetPos(FromLayout(PlaceFloating(ToLayout(m_rcItem), lc)), false);
}

void CContainerUI::LayoutStack(bool vertical) {
  std::vector<LayoutChild> children;
  children.reserve(m_items.size());
  for (CControlUI* c : m_items) {
    LayoutChild lc;
    lc.visible = c->IsVisible();
    lc.floating = c->IsFloat();
    RECT p = c->GetPadding();
    lc.padding = ToLayout(p);
    lc.fixedWidth = c->GetFixedWidth();
    lc.fixedHeight = c->GetFixedHeight();
    lc.minWidth = c->GetMinWidth();
    lc.maxWidth = c->GetMaxWidth();
    lc.minHeight = c->GetMinHeight();
    lc.maxHeight = c->GetMaxHeight();
    lc.floatPos = ToLayout(c->GetFixedPos());
    std::copy(c->GetFloatPercent(), c->GetFloatPercent() + 4, lc.floatPercent);
    lc.estimate = [c](LayoutSize avail) {
      SIZE s = c->EstimateSize(SIZE{avail.cx, avail.cy});
      return LayoutSize{s.cx, s.cy};
    };
    children.push_back(std::move(lc));
  }
  StackParams params;
  params.item = ToLayout(m_rcItem);
  params.inset = ToLayout(m_rcInset);
  params.childPadding = m_iChildPadding;
  UINT align = vertical ? m_iChildAlign : m_iChildVAlign;
  params.align = (align == DT_CENTER || align == DT_VCENTER) ? ChildAlign::kCenter
                 : (align == DT_RIGHT || align == DT_BOTTOM) ? ChildAlign::kEnd
                                                             : ChildAlign::kBegin;
  std::vector<LayoutRect> rects = vertical ? LayoutVertical(params, children) : LayoutHorizontal(params, children);
  for (size_t i = 0; i < m_items.size(); ++i) {
    if (!m_items[i]->IsVisible()) continue;
    m_items[i]->SetPos(FromLayout(rects[i]), false);
  }
}

bool CContainerUI::DoPaint(HDC hDC, const RECT& rcPaint) {
  RECT rcTemp;
  if (!IntersectRect(&rcTemp, &rcPaint, &m_rcItem)) return true;
  // Children paint inside this container only.
  int saved = SaveDC(hDC);
  IntersectClipRect(hDC, rcTemp.left, rcTemp.top, rcTemp.right, rcTemp.bottom);
  CControlUI* cover = m_pCover;
  m_pCover = nullptr;  // painted after the children
  CControlUI::DoPaint(hDC, rcPaint);
  m_pCover = cover;
  for (CControlUI* c : m_items) {
    if (!c->IsVisible()) continue;
    RECT r = c->GetPos();
    RECT t;
    if (!IntersectRect(&t, &rcTemp, &r)) continue;
    c->DoPaint(hDC, rcTemp);
  }
  RestoreDC(hDC, saved);
  if (m_pCover && m_pCover->IsVisible()) m_pCover->DoPaint(hDC, rcPaint);
  return true;
}

void CContainerUI::DoEvent(TEventUI& event) {
  if (event.Type == UIEVENT_SETFOCUS || event.Type == UIEVENT_KILLFOCUS) {
    m_bFocused = event.Type == UIEVENT_SETFOCUS;
    return;
  }
  CControlUI::DoEvent(event);
}

// ---------------------------------------------------------------------------
// Layouts

void* CVerticalLayoutUI::GetInterface(const std::wstring& name) {
  if (name == L"VerticalLayout") return this;
  return CContainerUI::GetInterface(name);
}

void CVerticalLayoutUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CControlUI::SetPos(rc, bNeedInvalidate);
  LayoutStack(true);
}

void* CHorizontalLayoutUI::GetInterface(const std::wstring& name) {
  if (name == L"HorizontalLayout") return this;
  return CContainerUI::GetInterface(name);
}

void CHorizontalLayoutUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CControlUI::SetPos(rc, bNeedInvalidate);
  LayoutStack(false);
}

void* CTabLayoutUI::GetInterface(const std::wstring& name) {
  if (name == L"TabLayout") return this;
  return CContainerUI::GetInterface(name);
}

bool CTabLayoutUI::Add(CControlUI* p) { return AddAt(p, GetCount()); }

bool CTabLayoutUI::AddAt(CControlUI* p, int i) {
  if (!CContainerUI::AddAt(p, i)) return false;
  if (m_iCurSel < 0 && p->IsVisible()) {
    m_iCurSel = GetItemIndex(p);
  } else {
    if (m_iCurSel >= 0 && i <= m_iCurSel) ++m_iCurSel;
    p->SetVisible(false);
  }
  return true;
}

bool CTabLayoutUI::Remove(CControlUI* p) {
  int i = GetItemIndex(p);
  if (i < 0) return false;
  bool wasCurrent = i == m_iCurSel;
  if (!CContainerUI::RemoveAt(i)) return false;
  if (wasCurrent) {
    m_iCurSel = -1;
    if (GetCount() > 0) {
      m_iCurSel = 0;
      GetItemAt(0)->SetVisible(true);
    }
  } else if (i < m_iCurSel) {
    --m_iCurSel;
  }
  NeedParentUpdate();
  return true;
}

void CTabLayoutUI::RemoveAll() {
  m_iCurSel = -1;
  CContainerUI::RemoveAll();
  NeedParentUpdate();
}

bool CTabLayoutUI::SelectItem(int iIndex, bool bTriggerEvent) {
  if (iIndex < 0 || iIndex >= GetCount()) return false;
  if (iIndex == m_iCurSel) return true;
  int old = m_iCurSel;
  m_iCurSel = iIndex;
  for (int i = 0; i < GetCount(); ++i) {
    if (i == iIndex) {
      m_items[i]->SetVisible(true);
      m_items[i]->SetFocus();
    } else {
      m_items[i]->SetVisible(false);
    }
  }
  NeedParentUpdate();
  if (m_pManager) {
    if (bTriggerEvent) m_pManager->SendNotify(this, L"tabselect", m_iCurSel, old);
  }
  return true;
}

bool CTabLayoutUI::SelectItem(CControlUI* p, bool bTriggerEvent) {
  int i = GetItemIndex(p);
  return i >= 0 && SelectItem(i, bTriggerEvent);
}

void CTabLayoutUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CControlUI::SetPos(rc, bNeedInvalidate);
  RECT inner{rc.left + m_rcInset.left, rc.top + m_rcInset.top, rc.right - m_rcInset.right,
             rc.bottom - m_rcInset.bottom};
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* c = m_items[i];
    if (!c->IsVisible()) continue;
    if (c->IsFloat()) SetFloatPos(i);
    else if (i == m_iCurSel) c->SetPos(inner, false);
  }
}

void CTabLayoutUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"selectedid") SelectItem(ParseInt(value), false);
  else CContainerUI::SetAttribute(name, value);
}

}  // namespace SkinUI
