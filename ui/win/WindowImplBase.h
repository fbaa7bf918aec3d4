// The frameless skinned window: CWindowWnd (a native window with its window
// procedure, modal loop and centring), CNotifyPump (message maps that route
// notifications to handler functions) and WindowImplBase, the base of the
// application's windows.
//
// Deriving a window:
//
//   class CMyWnd : public SkinUI::WindowImplBase {
//    public:
//     std::wstring GetWindowClassName() const override { return L"MyFrame"; }
//     std::wstring GetSkinFolder() override { return L""; }
//     std::wstring GetSkinFile() override { return L"skin.xml"; }
//     UILIB_RESOURCETYPE GetResourceType() const override { return UILIB_ZIPRESOURCE; }
//     std::wstring GetResourceID() const override { return L"104"; }  // "ZIPRES"/104
//     void InitWindow() override;              // the skin is built: find controls here
//     void Notify(SkinUI::NotifyMsg& msg) override;  // or a message map (below)
//     LRESULT HandleCustomMessage(UINT, WPARAM, LPARAM, BOOL& bHandled) override;  // timers etc.
//     SKINUI_DECLARE_MESSAGE_MAP()
//     void OnClick(SkinUI::NotifyMsg& msg) override;  // handle own names, then call the base
//   };
//   SKINUI_BEGIN_MESSAGE_MAP(CMyWnd, SkinUI::WindowImplBase)
//     SKINUI_ON_MSGTYPE(L"click", OnClick)
//     SKINUI_ON_CLICK_CTRNAME(L"btn_install", OnInstall)
//   SKINUI_END_MESSAGE_MAP()
//
// Start-up: SetModuleInstance(hInstance); SetResourceFolder(GetModuleFolder());
// then wnd.Create(nullptr, title, style, 0, 0, 0, 0, 0); wnd.CenterWindow();
// wnd.ShowModal(). A skin that cannot be loaded or built shows the message
// box "加载资源文件失败" (caption "SkinUI") and ends the process with exit code 1.
// Controls are found with m_pm.FindControl(L"name") after InitWindow starts.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "ui/win/ControlFactory.h"
#include "ui/win/UIManager.h"

namespace SkinUI {

class CAccessibleRoot;
class CNotifyPump;
using NotifyHandler = void (CNotifyPump::*)(NotifyMsg&);
using NotifyHandlerWL = LRESULT (CNotifyPump::*)(WPARAM, LPARAM);

// Handler kinds of a message-map entry.
enum NotifyHandlerKind { kNotify_End = 0, kNotify_WParamLParam = 1, kNotify_Msg = 2 };

struct NotifyMapEntry {
  const wchar_t* type;         // notification type
  const wchar_t* controlName;  // empty: any control
  int kind;
  NotifyHandler handler;
  NotifyHandlerWL handlerWL;
};

struct NotifyMap {
  const NotifyMap* base;
  const NotifyMapEntry* entries;
};

class CNotifyPump {
 public:
  virtual ~CNotifyPump() = default;
  virtual const NotifyMap* GetMessageMap() const;
  // Routes a notification to a virtual window's map or to this map chain.
  void NotifyPump(NotifyMsg& msg);
  bool AddVirtualWnd(const std::wstring& name, CNotifyPump* pump);
  bool RemoveVirtualWnd(const std::wstring& name);

  static const NotifyMap messageMap;

 protected:
  // Searches the map chain from the derived class to its bases; in each
  // table an entry naming the sender wins, else the last unnamed entry of
  // the same type. True when a handler ran.
  bool LoopDispatch(NotifyMsg& msg);

 private:
  std::map<std::wstring, CNotifyPump*> m_virtualWnds;
};

#define SKINUI_DECLARE_MESSAGE_MAP()                            \
 public:                                                        \
  static const SkinUI::NotifyMap messageMap;                    \
  const SkinUI::NotifyMap* GetMessageMap() const override;      \
                                                                \
 private:                                                       \
  static const SkinUI::NotifyMapEntry messageEntries[];         \
                                                                \
 public:

#define SKINUI_BEGIN_MESSAGE_MAP(theClass, baseClass)                                          \
  const SkinUI::NotifyMap* theClass::GetMessageMap() const { return &theClass::messageMap; }   \
  const SkinUI::NotifyMap theClass::messageMap = {&baseClass::messageMap, &theClass::messageEntries[0]}; \
  const SkinUI::NotifyMapEntry theClass::messageEntries[] = {
#define SKINUI_ON_MSGTYPE(type, func) \
  {type, L"", SkinUI::kNotify_Msg, static_cast<SkinUI::NotifyHandler>(&func), nullptr},
#define SKINUI_ON_MSGTYPE_CTRNAME(type, name, func) \
  {type, name, SkinUI::kNotify_Msg, static_cast<SkinUI::NotifyHandler>(&func), nullptr},
#define SKINUI_ON_CLICK_CTRNAME(name, func) SKINUI_ON_MSGTYPE_CTRNAME(L"click", name, func)
#define SKINUI_ON_MSGTYPE_WL(type, name, func) \
  {type, name, SkinUI::kNotify_WParamLParam, nullptr, static_cast<SkinUI::NotifyHandlerWL>(&func)},
#define SKINUI_END_MESSAGE_MAP() \
  { nullptr, nullptr, SkinUI::kNotify_End, nullptr, nullptr } \
  };

class CWindowWnd {
 public:
  CWindowWnd() = default;
  virtual ~CWindowWnd() = default;
  CWindowWnd(const CWindowWnd&) = delete;
  CWindowWnd& operator=(const CWindowWnd&) = delete;

