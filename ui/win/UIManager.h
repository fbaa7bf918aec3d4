// The paint manager of one skinned window: owns the control tree, turns
// window messages into control events, tracks focus, hover and the pushed
// control, paints (double-buffered), holds fonts, images and default colours,
// and sends notifications to the registered listeners.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace SkinUI {

class CControlUI;
class COptionUI;

// A named event with its sending control.
struct NotifyMsg {
  std::wstring sType;        // "click", "selectchanged", "textchanged", "setfocus", ...
  std::wstring sVirtualWnd;  // virtual window name, when virtual windows are used
  CControlUI* pSender = nullptr;
  DWORD dwTimestamp = 0;     // milliseconds since system start
  POINT ptMouse{0, 0};       // last known mouse position, client coordinates
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

class INotifyUI {
 public:
  virtual ~INotifyUI() = default;
  virtual void Notify(NotifyMsg& msg) = 0;
};

// Receives the accessibility events of the controls (focus, state, value,
// name, show and hide as WinEvent ids) to raise them for screen readers.
class IAccessibleEventSink {
 public:
  virtual ~IAccessibleEventSink() = default;
  virtual void OnAccessibleEvent(CControlUI* control, DWORD event) = 0;
};

class IMessageFilterUI {
 public:
  virtual ~IMessageFilterUI() = default;
  virtual LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) = 0;
};

// Events the manager delivers to controls.
enum EventTypeUI {
  UIEVENT_MOUSEMOVE = 1,
  UIEVENT_MOUSELEAVE,
  UIEVENT_MOUSEENTER,
  UIEVENT_MOUSEHOVER,
  UIEVENT_BUTTONDOWN,
  UIEVENT_BUTTONUP,
  UIEVENT_DBLCLICK,
  UIEVENT_RBUTTONDOWN,
  UIEVENT_CONTEXTMENU,
  UIEVENT_SCROLLWHEEL,
  UIEVENT_KEYDOWN,
  UIEVENT_CHAR,
  UIEVENT_SETFOCUS,
  UIEVENT_KILLFOCUS,
  UIEVENT_SETCURSOR,
  UIEVENT_TIMER,
};

struct TEventUI {
  int Type = 0;
  CControlUI* pSender = nullptr;
  DWORD dwTimestamp = 0;
  POINT ptMouse{0, 0};
  wchar_t chKey = 0;
  WORD wKeyState = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

struct TFontInfo {
  HFONT hFont = nullptr;
  std::wstring sFontName;
  int iSize = 0;
  bool bBold = false, bUnderline = false, bItalic = false;
  TEXTMETRICW tm{};
};

// A decoded image as a 32-bit top-down DIB section, premultiplied alpha.
struct TImageInfo {
  HBITMAP hBitmap = nullptr;
  int nX = 0, nY = 0;
  bool bAlpha = false;
};

// Finds controls by predicate over the tree (flags of CControlUI::FindControl).
using FindControlProc = CControlUI* (*)(CControlUI*, void*);
enum FindFlags : unsigned {
  UIFIND_ALL = 0,
  UIFIND_VISIBLE = 1,
  UIFIND_ENABLED = 2,
  UIFIND_HITTEST = 4,
  UIFIND_TOP_FIRST = 8,
  UIFIND_ME_FIRST = 0x80000000u,
};

class CUIManager {
 public:
  CUIManager();
  ~CUIManager();
  CUIManager(const CUIManager&) = delete;
  CUIManager& operator=(const CUIManager&) = delete;

  void Init(HWND hWnd);
  HWND GetPaintWindow() const { return m_hWndPaint; }
  static HINSTANCE GetInstance();
  static void SetInstance(HINSTANCE hInst);

