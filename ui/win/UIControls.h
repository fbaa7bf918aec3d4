// The controls of the skin: Label, Button, Option, CheckBox, Text, Progress
// and Edit, with their states, images, text drawing and notifications.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/markup/Markup.h"
#include "ui/win/UIControl.h"

namespace SkinUI {

class CLabelUI : public CControlUI {
 public:
  CLabelUI();
  std::wstring GetClass() const override { return L"Label"; }
  void* GetInterface(const std::wstring& name) override;
  void SetText(const std::wstring& text) override;
  void SetTextStyle(UINT style) { m_uTextStyle = style; Invalidate(); }
  UINT GetTextStyle() const { return m_uTextStyle; }
  void SetTextColor(DWORD c) { m_dwTextColor = c; Invalidate(); }
  DWORD GetTextColor() const { return m_dwTextColor; }
  void SetDisabledTextColor(DWORD c) { m_dwDisabledTextColor = c; Invalidate(); }
  void SetFont(int id) { m_iFont = id; m_cxyFixedLast = SIZE{-1, -1}; NeedParentUpdate(); }
  int GetFont() const { return m_iFont; }
  RECT GetTextPadding() const { return m_rcTextPadding; }
  void SetTextPadding(RECT rc) { m_rcTextPadding = rc; NeedParentUpdate(); }
  bool IsShowHtml() const { return m_bShowHtml; }
  void SetShowHtml(bool b) { m_bShowHtml = b; Invalidate(); }
  bool IsMultiLine() const { return (m_uTextStyle & DT_SINGLELINE) == 0; }
  void SetMultiLine(bool b);

  SIZE EstimateSize(SIZE szAvailable) override;
  void DoEvent(TEventUI& event) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void PaintText(HDC hDC) override;

 protected:
  // The text as drawn: language tokens replaced.
  std::wstring DisplayText() const;
  // Draws the text inside rc in the given colour (markup or plain).
  void DrawLabelText(HDC hDC, RECT rc, DWORD colour, std::vector<MarkupLink>* links = nullptr,
                     size_t maxLinks = 0, const std::vector<MarkupLink>* previous = nullptr);
  int FontHeight() const;

  UINT m_uTextStyle;
  DWORD m_dwTextColor = 0, m_dwDisabledTextColor = 0;
  int m_iFont = -1;
  RECT m_rcTextPadding{0, 0, 0, 0};
  bool m_bShowHtml = false;
  SIZE m_cxyFixedLast{-1, -1};
  SIZE m_szAvailableLast{-1, -1};
  SIZE m_szEstimated{0, 0};
  std::wstring m_sTextLast;
};

// Button state bits.
constexpr UINT UISTATE_FOCUSED = 0x01;
constexpr UINT UISTATE_SELECTED = 0x02;
constexpr UINT UISTATE_DISABLED = 0x04;
constexpr UINT UISTATE_HOT = 0x08;
constexpr UINT UISTATE_PUSHED = 0x10;
constexpr UINT UISTATE_CAPTURED = 0x40;

class CButtonUI : public CLabelUI {
 public:
  CButtonUI();
  std::wstring GetClass() const override { return L"Button"; }
  void* GetInterface(const std::wstring& name) override;
  UINT GetControlFlags() const override;
  bool Activate() override;
  void SetEnabled(bool bEnable = true) override;
  void DoEvent(TEventUI& event) override;
  SIZE EstimateSize(SIZE szAvailable) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void PaintText(HDC hDC) override;
  void PaintStatusImage(HDC hDC) override;

  void SetNormalImage(const std::wstring& s) { m_normalImage.Set(s); Invalidate(); }
  void SetHotImage(const std::wstring& s) { m_hotImage.Set(s); Invalidate(); }
  void SetPushedImage(const std::wstring& s) { m_pushedImage.Set(s); Invalidate(); }
  void SetDisabledImage(const std::wstring& s) { m_disabledImage.Set(s); Invalidate(); }
  UINT GetButtonState() const { return m_uButtonState; }

 protected:
  // Text colour for the current state.
  DWORD StateTextColor() const;

  UINT m_uButtonState = 0;
  DWORD m_dwHotBkColor = 0, m_dwHotTextColor = 0, m_dwPushedTextColor = 0, m_dwFocusedTextColor = 0;
  int m_nFadeDelta = 0;
  CImageAttr m_normalImage, m_hotImage, m_pushedImage, m_focusedImage, m_disabledImage, m_foreImage;
  CImageAttr m_fiveStatusImage;
};

class COptionUI : public CButtonUI {
 public:
  ~COptionUI() override;
  std::wstring GetClass() const override { return L"Option"; }
  void* GetInterface(const std::wstring& name) override;
  void SetManager(CUIManager* pManager, CControlUI* pParent, bool bInit = true) override;
  bool Activate() override;
  void SetEnabled(bool bEnable = true) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void PaintStatusImage(HDC hDC) override;
  void PaintText(HDC hDC) override;

