#include "ui/win/UIControls.h"

#include <algorithm>

#include "log/Log.h"
#include "ui/markup_tree/MarkupValues.h"
#include "ui/win/UIRender.h"

namespace SkinUI {

namespace {

RECT ToRECT(const MarkupRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

RECT Deflate(const RECT& rc, const RECT& pad) {
  RECT r{rc.left + pad.left, rc.top + pad.top, rc.right - pad.right, rc.bottom - pad.bottom};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

// "align": searched for left, center, right in this order, the last match wins.
UINT ParseAlign(const std::wstring& v, UINT style) {
  if (v.find(L"left") != std::wstring::npos) style = (style & ~(DT_CENTER | DT_RIGHT)) | DT_LEFT;
  if (v.find(L"center") != std::wstring::npos) style = (style & ~(DT_LEFT | DT_RIGHT)) | DT_CENTER;
  if (v.find(L"right") != std::wstring::npos) style = (style & ~(DT_LEFT | DT_CENTER)) | DT_RIGHT;
  return style;
}

UINT ParseVAlign(const std::wstring& v, UINT style) {
  if (v.find(L"top") != std::wstring::npos) style = (style & ~(DT_BOTTOM | DT_VCENTER)) | DT_TOP;
  if (v.find(L"vcenter") != std::wstring::npos) style = (style & ~(DT_TOP | DT_BOTTOM)) | DT_VCENTER;
  if (v.find(L"bottom") != std::wstring::npos) style = (style & ~(DT_TOP | DT_VCENTER)) | DT_BOTTOM;
  return style;
}

bool IsTextEffectAttribute(const std::wstring& n) {
  static const wchar_t* const kNames[] = {
      L"enabledeffect", L"enabledluminous", L"luminousfuzzy", L"gradientangle", L"enabledstroke",
      L"enabledshadow", L"gradientlength", L"shadowoffset", L"textcolor1", L"textshadowcolora",
      L"textshadowcolorb", L"strokecolor"};
  for (const wchar_t* k : kNames) {
    if (n == k) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// CLabelUI

CLabelUI::CLabelUI() : m_uTextStyle(DT_VCENTER | DT_SINGLELINE) {}

void* CLabelUI::GetInterface(const std::wstring& name) {
  if (name == L"Label") return this;
  return CControlUI::GetInterface(name);
}

void CLabelUI::SetText(const std::wstring& text) {
  if (m_sText == text) return;
  CControlUI::SetText(text);
  if (m_cxyFixed.cx == 0 || m_cxyFixed.cy == 0 || IsMultiLine()) NeedParentUpdate();
}

void CLabelUI::SetMultiLine(bool b) {
  if (b) m_uTextStyle = (m_uTextStyle & ~DT_SINGLELINE) | DT_WORDBREAK;
  else m_uTextStyle = (m_uTextStyle & ~DT_WORDBREAK) | DT_SINGLELINE;
  NeedParentUpdate();
}

std::wstring CLabelUI::DisplayText() const {
  return m_pManager ? m_pManager->ReplaceLanguageTokens(m_sText) : m_sText;
}

int CLabelUI::FontHeight() const {
  if (!m_pManager) return 12;
  TFontInfo* f = m_pManager->GetFontInfo(m_iFont);
  if (!f) f = m_pManager->GetDefaultFontInfo();
  return f ? f->tm.tmHeight : 12;
}

SIZE CLabelUI::EstimateSize(SIZE szAvailable) {
  if (m_cxyFixed.cx > 0 && m_cxyFixed.cy > 0) return m_cxyFixed;
  if (!m_pManager) return m_cxyFixed;
  std::wstring text = DisplayText();
  if (szAvailable.cx == m_szAvailableLast.cx && szAvailable.cy == m_szAvailableLast.cy &&
      text == m_sTextLast && m_cxyFixedLast.cx == m_cxyFixed.cx && m_cxyFixedLast.cy == m_cxyFixed.cy) {
    return m_szEstimated;
  }
  m_szAvailableLast = szAvailable;
  m_sTextLast = text;
  m_cxyFixedLast = m_cxyFixed;
  HDC hDC = m_pManager->GetPaintDC();
  SIZE sz{0, 0};
  if (!IsMultiLine()) {
    sz.cy = m_cxyFixed.cy > 0 ? m_cxyFixed.cy : m_rcTextPadding.top + FontHeight() + m_rcTextPadding.bottom + 8;
    if (m_cxyFixed.cx > 0) {
      sz.cx = m_cxyFixed.cx;
    } else if (hDC) {
      RECT rc{0, 0, 9999, 9999};
      if (m_bShowHtml) {
        CRenderEngine::DrawHtmlText(hDC, m_pManager, rc, text, 0, nullptr, 0, nullptr, m_iFont,
                                    DT_CALCRECT | DT_SINGLELINE);
        sz.cx = rc.right - rc.left;
      } else {
        sz.cx = CRenderEngine::GetTextSize(hDC, m_pManager, text, m_iFont, 0).cx;
      }
      sz.cx += m_rcTextPadding.left + m_rcTextPadding.right;
    }
  } else {
    sz.cx = m_cxyFixed.cx > 0 ? m_cxyFixed.cx : szAvailable.cx;
    if (hDC) {
      RECT rc{0, 0, sz.cx - m_rcTextPadding.left - m_rcTextPadding.right, 9999};
      if (m_bShowHtml) {
        CRenderEngine::DrawHtmlText(hDC, m_pManager, rc, text, 0, nullptr, 0, nullptr, m_iFont,
                                    DT_CALCRECT | (m_uTextStyle & ~DT_SINGLELINE));
      } else {
        CRenderEngine::DrawPlainText(hDC, m_pManager, rc, text, 0, m_iFont, DT_CALCRECT | DT_WORDBREAK);
      }
      sz.cy = m_cxyFixed.cy > 0 ? m_cxyFixed.cy : rc.bottom - rc.top + m_rcTextPadding.top + m_rcTextPadding.bottom;
    }
  }
  m_szEstimated = sz;
  return sz;
}

void CLabelUI::DoEvent(TEventUI& event) {
  CControlUI::DoEvent(event);
}

void CLabelUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"align") m_uTextStyle = ParseAlign(value, m_uTextStyle);
  else if (name == L"valign") m_uTextStyle = ParseVAlign(value, m_uTextStyle);
  else if (name == L"endellipsis") {
    if (ParseBool(value)) m_uTextStyle |= DT_END_ELLIPSIS;
    else m_uTextStyle &= ~DT_END_ELLIPSIS;
  } else if (name == L"font") SetFont(ParseInt(value));
  else if (name == L"textcolor") SetTextColor(ParseColor(value));
  else if (name == L"disabledtextcolor") SetDisabledTextColor(ParseColor(value));
  else if (name == L"textpadding") SetTextPadding(ToRECT(ParseRect(value)));
  else if (name == L"multiline") SetMultiLine(ParseBool(value));
  else if (name == L"showhtml") SetShowHtml(ParseBool(value));
  else if (IsTextEffectAttribute(name)) {
    // Text effects are drawn as plain text by this toolkit.
  } else CControlUI::SetAttribute(name, value);
}

void CLabelUI::DrawLabelText(HDC hDC, RECT rc, DWORD colour, std::vector<MarkupLink>* links,
                             size_t maxLinks, const std::vector<MarkupLink>* previous) {
  std::wstring text = DisplayText();
  if (text.empty()) return;
  rc = Deflate(rc, m_rcTextPadding);
  if (m_bShowHtml) {
    CRenderEngine::DrawHtmlText(hDC, m_pManager, rc, text, colour, links, maxLinks, previous, m_iFont, m_uTextStyle);
  } else {
    CRenderEngine::DrawPlainText(hDC, m_pManager, rc, text, colour, m_iFont, m_uTextStyle);
  }
}

void CLabelUI::PaintText(HDC hDC) {
  if (!m_pManager) return;
  DWORD colour = IsEnabled() ? (m_dwTextColor ? m_dwTextColor : m_pManager->GetDefaultFontColor())
                             : (m_dwDisabledTextColor ? m_dwDisabledTextColor : m_pManager->GetDefaultDisabledColor());
  DrawLabelText(hDC, m_rcItem, colour);
}

// ---------------------------------------------------------------------------
// CButtonUI

CButtonUI::CButtonUI() { m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER; }

void* CButtonUI::GetInterface(const std::wstring& name) {
  if (name == L"Button") return this;
  return CLabelUI::GetInterface(name);
}

UINT CButtonUI::GetControlFlags() const {
  return (IsKeyboardEnabled() ? UIFLAG_TABSTOP : 0) | (IsEnabled() ? UIFLAG_SETCURSOR : 0);
}

bool CButtonUI::Activate() {
  if (!CControlUI::Activate()) return false;
  if (m_pManager) m_pManager->SendNotify(this, L"click");
  return true;
}

void CButtonUI::SetEnabled(bool bEnable) {
  CControlUI::SetEnabled(bEnable);
  if (!IsEnabled()) m_uButtonState = 0;
}

void CButtonUI::DoEvent(TEventUI& event) {
  if (!IsMouseEnabled() && event.Type > UIEVENT_MOUSEMOVE - 1 && event.Type <= UIEVENT_SCROLLWHEEL) {
    if (m_pParent) m_pParent->DoEvent(event);
    else CLabelUI::DoEvent(event);
    return;
  }
  switch (event.Type) {
    case UIEVENT_SETFOCUS:
    case UIEVENT_KILLFOCUS:
      CControlUI::DoEvent(event);
      return;
    case UIEVENT_KEYDOWN:
      // A held key repeats its key-down (bit 30 set): it activates once.
      if ((event.lParam & (1 << 30)) == 0 && IsKeyboardEnabled() &&
          (event.chKey == VK_SPACE || event.chKey == VK_RETURN)) {
        Activate();
        return;
      }
      break;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
      if (PtInRect(&m_rcItem, event.ptMouse) && IsEnabled()) {
        m_uButtonState |= UISTATE_PUSHED | UISTATE_CAPTURED;
        Invalidate();
      }
      return;
    case UIEVENT_MOUSEMOVE:
      if (m_uButtonState & UISTATE_CAPTURED) {
        if (PtInRect(&m_rcItem, event.ptMouse)) m_uButtonState |= UISTATE_PUSHED;
        else m_uButtonState &= ~UISTATE_PUSHED;
        Invalidate();
      }
      return;
    case UIEVENT_BUTTONUP:
      if (m_uButtonState & UISTATE_CAPTURED) {
        m_uButtonState &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
        Invalidate();
        if (PtInRect(&m_rcItem, event.ptMouse)) Activate();
      }
      return;
    case UIEVENT_MOUSEENTER:
      if (IsEnabled() && PtInRect(&m_rcItem, event.ptMouse)) {
        m_uButtonState |= UISTATE_HOT;
        Invalidate();
      }
      return;
    case UIEVENT_MOUSELEAVE:
      if (m_uButtonState & UISTATE_HOT) {
        m_uButtonState &= ~UISTATE_HOT;
        Invalidate();
      }
      return;
    case UIEVENT_SETCURSOR:
      ::SetCursor(::LoadCursor(nullptr, IDC_HAND));
      return;
    default:
      break;
  }
  CLabelUI::DoEvent(event);
}

SIZE CButtonUI::EstimateSize(SIZE) {
  return SIZE{m_cxyFixed.cx, m_cxyFixed.cy > 0 ? m_cxyFixed.cy : FontHeight() + 8};
}

void CButtonUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"normalimage") SetNormalImage(value);
  else if (name == L"hotimage") SetHotImage(value);
  else if (name == L"pushedimage") SetPushedImage(value);
  else if (name == L"focusedimage") { m_focusedImage.Set(value); Invalidate(); }
  else if (name == L"disabledimage") SetDisabledImage(value);
  else if (name == L"foreimage") { m_foreImage.Set(value); Invalidate(); }
  else if (name == L"fivestatusimage") { m_fiveStatusImage.Set(value); Invalidate(); }
  else if (name == L"fadedelta") m_nFadeDelta = std::clamp(ParseInt(value), 0, 255);
  else if (name == L"hotbkcolor") m_dwHotBkColor = ParseColor(value);
  else if (name == L"hottextcolor") m_dwHotTextColor = ParseColor(value);
  else if (name == L"pushedtextcolor") m_dwPushedTextColor = ParseColor(value);
  else if (name == L"focusedtextcolor") m_dwFocusedTextColor = ParseColor(value);
  else CLabelUI::SetAttribute(name, value);
}

DWORD CButtonUI::StateTextColor() const {
  if (!IsEnabled()) return m_dwDisabledTextColor ? m_dwDisabledTextColor : m_pManager->GetDefaultDisabledColor();
  if ((m_uButtonState & UISTATE_PUSHED) && m_dwPushedTextColor) return m_dwPushedTextColor;
  if ((m_uButtonState & UISTATE_HOT) && m_dwHotTextColor) return m_dwHotTextColor;
  if (IsFocused() && m_dwFocusedTextColor) return m_dwFocusedTextColor;
  return m_dwTextColor ? m_dwTextColor : m_pManager->GetDefaultFontColor();
}

void CButtonUI::PaintText(HDC hDC) {
  if (!m_pManager) return;
  DrawLabelText(hDC, m_rcItem, StateTextColor());
}

void CButtonUI::PaintStatusImage(HDC hDC) {
  if (IsFocused()) m_uButtonState |= UISTATE_FOCUSED;
  else m_uButtonState &= ~UISTATE_FOCUSED;
  if (!IsEnabled()) m_uButtonState |= UISTATE_DISABLED;
  else m_uButtonState &= ~UISTATE_DISABLED;

  if (m_uButtonState & UISTATE_DISABLED) {
    if (DrawImage(hDC, m_disabledImage)) goto fore;
  } else if (m_uButtonState & UISTATE_PUSHED) {
    if (DrawImage(hDC, m_pushedImage)) goto fore;
  } else if (m_uButtonState & UISTATE_HOT) {
    if (!DrawImage(hDC, m_hotImage)) DrawImage(hDC, m_normalImage);
    if (m_dwHotBkColor) CRenderEngine::DrawColor(hDC, m_rcPaint, m_dwHotBkColor);
    goto fore;
  } else if (m_uButtonState & UISTATE_FOCUSED) {
    if (DrawImage(hDC, m_focusedImage)) goto fore;
  }
  DrawImage(hDC, m_normalImage);
fore:
  DrawImage(hDC, m_foreImage);
}

// ---------------------------------------------------------------------------
// COptionUI / CCheckBoxUI

COptionUI::~COptionUI() {
  if (!m_sGroupName.empty() && m_pManager) m_pManager->RemoveOptionGroup(m_sGroupName, this);
}

void* COptionUI::GetInterface(const std::wstring& name) {
  if (name == L"Option") return this;
  return CButtonUI::GetInterface(name);
}

void COptionUI::SetManager(CUIManager* pManager, CControlUI* pParent, bool bInit) {
  CControlUI::SetManager(pManager, pParent, bInit);
  if (bInit && !m_sGroupName.empty() && m_pManager) m_pManager->AddOptionGroup(m_sGroupName, this);
}

void COptionUI::SetGroup(const std::wstring& group) {
  if (group == m_sGroupName) return;
  if (!m_sGroupName.empty() && m_pManager) m_pManager->RemoveOptionGroup(m_sGroupName, this);
  m_sGroupName = group;
  if (!m_sGroupName.empty() && m_pManager) m_pManager->AddOptionGroup(m_sGroupName, this);
  Selected(m_bSelected, false);
}

void COptionUI::Selected(bool bSelected, bool bTriggerEvent) {
  if (m_bSelected == bSelected) return;
  m_bSelected = bSelected;
  if (m_bSelected) m_uButtonState |= UISTATE_SELECTED;
  else m_uButtonState &= ~UISTATE_SELECTED;
  if (m_pManager) {
    if (!m_sGroupName.empty()) {
      if (m_bSelected) {
        if (auto* group = m_pManager->GetOptionGroup(m_sGroupName)) {
          for (COptionUI* other : *group) {
            if (other != this) other->Selected(false, false);
          }
        }
        if (bTriggerEvent) m_pManager->SendNotify(this, L"selectchanged");
      }
    } else if (bTriggerEvent) {
      m_pManager->SendNotify(this, L"selectchanged");
    }
    m_pManager->RaiseAccessibleEvent(this, EVENT_OBJECT_STATECHANGE);
  }
  Invalidate();
}

bool COptionUI::Activate() {
  if (!CButtonUI::Activate()) return false;
  if (!m_sGroupName.empty()) Selected(true);
  else Selected(!m_bSelected);
  return true;
}

void COptionUI::SetEnabled(bool bEnable) {
  CButtonUI::SetEnabled(bEnable);
  if (!IsEnabled()) m_uButtonState = m_bSelected ? UISTATE_SELECTED : 0;
}

void COptionUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"group") SetGroup(value);
  else if (name == L"selected") Selected(ParseBool(value), false);
  else if (name == L"selectedimage") SetSelectedImage(value);
  else if (name == L"selectedhotimage") { m_selectedHotImage.Set(value); Invalidate(); }
  else if (name == L"selectedforeimage") { m_selectedForeImage.Set(value); Invalidate(); }
  else if (name == L"selectedbkcolor") m_dwSelectedBkColor = ParseColor(value);
  else if (name == L"selectedtextcolor") m_dwSelectedTextColor = ParseColor(value);
  else CButtonUI::SetAttribute(name, value);
}