  // Makes the tree current: releases the old one, attaches every control
  // (names, option groups) and schedules a full layout.
  bool AttachRoot(CControlUI* pControl);
  CControlUI* GetRoot() const { return m_pRoot; }
  // Registers a control tree with this manager (used by AttachRoot and by
  // containers adding children at run time).
  void InitControls(CControlUI* pControl, CControlUI* pParent = nullptr);
  void ReapObjects(CControlUI* pControl);  // forgets a control about to go away
  void AddDelayedCleanup(CControlUI* pControl);

  void NeedUpdate() { m_bUpdateNeeded = true; }
  void Invalidate(const RECT& rc);
  void Invalidate();

  // Names and groups.
  CControlUI* FindControl(const std::wstring& name) const;
  CControlUI* FindControl(POINT pt) const;
  CControlUI* FindControlAt(POINT pt) const { return FindControl(pt); }
  CControlUI* FindSubControlByName(CControlUI* pParent, const std::wstring& name) const;
  bool AddOptionGroup(const std::wstring& group, COptionUI* pOption);
  std::vector<COptionUI*>* GetOptionGroup(const std::wstring& group);
  void RemoveOptionGroup(const std::wstring& group, COptionUI* pOption);

  // Focus, hover, capture.
  CControlUI* GetFocus() const { return m_pFocus; }
  void SetFocus(CControlUI* pControl, bool bFocusWnd = true);
  CControlUI* GetHot() const { return m_pEventHover; }
  CControlUI* GetPushed() const { return m_pEventClick; }
  POINT GetMousePos() const { return m_ptLastMousePos; }
  void SetCapture();
  void ReleaseCapture();
  bool IsCaptured() const { return m_bMouseCapture; }
  bool IsNoActivate() const { return m_bNoActivate; }
  void SetNoActivate(bool b) { m_bNoActivate = b; }

  // Keyboard navigation (UIFocus.cpp): Tab and Shift+Tab move the focus
  // through the visible, enabled tab stops of the page in reading order,
  // right to left for right-to-left pages. The focus ring shows once the
  // keyboard has moved the focus, as the system's focus cues do.
  void SetRightToLeft(bool b) { m_bRightToLeft = b; }
  bool IsRightToLeft() const { return m_bRightToLeft; }
  std::vector<CControlUI*> GetTabOrder() const;
  bool MoveFocus(bool bBackward);
  bool HandleNavigationKey(WPARAM key);
  bool IsFocusRingShown() const { return m_bShowFocusRing; }
  void ShowFocusRing(bool bShow = true);
  DWORD GetFocusRingColor() const;  // skin attribute "focusringcolor"
  // The ring goes round the focused tab stop, a little outside it, over
  // everything else: painted last, after the whole tree.
  void PaintFocusRing(HDC hDC);
  void InvalidateFocusRing(CControlUI* pControl);

  // Accessibility events of the controls go to the sink, when one is set.
  void SetAccessibleEventSink(IAccessibleEventSink* pSink) { m_pAccessibleSink = pSink; }
  void RaiseAccessibleEvent(CControlUI* pControl, DWORD event) {
    if (m_pAccessibleSink) m_pAccessibleSink->OnAccessibleEvent(pControl, event);
  }

  // Notifications.
  bool AddNotifier(INotifyUI* pNotifier);
  bool RemoveNotifier(INotifyUI* pNotifier);
  void SendNotify(NotifyMsg& msg, bool bAsync = false, bool bAllowRepeat = true);
  void SendNotify(CControlUI* pControl, const std::wstring& type, WPARAM wParam = 0, LPARAM lParam = 0,
                  bool bAsync = false, bool bAllowRepeat = true);
  bool AddPreMessageFilter(IMessageFilterUI* pFilter);
  bool RemovePreMessageFilter(IMessageFilterUI* pFilter);
  bool AddMessageFilter(IMessageFilterUI* pFilter);
  bool RemoveMessageFilter(IMessageFilterUI* pFilter);