  const std::wstring& GetGroup() const { return m_sGroupName; }
  void SetGroup(const std::wstring& group);
  bool IsSelected() const { return m_bSelected; }
  // No change does nothing; selecting a grouped option deselects the others.
  virtual void Selected(bool bSelected, bool bTriggerEvent = true);
  void SetSelectedImage(const std::wstring& s) { m_selectedImage.Set(s); Invalidate(); }

 protected:
  bool m_bSelected = false;
  std::wstring m_sGroupName;
  DWORD m_dwSelectedBkColor = 0, m_dwSelectedTextColor = 0;
  CImageAttr m_selectedImage, m_selectedHotImage, m_selectedForeImage;
};

class CCheckBoxUI : public COptionUI {
 public:
  std::wstring GetClass() const override { return L"CheckBox"; }
  void* GetInterface(const std::wstring& name) override;
  void SetCheck(bool bCheck) { Selected(bCheck); }
  bool GetCheck() const { return IsSelected(); }
};

class CTextUI : public CLabelUI {
 public:
  static constexpr size_t kMaxLinks = 8;
  CTextUI();
  std::wstring GetClass() const override { return L"Text"; }
  void* GetInterface(const std::wstring& name) override;
  UINT GetControlFlags() const override;
  void DoEvent(TEventUI& event) override;
  void PaintText(HDC hDC) override;
  const std::vector<MarkupLink>& GetLinks() const { return m_links; }

 private:
  int LinkAt(POINT pt) const;
  std::vector<MarkupLink> m_links;
};

class CProgressUI : public CLabelUI {
 public:
  CProgressUI();
  std::wstring GetClass() const override { return L"Progress"; }
  void* GetInterface(const std::wstring& name) override;
  int GetMinValue() const { return m_nMin; }
  void SetMinValue(int n) { m_nMin = n; Invalidate(); }
  int GetMaxValue() const { return m_nMax; }
  void SetMaxValue(int n) { m_nMax = n; Invalidate(); }
  int GetValue() const { return m_nValue; }
  // Clamped to the minimum and maximum.
  void SetValue(int n);
  void SetForeImage(const std::wstring& s) { m_foreImage.Set(s); Invalidate(); }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void PaintStatusImage(HDC hDC) override;
  // The fore image's destination for the current value (for tests and painting).
  RECT ForeRect() const;

 private:
  bool m_bHorizontal = true;
  int m_nMin = 0, m_nMax = 100, m_nValue = 0;
  CImageAttr m_foreImage;
};

class CEditWnd;

// While its native box is open the control is one of the manager's message
// filters: the box's notifications arrive at the skinned window.
class CEditUI : public CLabelUI, public IMessageFilterUI {
 public:
  CEditUI();
  ~CEditUI() override;
  std::wstring GetClass() const override { return L"Edit"; }
  void* GetInterface(const std::wstring& name) override;
  UINT GetControlFlags() const override;
  void SetEnabled(bool bEnable = true) override;
  void SetText(const std::wstring& text) override;
  void SetVisible(bool bVisible = true) override;
  void SetInternVisible(bool bVisible = true) override;
  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
  SIZE EstimateSize(SIZE szAvailable) override;
  void DoEvent(TEventUI& event) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void PaintStatusImage(HDC hDC) override;
  void PaintText(HDC hDC) override;
  LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;

  void SetReadOnly(bool b);
  bool IsReadOnly() const { return m_bReadOnly; }
  void SetMaxChar(UINT n) { m_uMaxChar = n; }
  UINT GetMaxChar() const { return m_uMaxChar; }
  bool IsPasswordMode() const { return m_bPasswordMode; }
  bool IsNumberOnly() const { return m_bNumberOnly; }
  wchar_t GetPasswordChar() const { return m_cPasswordChar; }
  DWORD GetNativeBkColor() const { return m_dwEditbkColor; }
  // Called by the native box.
  void OnNativeChange(const std::wstring& text);
  void OnNativeReturn();
  void OnNativeDestroyed();
  RECT TextRect() const;

 private:
  void OpenNativeEdit();
  CEditWnd* m_pWindow = nullptr;
  UINT m_uMaxChar = 255;
  bool m_bReadOnly = false, m_bPasswordMode = false, m_bNumberOnly = false, m_bAutoSelAll = false;
  wchar_t m_cPasswordChar = L'*';
  DWORD m_dwEditbkColor = 0xFFFFFFFF;
  UINT m_uButtonState = 0;
  CImageAttr m_normalImage, m_hotImage, m_focusedImage, m_disabledImage;
};

}  // namespace SkinUI
