// Keyboard navigation of the paint manager: the tab order of the visible
// page, moving the focus with Tab and Shift+Tab, and the focus ring.
#include <algorithm>

#include "ui/layout/ReadingOrder.h"
#include "ui/markup_tree/MarkupValues.h"
#include "ui/win/UIControl.h"
#include "ui/win/UIManager.h"

namespace SkinUI {

namespace {

constexpr DWORD kDefaultFocusRingColor = 0xFF337BDD;
constexpr int kFocusRingGap = 2;    // white space between the control and its ring
constexpr int kFocusRingWidth = 2;

bool IsTabStop(CControlUI* c) {
  const RECT& rc = c->GetPos();
  return c->IsVisible() && c->IsEnabled() && c->IsKeyboardEnabled() && (c->GetControlFlags() & UIFLAG_TABSTOP) &&
         rc.right > rc.left && rc.bottom > rc.top;
}

// Tab stops of the visible part of the tree; hidden containers are skipped whole.
void CollectTabStops(CControlUI* c, std::vector<CControlUI*>& out) {
  if (!c || !c->IsVisible()) return;
  if (IsTabStop(c)) out.push_back(c);
  if (auto* container = static_cast<IContainerUI*>(c->GetInterface(L"IContainer"))) {
    for (int i = 0; i < container->GetCount(); ++i) CollectTabStops(container->GetItemAt(i), out);
  }
}

}  // namespace

std::vector<CControlUI*> CUIManager::GetTabOrder() const {
  std::vector<CControlUI*> stops;
  CollectTabStops(m_pRoot, stops);
  std::vector<LayoutRect> rects;
  rects.reserve(stops.size());
  for (CControlUI* c : stops) {
    const RECT& r = c->GetPos();
    rects.push_back(LayoutRect{r.left, r.top, r.right, r.bottom});
  }
  std::vector<CControlUI*> ordered;
  ordered.reserve(stops.size());
  for (size_t i : ReadingOrder(rects, m_bRightToLeft)) ordered.push_back(stops[i]);
  return ordered;
}

bool CUIManager::MoveFocus(bool bBackward) {
  std::vector<CControlUI*> order = GetTabOrder();
  if (order.empty()) return false;
  auto at = std::find(order.begin(), order.end(), m_pFocus);
  CControlUI* next = nullptr;
  if (at == order.end()) {
    next = bBackward ? order.back() : order.front();
  } else {
    size_t i = static_cast<size_t>(at - order.begin());
    next = order[bBackward ? (i + order.size() - 1) % order.size() : (i + 1) % order.size()];
  }
  SetFocus(next);
  return true;
}

bool CUIManager::HandleNavigationKey(WPARAM key) {
  if (key != VK_TAB || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
  ShowFocusRing(true);
  MoveFocus(GetKeyState(VK_SHIFT) < 0);
  return true;
}

void CUIManager::ShowFocusRing(bool bShow) {
  if (m_bShowFocusRing == bShow) return;
  m_bShowFocusRing = bShow;
  InvalidateFocusRing(m_pFocus);
}

void CUIManager::InvalidateFocusRing(CControlUI* pControl) {
  if (!pControl) return;
  RECT rc = pControl->GetPos();
  InflateRect(&rc, kFocusRingGap + kFocusRingWidth, kFocusRingGap + kFocusRingWidth);
  Invalidate(rc);
}

void CUIManager::PaintFocusRing(HDC hDC) {
  if (!m_bShowFocusRing || !m_pFocus || !IsTabStop(m_pFocus)) return;
  RECT rc = m_pFocus->GetPos();
  InflateRect(&rc, kFocusRingGap, kFocusRingGap);
  DWORD argb = GetFocusRingColor();
  HPEN pen = CreatePen(PS_INSIDEFRAME, kFocusRingWidth, RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
  HGDIOBJ oldPen = SelectObject(hDC, pen);
  HGDIOBJ oldBrush = SelectObject(hDC, GetStockObject(NULL_BRUSH));
  RoundRect(hDC, rc.left - kFocusRingWidth, rc.top - kFocusRingWidth, rc.right + kFocusRingWidth,
            rc.bottom + kFocusRingWidth, 10, 10);
  SelectObject(hDC, oldBrush);
  SelectObject(hDC, oldPen);
  DeleteObject(pen);
}

DWORD CUIManager::GetFocusRingColor() const {
  std::wstring value = GetWindowCustomAttribute(L"focusringcolor");
  return value.empty() ? kDefaultFocusRingColor : ParseColor(value);
}

}  // namespace SkinUI
