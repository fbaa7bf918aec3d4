// The skinned window's accessible tree for screen readers (MSAA): the
// window's client object answers WM_GETOBJECT with an IAccessible whose
// children are the visible controls, as simple elements with child ids.
// Each child has a name (its text without markup, else its tooltip), a role,
// states, a location in screen coordinates and a default action; hit-testing
// and navigation follow the controls' rectangles and reading order. The
// toolkit's focus, state, value, name and visibility changes are raised as
// WinEvents; a progress bar's value changes at most once a second.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "ui/win/UIManager.h"

namespace SkinUI {

class CControlUI;

// The role a control takes in the tree (ROLE_SYSTEM_*), or 0 for controls
// that are not in it: layouts, spacers and unnamed decoration.
LONG AccessibleRoleOf(CControlUI* control);
// The text a screen reader reads for a control.
std::wstring AccessibleNameOf(CControlUI* control);

// Posted to the window: run the default action of child wParam on the UI
// thread, after the screen reader's call has returned.
constexpr UINT WM_SKINUI_ACCESSIBLE_ACTION = WM_APP + 2;

class CAccessibleRoot final : public IAccessible, public IEnumVARIANT, public IAccessibleEventSink {
 public:
  CAccessibleRoot(HWND hwnd, CUIManager* manager);
  CAccessibleRoot(const CAccessibleRoot&) = delete;
  CAccessibleRoot& operator=(const CAccessibleRoot&) = delete;

  // The window is going away: every call answers "disconnected" from now on.
  void Disconnect();
  // The answer to WM_GETOBJECT for the client object; 0 for other objects.
  LRESULT OnGetObject(WPARAM wParam, LPARAM lParam);
  void RunDefaultAction(LONG childId);

  // IAccessibleEventSink.
  void OnAccessibleEvent(CControlUI* control, DWORD event) override;

  // IUnknown.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch: no type information; clients use the vtable.
  STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

  // IAccessible.
  STDMETHODIMP get_accParent(IDispatch** ppdispParent) override;
  STDMETHODIMP get_accChildCount(long* pcountChildren) override;
  STDMETHODIMP get_accChild(VARIANT varChild, IDispatch** ppdispChild) override;
  STDMETHODIMP get_accName(VARIANT varChild, BSTR* pszName) override;
  STDMETHODIMP get_accValue(VARIANT varChild, BSTR* pszValue) override;
  STDMETHODIMP get_accDescription(VARIANT varChild, BSTR* pszDescription) override;
  STDMETHODIMP get_accRole(VARIANT varChild, VARIANT* pvarRole) override;
  STDMETHODIMP get_accState(VARIANT varChild, VARIANT* pvarState) override;
  STDMETHODIMP get_accHelp(VARIANT varChild, BSTR* pszHelp) override;
  STDMETHODIMP get_accHelpTopic(BSTR* pszHelpFile, VARIANT varChild, long* pidTopic) override;
  STDMETHODIMP get_accKeyboardShortcut(VARIANT varChild, BSTR* pszKeyboardShortcut) override;
  STDMETHODIMP get_accFocus(VARIANT* pvarChild) override;
  STDMETHODIMP get_accSelection(VARIANT* pvarChildren) override;
  STDMETHODIMP get_accDefaultAction(VARIANT varChild, BSTR* pszDefaultAction) override;
  STDMETHODIMP accSelect(long flagsSelect, VARIANT varChild) override;
  STDMETHODIMP accLocation(long* pxLeft, long* pyTop, long* pcxWidth, long* pcyHeight, VARIANT varChild) override;
  STDMETHODIMP accNavigate(long navDir, VARIANT varStart, VARIANT* pvarEndUpAt) override;
  STDMETHODIMP accHitTest(long xLeft, long yTop, VARIANT* pvarChild) override;
  STDMETHODIMP accDoDefaultAction(VARIANT varChild) override;
  STDMETHODIMP put_accName(VARIANT varChild, BSTR szName) override;
  STDMETHODIMP put_accValue(VARIANT varChild, BSTR szValue) override;

  // IEnumVARIANT: the visible children's ids in reading order.
  STDMETHODIMP Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override;
  STDMETHODIMP Skip(ULONG celt) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumVARIANT** ppEnum) override;

 private:
  ~CAccessibleRoot() = default;
  // Every control of the tree that has a role, in tree order: child id n is
  // the n-th of them (from 1), visible or not, so ids stay the same while
  // pages and panels show and hide.
  std::vector<CControlUI*> Members() const;
  std::vector<LONG> VisibleChildren() const;  // ids in reading order
  static bool IsShown(CControlUI* control);
  LONG ChildIdOf(CControlUI* control) const;
  // The control for a child VARIANT: false when it names no child; *control
  // stays null for the client object itself (CHILDID_SELF).
  bool Resolve(const VARIANT& child, CControlUI** control) const;
  HRESULT Alive() const { return m_pManager ? S_OK : RPC_E_DISCONNECTED; }
  void RaiseProgressValue(LONG childId);
  static void CALLBACK FlushProgressEvent(HWND hwnd, UINT, UINT_PTR, DWORD);

  LONG m_nRef = 1;
  HWND m_hWnd;
  CUIManager* m_pManager;
  std::vector<LONG> m_enumIds;  // IEnumVARIANT snapshot, taken by Reset
  ULONG m_enumPos = 0;
  bool m_enumReady = false;
  DWORD m_dwLastProgressEvent = 0;
  LONG m_nPendingProgress = 0;  // child id of a value change held back by the one-second rule
  bool m_bComReady = false;
};

}  // namespace SkinUI
