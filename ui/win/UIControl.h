// The base control and the containers: CControlUI (state every control
// keeps, attributes, painting of background, image, border), CContainerUI
// (children), and the vertical, horizontal and tab layouts.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "ui/win/UIImage.h"
#include "ui/win/UIManager.h"

namespace SkinUI {

class CControlUI;

// Container access by index (answered by containers to "IContainer").
class IContainerUI {
 public:
  virtual ~IContainerUI() = default;
  virtual CControlUI* GetItemAt(int iIndex) const = 0;
  virtual int GetItemIndex(CControlUI* pControl) const = 0;
  virtual bool SetItemIndex(CControlUI* pControl, int iIndex) = 0;
  virtual int GetCount() const = 0;
  virtual bool Add(CControlUI* pControl) = 0;
  virtual bool AddAt(CControlUI* pControl, int iIndex) = 0;
  virtual bool Remove(CControlUI* pControl) = 0;
  virtual bool RemoveAt(int iIndex) = 0;
  virtual void RemoveAll() = 0;
};

// Control flags.
constexpr UINT UIFLAG_TABSTOP = 0x01;
constexpr UINT UIFLAG_SETCURSOR = 0x02;
constexpr UINT UIFLAG_WANTRETURN = 0x04;

class CControlUI {
 public:
  CControlUI();
  virtual ~CControlUI();
  CControlUI(const CControlUI&) = delete;
  CControlUI& operator=(const CControlUI&) = delete;

  virtual void Delete();
  const std::wstring& GetName() const { return m_sName; }
  virtual void SetName(const std::wstring& name);
  virtual std::wstring GetClass() const { return L"Control"; }
  // The class's own name, every base's name, "IContainer" for containers.
  virtual void* GetInterface(const std::wstring& name);
  virtual UINT GetControlFlags() const { return 0; }
  virtual bool Activate();

  CUIManager* GetManager() const { return m_pManager; }
  virtual void SetManager(CUIManager* pManager, CControlUI* pParent, bool bInit = true);
  CControlUI* GetParent() const { return m_pParent; }
  CControlUI* GetCover() const { return m_pCover; }
  void SetCover(CControlUI* pControl);

  virtual std::wstring GetText() const { return m_sText; }
  virtual void SetText(const std::wstring& text);

  const RECT& GetPos() const { return m_rcItem; }
  virtual void SetPos(RECT rc, bool bNeedInvalidate = true);
  int GetWidth() const { return m_rcItem.right - m_rcItem.left; }
  int GetHeight() const { return m_rcItem.bottom - m_rcItem.top; }
  RECT GetPadding() const { return m_rcPadding; }
  void SetPadding(RECT rc);
  RECT GetFixedPos() const { return m_rcFixedPos; }
  void SetFixedPos(RECT rc);
  const float* GetFloatPercent() const { return m_fFloatPercent; }
  int GetFixedWidth() const { return m_cxyFixed.cx; }
  void SetFixedWidth(int cx);
  int GetFixedHeight() const { return m_cxyFixed.cy; }
  void SetFixedHeight(int cy);
  int GetMinWidth() const { return m_cxyMin.cx; }
  void SetMinWidth(int cx);
  int GetMaxWidth() const { return m_cxyMax.cx; }
  void SetMaxWidth(int cx);
  int GetMinHeight() const { return m_cxyMin.cy; }
  void SetMinHeight(int cy);
  int GetMaxHeight() const { return m_cxyMax.cy; }
  void SetMaxHeight(int cy);

  std::wstring GetToolTip() const { return m_sToolTip; }
  void SetToolTip(const std::wstring& s) { m_sToolTip = s; }
  std::wstring GetUserData() const { return m_sUserData; }
  void SetUserData(const std::wstring& s) { m_sUserData = s; }
  UINT_PTR GetTag() const { return m_pTag; }
  void SetTag(UINT_PTR tag) { m_pTag = tag; }

  virtual bool IsVisible() const { return m_bVisible && m_bInternVisible; }
  virtual void SetVisible(bool bVisible = true);
  virtual void SetInternVisible(bool bVisible = true);
  virtual bool IsEnabled() const { return m_bEnabled; }
  virtual void SetEnabled(bool bEnable = true);
  bool IsMouseEnabled() const { return m_bMouseEnabled; }
  void SetMouseEnabled(bool b) { m_bMouseEnabled = b; }
  bool IsKeyboardEnabled() const { return m_bKeyboardEnabled; }
  void SetKeyboardEnabled(bool b) { m_bKeyboardEnabled = b; }
  bool IsFocused() const { return m_bFocused; }
  virtual void SetFocus();
  bool IsFloat() const { return m_bFloat; }
  void SetFloat(bool b);
  bool IsContextMenuUsed() const { return m_bMenuUsed; }

  virtual CControlUI* FindControl(FindControlProc Proc, void* pData, UINT uFlags);

  void Invalidate();
  bool IsUpdateNeeded() const { return m_bUpdateNeeded; }
  void NeedUpdate();
  void NeedParentUpdate();

  virtual void Init();
  virtual void DoInit() {}
  // Event entry: the default handling of each control class.
  void Event(TEventUI& event) { DoEvent(event); }
  virtual void DoEvent(TEventUI& event);

  // Attributes of the layout markup; unknown names become custom attributes.
  virtual void SetAttribute(const std::wstring& name, const std::wstring& value);
  void ApplyAttributeList(const std::wstring& list);
  // The value stored for an attribute name the control does not know, or empty.
  std::wstring GetCustomAttribute(const std::wstring& name) const;
  bool HasCustomAttribute(const std::wstring& name) const;
  // Stores a custom attribute; a value already there is kept.
  void AddCustomAttribute(const std::wstring& name, const std::wstring& value);