void COptionUI::PaintStatusImage(HDC hDC) {
  if (m_bSelected) {
    bool drawn = false;
    if ((m_uButtonState & UISTATE_HOT) && !m_selectedHotImage.IsEmpty()) drawn = DrawImage(hDC, m_selectedHotImage);
    if (!drawn) drawn = DrawImage(hDC, m_selectedImage);
    if (!drawn && m_dwSelectedBkColor) {
      CRenderEngine::DrawColor(hDC, m_rcPaint, m_dwSelectedBkColor);
      drawn = true;
    }
    if (drawn) {
      if (!DrawImage(hDC, m_selectedForeImage)) DrawImage(hDC, m_foreImage);
      return;
    }
  }
  CButtonUI::PaintStatusImage(hDC);
}

void COptionUI::PaintText(HDC hDC) {
  if (!m_pManager) return;
  DWORD colour = (m_bSelected && m_dwSelectedTextColor && IsEnabled()) ? m_dwSelectedTextColor : StateTextColor();
  DrawLabelText(hDC, m_rcItem, colour);
}

void* CCheckBoxUI::GetInterface(const std::wstring& name) {
  if (name == L"CheckBox") return this;
  return COptionUI::GetInterface(name);
}

// ---------------------------------------------------------------------------
// CTextUI

