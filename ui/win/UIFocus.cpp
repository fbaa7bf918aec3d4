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

// The visible tree in reading order: each container's visible children are
// ordered by their rectangles (ReadingOrder) and visited in that order, so
// the skin's columns keep together; hidden containers are skipped whole.
void CollectInReadingOrder(CControlUI* c, bool rightToLeft, bool (*take)(CControlUI*), std::vector<CControlUI*>& out) {
  if (!c || !c->IsVisible()) return;
  if (take(c)) out.push_back(c);
  auto* container = static_cast<IContainerUI*>(c->GetInterface(L"IContainer"));
  if (!container) return;
  std::vector<CControlUI*> children;
  std::vector<LayoutRect> rects;
  for (int i = 0; i < container->GetCount(); ++i) {
    CControlUI* child = container->GetItemAt(i);
    if (!child || !child->IsVisible()) continue;
    const RECT& r = child->GetPos();
    children.push_back(child);
    rects.push_back(LayoutRect{r.left, r.top, r.right, r.bottom});
  }
  for (size_t i : ReadingOrder(rects, rightToLeft)) CollectInReadingOrder(children[i], rightToLeft, take, out);
}

}  // namespace

std::vector<CControlUI*> ControlsInReadingOrder(CControlUI* root, bool rightToLeft, bool (*take)(CControlUI*)) {
  std::vector<CControlUI*> out;
  CollectInReadingOrder(root, rightToLeft, take, out);
  return out;
}

std::vector<CControlUI*> CUIManager::GetTabOrder() const {
  return ControlsInReadingOrder(m_pRoot, m_bRightToLeft, &IsTabStop);
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