  // Size estimate for an available size (see the containers' layouts).
  virtual SIZE EstimateSize(SIZE szAvailable);

  // Painting: background colour, background image, state images, text, border.
  virtual bool DoPaint(HDC hDC, const RECT& rcPaint);
  virtual void PaintBkColor(HDC hDC);
  virtual void PaintBkImage(HDC hDC);
  virtual void PaintStatusImage(HDC hDC) {}
  virtual void PaintText(HDC hDC) {}
  virtual void PaintBorder(HDC hDC);

  // Background and border.
  DWORD GetBkColor() const { return m_dwBackColor; }
  void SetBkColor(DWORD c);
  void SetBorderColor(DWORD c);
  void SetFocusBorderColor(DWORD c);
  void SetBorderSize(int n);
  void SetBorderRound(SIZE sz);
  void SetBkImage(const std::wstring& image);
  std::wstring GetBkImage() const { return m_bkImage.Value(); }

 protected:
  // Draws an image attribute; a description that failed stays failed.
  bool DrawImage(HDC hDC, CImageAttr& image);
  bool IsPaintRectValid(const RECT& rcPaint, RECT& rcTemp) const;

  CUIManager* m_pManager = nullptr;
  CControlUI* m_pParent = nullptr;
  CControlUI* m_pCover = nullptr;
  std::wstring m_sName, m_sText, m_sToolTip, m_sUserData;
  UINT_PTR m_pTag = 0;
  bool m_bUpdateNeeded = true;
  bool m_bMenuUsed = false;
  RECT m_rcItem{0, 0, 0, 0};
  RECT m_rcPadding{0, 0, 0, 0};
  RECT m_rcFixedPos{0, 0, 0, 0};
  float m_fFloatPercent[4] = {0, 0, 0, 0};
  SIZE m_cxyFixed{0, 0};
  SIZE m_cxyMin{0, 0};
  SIZE m_cxyMax{9999, 9999};
  bool m_bVisible = true, m_bInternVisible = true, m_bEnabled = true;
  bool m_bMouseEnabled = true, m_bKeyboardEnabled = true, m_bFocused = false, m_bFloat = false;
  wchar_t m_chShortcut = 0;
  DWORD m_dwBackColor = 0, m_dwBackColor2 = 0, m_dwBackColor3 = 0;
  DWORD m_dwBorderColor = 0, m_dwFocusBorderColor = 0;
  int m_nBorderSize = 0;
  RECT m_rcBorderSize{0, 0, 0, 0};
  int m_nBorderStyle = PS_SOLID;
  SIZE m_cxyBorderRound{0, 0};
  CImageAttr m_bkImage;
  RECT m_rcPaint{0, 0, 0, 0};
  std::map<std::wstring, std::wstring> m_mCustomAttrs;
};

class CContainerUI : public CControlUI, public IContainerUI {
 public:
  CContainerUI() = default;
  ~CContainerUI() override;

  std::wstring GetClass() const override { return L"Container"; }
  void* GetInterface(const std::wstring& name) override;

  CControlUI* GetItemAt(int iIndex) const override;
  int GetItemIndex(CControlUI* pControl) const override;
  bool SetItemIndex(CControlUI* pControl, int iIndex) override;
  int GetCount() const override { return static_cast<int>(m_items.size()); }
  bool Add(CControlUI* pControl) override;
  bool AddAt(CControlUI* pControl, int iIndex) override;
  bool Remove(CControlUI* pControl) override;
  bool RemoveAt(int iIndex) override;
  void RemoveAll() override;

  RECT GetInset() const { return m_rcInset; }
  void SetInset(RECT rc);
  int GetChildPadding() const { return m_iChildPadding; }
  void SetChildPadding(int n);

  void SetVisible(bool bVisible = true) override;
  void SetInternVisible(bool bVisible = true) override;
  void SetManager(CUIManager* pManager, CControlUI* pParent, bool bInit = true) override;
  CControlUI* FindControl(FindControlProc Proc, void* pData, UINT uFlags) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
  bool DoPaint(HDC hDC, const RECT& rcPaint) override;
  void DoEvent(TEventUI& event) override;

 protected:
  // Places the floating children relative to this container.
  void SetFloatPos(int iIndex);
  void LayoutStack(bool vertical);

  std::vector<CControlUI*> m_items;
  RECT m_rcInset{0, 0, 0, 0};
  int m_iChildPadding = 0;
  UINT m_iChildAlign = DT_LEFT;
  UINT m_iChildVAlign = DT_TOP;
  bool m_bMouseChildEnabled = true;
};

class CVerticalLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"VerticalLayout"; }
  void* GetInterface(const std::wstring& name) override;
  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
};

class CHorizontalLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"HorizontalLayout"; }
  void* GetInterface(const std::wstring& name) override;
  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
};

class CTabLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"TabLayout"; }
  void* GetInterface(const std::wstring& name) override;
  bool Add(CControlUI* pControl) override;
  bool AddAt(CControlUI* pControl, int iIndex) override;
  bool Remove(CControlUI* pControl) override;
  void RemoveAll() override;
  int GetCurSel() const { return m_iCurSel; }
  // Shows page iIndex; false when out of range. "tabselect" with notify.
  bool SelectItem(int iIndex, bool bTriggerEvent = true);
  bool SelectItem(CControlUI* pControl, bool bTriggerEvent = true);
  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;

 private:
  int m_iCurSel = -1;
};

}  // namespace SkinUI