CTextUI::CTextUI() {
  m_uTextStyle = DT_WORDBREAK;
  m_rcTextPadding = RECT{2, 0, 2, 0};
}

void* CTextUI::GetInterface(const std::wstring& name) {
  if (name == L"Text") return this;
  return CLabelUI::GetInterface(name);
}

UINT CTextUI::GetControlFlags() const {
  return (IsEnabled() && !m_links.empty()) ? UIFLAG_SETCURSOR : 0;
}

int CTextUI::LinkAt(POINT pt) const {
  for (size_t i = 0; i < m_links.size(); ++i) {
    if (m_links[i].rect.Contains(pt.x, pt.y)) return static_cast<int>(i);
  }
  return -1;
}

void CTextUI::DoEvent(TEventUI& event) {
  if (!IsMouseEnabled() && event.Type >= UIEVENT_MOUSEMOVE && event.Type <= UIEVENT_SCROLLWHEEL) {
    if (m_pParent) m_pParent->DoEvent(event);
    return;
  }
  switch (event.Type) {
    case UIEVENT_SETCURSOR:
      ::SetCursor(::LoadCursor(nullptr, LinkAt(event.ptMouse) >= 0 ? IDC_HAND : IDC_ARROW));
      return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
      if (IsEnabled()) Invalidate();
      return;
    case UIEVENT_BUTTONUP:
      if (IsEnabled()) {
        int n = LinkAt(event.ptMouse);
        if (n >= 0 && m_pManager) m_pManager->SendNotify(this, L"link", static_cast<WPARAM>(n));
      }
      return;
    case UIEVENT_MOUSEMOVE:
    case UIEVENT_MOUSELEAVE:
      if (!m_links.empty()) Invalidate();  // hover colour of the link under the mouse
      break;
    default:
      break;
  }
  CLabelUI::DoEvent(event);
}