  // Control timers, delivered as UIEVENT_TIMER and the "timer" notification.
  bool SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse);
  bool KillTimer(CControlUI* pControl, UINT nTimerID);
  void KillTimers(CControlUI* pControl);

  // Window attributes from the skin.
  SIZE GetInitSize() const { return m_szInitWindowSize; }
  void SetInitSize(int cx, int cy);
  RECT GetSizeBox() const { return m_rcSizeBox; }
  void SetSizeBox(const RECT& rc) { m_rcSizeBox = rc; }
  RECT GetCaptionRect() const { return m_rcCaption; }
  void SetCaptionRect(const RECT& rc) { m_rcCaption = rc; }
  SIZE GetRoundCorner() const { return m_szRoundCorner; }
  void SetRoundCorner(int cx, int cy) { m_szRoundCorner = {cx, cy}; }
  SIZE GetMinInfo() const { return m_szMinWindow; }
  void SetMinInfo(int cx, int cy) { m_szMinWindow = {cx, cy}; }
  SIZE GetMaxInfo() const { return m_szMaxWindow; }
  void SetMaxInfo(int cx, int cy) { m_szMaxWindow = {cx, cy}; }
  void SetShowUpdateRect(bool b) { m_bShowUpdateRect = b; }
  void SetOpacity(BYTE opacity);
  // Applies one attribute of the skin's root "Window" element.
  void SetWindowAttribute(const std::wstring& name, const std::wstring& value);
  std::wstring GetWindowCustomAttribute(const std::wstring& name) const;

  // Default colours (0xAARRGGBB).
  DWORD GetDefaultDisabledColor() const { return m_dwDefaultDisabledColor; }
  DWORD GetDefaultFontColor() const { return m_dwDefaultFontColor; }
  DWORD GetDefaultLinkFontColor() const { return m_dwDefaultLinkFontColor; }
  DWORD GetDefaultLinkHoverFontColor() const { return m_dwDefaultLinkHoverFontColor; }
  DWORD GetDefaultSelectedBkColor() const { return m_dwDefaultSelectedBkColor; }