  HWND GetHWND() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }

  HWND Create(HWND hwndParent, const std::wstring& name, DWORD dwStyle, DWORD dwExStyle, int x = CW_USEDEFAULT,
              int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT);
  void ShowWindow(bool bShow = true, bool bTakeFocus = true);
  // Runs a message loop until the window closes, disabling the owner; the
  // result is the wParam of the WM_CLOSE that closed it.
  UINT ShowModal();
  // Posts WM_CLOSE with the result as wParam.
  void Close(UINT nRet = IDOK);
  void CenterWindow();
  void SetIcon(UINT nRes);
  void ResizeClient(int cx = -1, int cy = -1);
  LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
  LRESULT PostMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);

  virtual std::wstring GetWindowClassName() const = 0;
  virtual std::wstring GetSuperClassName() const { return L""; }
  virtual UINT GetClassStyle() const { return CS_DBLCLKS; }
  virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
  virtual void OnFinalMessage(HWND hWnd) {}

 protected:
  bool RegisterWindowClass();
  static LRESULT CALLBACK __WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
};

enum UILIB_RESOURCETYPE {
  UILIB_FILE = 1,         // plain files under the resource folder
  UILIB_ZIP = 2,          // a ZIP file under the resource folder
  UILIB_RESOURCE = 3,     // the layout as an "xml" resource
  UILIB_ZIPRESOURCE = 4,  // a ZIP archive in the resources ("ZIPRES")
};

class WindowImplBase : public CWindowWnd,
                       public CNotifyPump,
                       public INotifyUI,
                       public IMessageFilterUI,
                       public IDialogBuilderCallback {
 public:
  WindowImplBase() = default;
  ~WindowImplBase() override;

  UINT GetClassStyle() const override { return CS_DBLCLKS; }
  LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
  void OnFinalMessage(HWND hWnd) override;

  virtual void InitWindow() {}
  virtual void OnClick(NotifyMsg& msg);
  virtual std::wstring GetSkinFolder() = 0;
  virtual std::wstring GetSkinFile() = 0;
  virtual LRESULT OnDefaultKey(WPARAM wParam);  // Escape closes with 1; Return does nothing
  virtual UILIB_RESOURCETYPE GetResourceType() const { return UILIB_FILE; }
  virtual std::wstring GetZipFileName() const { return L""; }
  virtual std::wstring GetResourceID() const { return L""; }

  virtual LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnNcActivate(UINT, WPARAM wParam, LPARAM, BOOL& bHandled);
  virtual LRESULT OnNcCalcSize(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnNcPaint(UINT, WPARAM, LPARAM, BOOL&) { return 0; }
  virtual LRESULT OnNcHitTest(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnGetMinMaxInfo(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnMouseWheel(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnMouseHover(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnSize(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnChar(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnSysCommand(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnCreate(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnKeyDown(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnKillFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnSetFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnLButtonDown(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnLButtonUp(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT OnMouseMove(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LRESULT HandleCustomMessage(UINT, WPARAM, LPARAM, BOOL& bHandled) { bHandled = FALSE; return 0; }
  virtual LONG GetStyle();

  // INotifyUI: the message-map dispatcher.
  void Notify(NotifyMsg& msg) override { NotifyPump(msg); }
  // IMessageFilterUI: Return and Escape go to OnDefaultKey.
  LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;
  // IDialogBuilderCallback: the window base makes no controls of its own.
  CControlUI* CreateControl(const std::wstring& className) override { return nullptr; }

  CControlUI* FindControl(const std::wstring& name) const { return m_pm.FindControl(name); }
  CUIManager& GetManager() { return m_pm; }

  SKINUI_DECLARE_MESSAGE_MAP()

 protected:
  // Reports a skin that cannot be loaded or built and ends the process (1).
  [[noreturn]] virtual void OnSkinLoadFailed(const std::wstring& reason);
  // Screen reader support: the accessible tree answers WM_GETOBJECT; the
  // caption buttons without a tooltip are named like the system menu's
  // commands, in the system's language.
  void InitAccessibility();
  void ReleaseAccessibility();

  CUIManager m_pm;
  CAccessibleRoot* m_pAccessible = nullptr;
};

}  // namespace SkinUI