void CTextUI::PaintText(HDC hDC) {
  if (!m_pManager) return;
  DWORD colour = IsEnabled() ? (m_dwTextColor ? m_dwTextColor : m_pManager->GetDefaultFontColor())
                             : (m_dwDisabledTextColor ? m_dwDisabledTextColor : m_pManager->GetDefaultDisabledColor());
  std::vector<MarkupLink> previous = m_links;
  m_links.clear();
  DrawLabelText(hDC, m_rcItem, colour, &m_links, kMaxLinks, &previous);
}

// ---------------------------------------------------------------------------
// CProgressUI

CProgressUI::CProgressUI() {
  m_uTextStyle = DT_SINGLELINE | DT_CENTER;
  SetFixedHeight(12);
}

void* CProgressUI::GetInterface(const std::wstring& name) {
  if (name == L"Progress") return this;
  return CLabelUI::GetInterface(name);
}

void CProgressUI::SetValue(int n) {
  const int old = m_nValue;
  m_nValue = std::clamp(n, m_nMin, std::max(m_nMin, m_nMax));
  Invalidate();
  if (m_nValue != old && m_pManager) m_pManager->RaiseAccessibleEvent(this, EVENT_OBJECT_VALUECHANGE);
}

void CProgressUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"foreimage") SetForeImage(value);
  else if (name == L"hor") m_bHorizontal = ParseBool(value);
  else if (name == L"min") SetMinValue(ParseInt(value));
  else if (name == L"max") SetMaxValue(ParseInt(value));
  else if (name == L"value") SetValue(ParseInt(value));
  else CLabelUI::SetAttribute(name, value);
}