  // Fonts: registered by id, the default font, and variants made for markup.
  HFONT AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic,
                bool makeDefault = false);
  HFONT GetFont(int id);  // the registered font or the default one
  TFontInfo* GetFontInfo(int id);
  TFontInfo* GetFontInfo(HFONT hFont);
  TFontInfo* GetDefaultFontInfo();
  HFONT GetFont(const std::wstring& face, int size, bool bold, bool underline, bool italic);

  // Images, cached by name; null when the file cannot be found or decoded.
  const TImageInfo* GetImageEx(const std::wstring& name, DWORD mask = 0, bool useMask = false);
  const TImageInfo* AddImage(const std::wstring& name, DWORD mask = 0, bool useMask = false);
  const TImageInfo* AddColourImage(DWORD argb);

  // Default attribute lists per element name ("Default" elements).
  void AddDefaultAttributeList(const std::wstring& controlName, const std::wstring& list);
  std::wstring GetDefaultAttributeList(const std::wstring& controlName) const;

  // Language tokens %{N} ("MultiLanguage" elements).
  void AddMultiLanguageString(int id, const std::wstring& text);
  std::wstring ReplaceLanguageTokens(const std::wstring& text) const;

  // Offers a message to the toolkit before translation: the pre-message
  // filters of the manager whose window is the target or an ancestor.
  static bool TranslateMessage(const LPMSG pMsg);
  bool PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
  bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

  HDC GetPaintDC() const { return m_hDcPaint; }

 private:
  void DoPaint();
  void SetHot(CControlUI* pNew, POINT pt, DWORD now);
  static CControlUI* FindControlFromNameHash(CControlUI* pThis, void* pData);
  static CControlUI* FindControlFromPoint(CControlUI* pThis, void* pData);
  static CControlUI* FindControlFromName(CControlUI* pThis, void* pData);
  static CControlUI* ReapControl(CControlUI* pThis, void* pData);
  void FreeFont(TFontInfo& f);
  void SendQueued();

  HWND m_hWndPaint = nullptr;
  HDC m_hDcPaint = nullptr;
  HDC m_hDcOffscreen = nullptr;
  HBITMAP m_hbmpOffscreen = nullptr;
  HBITMAP m_hbmpOffscreenOld = nullptr;
  SIZE m_szOffscreen{0, 0};
  bool m_bShowUpdateRect = false;
  bool m_bNoActivate = false;
  bool m_bUpdateNeeded = false;
  bool m_bFirstLayout = true;
  bool m_bMouseTracking = false;
  bool m_bMouseCapture = false;
  bool m_bRightToLeft = false;
  bool m_bShowFocusRing = false;
  IAccessibleEventSink* m_pAccessibleSink = nullptr;

  CControlUI* m_pRoot = nullptr;
  CControlUI* m_pFocus = nullptr;
  CControlUI* m_pEventHover = nullptr;
  CControlUI* m_pEventClick = nullptr;
  POINT m_ptLastMousePos{-1, -1};

  SIZE m_szInitWindowSize{0, 0};
  SIZE m_szMinWindow{0, 0};
  SIZE m_szMaxWindow{0, 0};
  SIZE m_szRoundCorner{0, 0};
  RECT m_rcSizeBox{0, 0, 0, 0};
  RECT m_rcCaption{0, 0, 0, 0};

  std::map<std::wstring, CControlUI*> m_mNameHash;
  std::map<std::wstring, std::vector<COptionUI*>> m_mOptionGroup;
  std::vector<INotifyUI*> m_aNotifiers;
  std::vector<IMessageFilterUI*> m_aPreMessageFilters;
  std::vector<IMessageFilterUI*> m_aMessageFilters;
  struct TimerInfo {
    CControlUI* pSender;
    UINT nLocalID;
    UINT_PTR uWinTimer;
    bool bKilled;
  };
  std::vector<TimerInfo> m_aTimers;
  UINT_PTR m_uTimerID = 0x1000;
  std::vector<NotifyMsg> m_aAsyncNotify;
  std::vector<CControlUI*> m_aDelayedCleanup;

  std::map<int, TFontInfo> m_mFonts;
  std::vector<TFontInfo> m_aExtraFonts;  // fonts made for markup text
  TFontInfo m_DefaultFont;
  std::map<std::wstring, std::unique_ptr<TImageInfo>> m_mImages;
  std::map<std::wstring, bool> m_mFailedImages;
  std::map<std::wstring, std::wstring> m_mDefaultAttrs;
  std::map<std::wstring, std::wstring> m_mWindowCustomAttrs;
  std::map<int, std::wstring> m_mMultiLanguage;

  DWORD m_dwDefaultDisabledColor = 0xFFA7A6AA;
  DWORD m_dwDefaultFontColor = 0xFF000000;
  DWORD m_dwDefaultLinkFontColor = 0xFF0000FF;
  DWORD m_dwDefaultLinkHoverFontColor = 0xFFD3215F;
  DWORD m_dwDefaultSelectedBkColor = 0xFFBAE4FF;

  static HINSTANCE s_hInstance;
  static std::vector<CUIManager*> s_aPreMessages;
};

// The visible controls under root that take() accepts, in reading order:
// every container's visible children are ordered by their rectangles
// (rows, then left to right or right to left) and visited in that order.
std::vector<CControlUI*> ControlsInReadingOrder(CControlUI* root, bool rightToLeft, bool (*take)(CControlUI*));

// Gives the toolkit the executable's module handle: window classes are
// registered with it and resources are searched in it.
void SetModuleInstance(HINSTANCE hInst);

// Private message the manager posts itself for queued notifications.
constexpr UINT WM_SKINUI_ASYNC_NOTIFY = WM_APP + 1;

}  // namespace SkinUI