RECT CProgressUI::ForeRect() const {
  int maxValue = m_nMax <= m_nMin ? m_nMin + 1 : m_nMax;
  long long range = static_cast<long long>(maxValue) - m_nMin;
  long long part = std::clamp<long long>(static_cast<long long>(m_nValue) - m_nMin, 0, range);
  RECT rc = m_rcItem;
  if (m_bHorizontal) {
    rc.right = rc.left + static_cast<LONG>(part * (m_rcItem.right - m_rcItem.left) / range);
  } else {
    rc.top = rc.bottom - static_cast<LONG>(part * (m_rcItem.bottom - m_rcItem.top) / range);
  }
  return rc;
}

void CProgressUI::PaintStatusImage(HDC hDC) {
  if (m_nMax <= m_nMin) m_nMax = m_nMin + 1;
  RECT rc = ForeRect();
  if (rc.right <= rc.left || rc.bottom <= rc.top || m_foreImage.IsEmpty() || !m_pManager) return;
  RECT paint;
  if (!IntersectRect(&paint, &m_rcPaint, &rc)) return;
  CRenderEngine::DrawImage(hDC, m_pManager, rc, paint, m_foreImage);
}

// ---------------------------------------------------------------------------
// CEditWnd: the native single-line edit box shown while an edit has the focus.

class CEditWnd {
 public:
  static CEditWnd* Open(CEditUI* owner) {
    CUIManager* m = owner->GetManager();
    if (!m || !m->GetPaintWindow()) return nullptr;
    auto* w = new CEditWnd;
    w->owner_ = owner;
    RECT rc = owner->TextRect();
    DWORD style = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL;
    if (owner->IsPasswordMode()) style |= ES_PASSWORD;
    if (owner->IsNumberOnly()) style |= ES_NUMBER;
    if (owner->IsReadOnly()) style |= ES_READONLY;
    if (owner->GetTextStyle() & DT_RIGHT) style |= ES_RIGHT;
    else if (owner->GetTextStyle() & DT_CENTER) style |= ES_CENTER;
    DWORD exStyle = IsRightToLeftText(owner->GetText()) ? WS_EX_RTLREADING : 0;
    // Vertically centred single line: the box is one line high.
    TFontInfo* f = m->GetFontInfo(owner->GetFont());
    if (!f) f = m->GetDefaultFontInfo();
    int lineH = f ? f->tm.tmHeight + 2 : 16;
    int top = rc.top + std::max(0L, ((rc.bottom - rc.top) - lineH) / 2);
    w->hwnd_ = CreateWindowExW(exStyle, L"EDIT", owner->GetText().c_str(), style, rc.left, top,
                               rc.right - rc.left, std::min<LONG>(lineH, rc.bottom - rc.top),
                               m->GetPaintWindow(), nullptr, CUIManager::GetInstance(), nullptr);
    if (!w->hwnd_) {
      LOGA(kLog_Info, "native edit box could not be created (%lu)", GetLastError());
      delete w;
      return nullptr;
    }
    SetWindowLongPtrW(w->hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
    w->oldProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(w->hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CEditWnd::Proc)));
    SendMessageW(w->hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(m->GetFont(owner->GetFont())), TRUE);
    SendMessageW(w->hwnd_, EM_LIMITTEXT, owner->GetMaxChar(), 0);
    if (owner->IsPasswordMode()) SendMessageW(w->hwnd_, EM_SETPASSWORDCHAR, owner->GetPasswordChar(), 0);
    SendMessageW(w->hwnd_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    int len = GetWindowTextLengthW(w->hwnd_);
    SendMessageW(w->hwnd_, EM_SETSEL, len, len);
    DWORD bk = owner->GetNativeBkColor();
    w->brush_ = CreateSolidBrush(RGB((bk >> 16) & 0xFF, (bk >> 8) & 0xFF, bk & 0xFF));
    w->ready_ = true;
    ::SetFocus(w->hwnd_);
    return w;
  }

  static CEditWnd* FromHandle(HWND h) {
    wchar_t cls[16] = {};
    GetClassNameW(h, cls, 16);
    if (lstrcmpiW(cls, L"EDIT") != 0) return nullptr;
    WNDPROC proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_WNDPROC));
    if (proc != &CEditWnd::Proc) return nullptr;
    return reinterpret_cast<CEditWnd*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  }

  void Close() {
    if (hwnd_ && !closing_) {
      closing_ = true;
      PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
  }
  void Detach() { owner_ = nullptr; }
  HWND Handle() const { return hwnd_; }

  void OnChange() {
    if (!ready_ || !owner_) return;
    int len = GetWindowTextLengthW(hwnd_);
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    GetWindowTextW(hwnd_, &text[0], len + 1);
    text.resize(static_cast<size_t>(len));
    owner_->OnNativeChange(text);
  }

  LRESULT CtlColor(HDC hDC) {
    if (!owner_) return 0;
    DWORD c = owner_->GetTextColor();
    if (c == 0 && owner_->GetManager()) c = owner_->GetManager()->GetDefaultFontColor();
    ::SetTextColor(hDC, RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
    DWORD bk = owner_->GetNativeBkColor();
    ::SetBkColor(hDC, RGB((bk >> 16) & 0xFF, (bk >> 8) & 0xFF, bk & 0xFF));
    return reinterpret_cast<LRESULT>(brush_);
  }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<CEditWnd*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (!self) return DefWindowProcW(h, msg, wp, lp);
    WNDPROC old = self->oldProc_;
    switch (msg) {
      case WM_KILLFOCUS:
        self->Close();
        break;
      case WM_KEYDOWN:
        if (wp == VK_RETURN) {
          if (self->owner_) self->owner_->OnNativeReturn();
          return 0;
        }
        if (wp == VK_ESCAPE) {
          // Escape leaves the box; the window's own Escape handling still applies.
          if (self->owner_ && self->owner_->GetManager()) ::SetFocus(self->owner_->GetManager()->GetPaintWindow());
          return 0;
        }
        break;
      case WM_CHAR:
        if (wp == VK_RETURN || wp == VK_ESCAPE) return 0;  // no beep
        break;
      case WM_NCDESTROY: {
        LRESULT r = CallWindowProcW(old, h, msg, wp, lp);
        SetWindowLongPtrW(h, GWLP_USERDATA, 0);
        if (self->owner_) self->owner_->OnNativeDestroyed();
        if (self->brush_) DeleteObject(self->brush_);
        delete self;
        return r;
      }
      default:
        break;
    }
    return CallWindowProcW(old, h, msg, wp, lp);
  }

  CEditUI* owner_ = nullptr;
  HWND hwnd_ = nullptr;
  WNDPROC oldProc_ = nullptr;
  HBRUSH brush_ = nullptr;
  bool ready_ = false;
  bool closing_ = false;
};

// ---------------------------------------------------------------------------
// CEditUI

CEditUI::CEditUI() {
  m_rcTextPadding = RECT{4, 3, 4, 3};
  m_dwBackColor = 0xFFFFFFFF;
}

CEditUI::~CEditUI() {
  if (m_pManager) m_pManager->RemoveMessageFilter(this);
  if (m_pWindow) {
    m_pWindow->Detach();
    m_pWindow->Close();
    m_pWindow = nullptr;
  }
}

void* CEditUI::GetInterface(const std::wstring& name) {
  if (name == L"Edit") return this;
  return CLabelUI::GetInterface(name);
}

UINT CEditUI::GetControlFlags() const {
  return IsEnabled() ? (UIFLAG_SETCURSOR | UIFLAG_TABSTOP) : 0;
}

RECT CEditUI::TextRect() const { return Deflate(m_rcItem, m_rcTextPadding); }

void CEditUI::OpenNativeEdit() {
  if (m_pWindow || !IsEnabled() || !IsVisible()) return;
  m_pWindow = CEditWnd::Open(this);
  // The native box's notifications arrive at the skinned window: this
  // control filters them out of the manager's messages while the box is open.
  if (m_pWindow && m_pManager) m_pManager->AddMessageFilter(this);
  Invalidate();
}

LRESULT CEditUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) {
  if (!m_pWindow || reinterpret_cast<HWND>(lParam) != m_pWindow->Handle()) return 0;
  if (uMsg == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
    m_pWindow->OnChange();
    bHandled = true;
    return 0;
  }
  if (uMsg == WM_CTLCOLOREDIT) {
    LRESULT brush = m_pWindow->CtlColor(reinterpret_cast<HDC>(wParam));
    bHandled = brush != 0;
    return brush;
  }
  return 0;
}

void CEditUI::OnNativeChange(const std::wstring& text) {
  m_sText = text;
  if (m_pManager) m_pManager->RaiseAccessibleEvent(this, EVENT_OBJECT_VALUECHANGE);
  if (m_pManager) m_pManager->SendNotify(this, L"textchanged");
  Invalidate();
}

void CEditUI::OnNativeReturn() {
  if (m_pManager) m_pManager->SendNotify(this, L"return");
}

void CEditUI::OnNativeDestroyed() {
  m_pWindow = nullptr;
  if (m_pManager) m_pManager->RemoveMessageFilter(this);
  Invalidate();
}

void CEditUI::SetEnabled(bool bEnable) {
  CControlUI::SetEnabled(bEnable);
  if (!IsEnabled()) {
    m_uButtonState = 0;
    if (m_pWindow) m_pWindow->Close();
  }
}

void CEditUI::SetText(const std::wstring& text) {
  m_sText = text;
  if (m_pWindow) SetWindowTextW(m_pWindow->Handle(), text.c_str());
  Invalidate();
  if (m_pManager) m_pManager->RaiseAccessibleEvent(this, EVENT_OBJECT_VALUECHANGE);
}

void CEditUI::SetVisible(bool bVisible) {
  CControlUI::SetVisible(bVisible);
  if (!IsVisible() && m_pWindow) m_pWindow->Close();
}

void CEditUI::SetInternVisible(bool bVisible) {
  CControlUI::SetInternVisible(bVisible);
  if (!IsVisible() && m_pWindow) m_pWindow->Close();
}

void CEditUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CControlUI::SetPos(rc, bNeedInvalidate);
  if (m_pWindow) {
    RECT t = TextRect();
    MoveWindow(m_pWindow->Handle(), t.left, t.top, t.right - t.left, t.bottom - t.top, TRUE);
  }
}

SIZE CEditUI::EstimateSize(SIZE) {
  return SIZE{m_cxyFixed.cx, m_cxyFixed.cy > 0 ? m_cxyFixed.cy : FontHeight() + 8};
}

void CEditUI::SetReadOnly(bool b) {
  m_bReadOnly = b;
  if (m_pWindow) SendMessageW(m_pWindow->Handle(), EM_SETREADONLY, b, 0);
  Invalidate();
}

void CEditUI::DoEvent(TEventUI& event) {
  if (!IsMouseEnabled() && event.Type >= UIEVENT_MOUSEMOVE && event.Type <= UIEVENT_SCROLLWHEEL) {
    if (m_pParent) m_pParent->DoEvent(event);
    return;
  }
  switch (event.Type) {
    case UIEVENT_SETCURSOR:
      ::SetCursor(::LoadCursor(nullptr, IsEnabled() ? IDC_IBEAM : IDC_ARROW));
      return;
    case UIEVENT_SETFOCUS:
      CControlUI::DoEvent(event);
      OpenNativeEdit();
      return;
    case UIEVENT_KILLFOCUS:
      CControlUI::DoEvent(event);
      if (m_pWindow && GetFocus() != m_pWindow->Handle()) m_pWindow->Close();
      return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
      if (IsEnabled()) {
        if (IsFocused() && !m_pWindow) OpenNativeEdit();
        if (m_pWindow) {
          // The click goes on into the box, placing the caret.
          POINT pt = event.ptMouse;
          RECT t = TextRect();
          pt.x -= t.left;
          pt.y -= t.top;
          ::SetFocus(m_pWindow->Handle());
          PostMessageW(m_pWindow->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pt.x, pt.y));
          PostMessageW(m_pWindow->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(pt.x, pt.y));
        }
      }
      return;
    case UIEVENT_MOUSEMOVE:
    case UIEVENT_BUTTONUP:
      return;
    case UIEVENT_MOUSEENTER:
      if (IsEnabled()) { m_uButtonState |= UISTATE_HOT; Invalidate(); }
      return;
    case UIEVENT_MOUSELEAVE:
      if (IsEnabled()) { m_uButtonState &= ~UISTATE_HOT; Invalidate(); }
      return;
    default:
      break;
  }
  CLabelUI::DoEvent(event);
}

void CEditUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"readonly") SetReadOnly(ParseBool(value));
  else if (name == L"numberonly") m_bNumberOnly = ParseBool(value);
  else if (name == L"password") m_bPasswordMode = ParseBool(value);
  else if (name == L"passwordchar") m_cPasswordChar = value.empty() ? L'*' : value[0];
  else if (name == L"autoselall") m_bAutoSelAll = ParseBool(value);
  else if (name == L"maxchar") m_uMaxChar = static_cast<UINT>(std::max(0, ParseInt(value)));
  else if (name == L"normalimage") m_normalImage.Set(value);
  else if (name == L"hotimage") m_hotImage.Set(value);
  else if (name == L"focusedimage") m_focusedImage.Set(value);
  else if (name == L"disabledimage") m_disabledImage.Set(value);
  else if (name == L"nativebkcolor") m_dwEditbkColor = ParseColor(value);
  else CLabelUI::SetAttribute(name, value);
}

void CEditUI::PaintStatusImage(HDC hDC) {
  if (IsFocused()) m_uButtonState |= UISTATE_FOCUSED;
  else m_uButtonState &= ~UISTATE_FOCUSED;
  if (!IsEnabled()) {
    if (DrawImage(hDC, m_disabledImage)) return;
  } else if (m_uButtonState & UISTATE_FOCUSED) {
    if (DrawImage(hDC, m_focusedImage)) return;
  } else if (m_uButtonState & UISTATE_HOT) {
    if (DrawImage(hDC, m_hotImage)) return;
  }
  DrawImage(hDC, m_normalImage);
}

void CEditUI::PaintText(HDC hDC) {
  if (!m_pManager || m_pWindow) return;  // the native box draws while it is open
  std::wstring text = m_sText;
  if (m_bPasswordMode) text.assign(text.size(), m_cPasswordChar);
  DWORD colour = IsEnabled() ? (m_dwTextColor ? m_dwTextColor : m_pManager->GetDefaultFontColor())
                             : (m_dwDisabledTextColor ? m_dwDisabledTextColor : m_pManager->GetDefaultDisabledColor());
  RECT rc = TextRect();
  CRenderEngine::DrawPlainText(hDC, m_pManager, rc, text, colour, m_iFont,
                               (m_uTextStyle & (DT_LEFT | DT_CENTER | DT_RIGHT)) | DT_SINGLELINE | DT_VCENTER);
}

}  // namespace SkinUI
