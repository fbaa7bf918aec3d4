#include "ui/win/UIAccessible.h"

#include <algorithm>
#include <new>

#include "ui/markup/Markup.h"
#include "ui/win/UIControl.h"
#include "ui/win/UIControls.h"

namespace SkinUI {

namespace {

constexpr UINT_PTR kProgressEventTimer = 0x5C1A;
constexpr DWORD kProgressEventPeriodMs = 1000;
const wchar_t kRootProperty[] = L"SkinUI.AccessibleRoot";

std::wstring Trimmed(const std::wstring& s) {
  size_t b = s.find_first_not_of(L" \t\r\n");
  if (b == std::wstring::npos) return std::wstring();
  size_t e = s.find_last_not_of(L" \t\r\n");
  return s.substr(b, e - b + 1);
}

HRESULT ReturnString(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (text.empty()) return S_FALSE;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

void SetChildVariant(VARIANT* v, LONG id) {
  VariantInit(v);
  v->vt = VT_I4;
  v->lVal = id;
}

// Controls visit their children through the container interface.
template <typename Fn>
void WalkTree(CControlUI* c, const Fn& fn) {
  if (!c) return;
  fn(c);
  if (auto* container = static_cast<IContainerUI*>(c->GetInterface(L"IContainer"))) {
    for (int i = 0; i < container->GetCount(); ++i) WalkTree(container->GetItemAt(i), fn);
  }
}

// A progress bar that fills from the right by showing max - value (the
// right-to-left skin's "mirrored" bar) reports the progress, not the fill.
int ProgressPercent(CProgressUI* p) {
  int range = p->GetMaxValue() - p->GetMinValue();
  if (range <= 0) return 0;
  int value = p->GetValue() - p->GetMinValue();
  if (p->GetCustomAttribute(L"mirrored") == L"true") value = range - value;
  return static_cast<int>(static_cast<long long>(value) * 100 / range);
}

}  // namespace

LONG AccessibleRoleOf(CControlUI* c) {
  if (!c) return 0;
  if (c->GetInterface(L"Progress")) return ROLE_SYSTEM_PROGRESSBAR;
  if (c->GetInterface(L"Edit")) return ROLE_SYSTEM_TEXT;
  if (c->GetInterface(L"CheckBox")) return ROLE_SYSTEM_CHECKBUTTON;
  if (auto* option = static_cast<COptionUI*>(c->GetInterface(L"Option")))
    return option->GetGroup().empty() ? ROLE_SYSTEM_CHECKBUTTON : ROLE_SYSTEM_RADIOBUTTON;
  // A button that shows markup is a sentence with a link in it.
  if (auto* button = static_cast<CButtonUI*>(c->GetInterface(L"Button")))
    return button->IsShowHtml() ? ROLE_SYSTEM_LINK : ROLE_SYSTEM_PUSHBUTTON;
  if (c->GetInterface(L"Label")) return ROLE_SYSTEM_STATICTEXT;
  // Named pictures such as the banner; unnamed ones are decoration.
  if (c->GetClass() == L"Control" && !c->GetName().empty() && (!c->GetBkImage().empty() || !c->GetToolTip().empty()))
    return ROLE_SYSTEM_GRAPHIC;
  return 0;
}

std::wstring AccessibleNameOf(CControlUI* c) {
  if (!c) return std::wstring();
  std::wstring name;
  if (!c->GetInterface(L"Edit")) {  // an edit's text is its value
    name = c->GetText();
    if (CUIManager* m = c->GetManager()) name = m->ReplaceLanguageTokens(name);
    auto* label = static_cast<CLabelUI*>(c->GetInterface(L"Label"));
    if (label && label->IsShowHtml()) name = MarkupPlainText(name);
    name = Trimmed(name);
  }
  if (name.empty()) name = Trimmed(c->GetToolTip());
  // A picture-only option of a group (a carousel dot) is read by its place.
  auto* option = static_cast<COptionUI*>(c->GetInterface(L"Option"));
  if (name.empty() && option && !option->GetGroup().empty() && c->GetManager()) {
    if (auto* group = c->GetManager()->GetOptionGroup(option->GetGroup())) {
      auto at = std::find(group->begin(), group->end(), option);
      if (at != group->end()) name = std::to_wstring(at - group->begin() + 1);
    }
  }
  return name;
}

// ---------------------------------------------------------------------------
// The enumerator handed out by Clone: a snapshot of child ids.

namespace {

class CChildEnum final : public IEnumVARIANT {
 public:
  CChildEnum(std::vector<LONG> ids, ULONG pos) : m_ids(std::move(ids)), m_pos(pos) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumVARIANT) {
      *ppv = static_cast<IEnumVARIANT*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_ref)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG r = InterlockedDecrement(&m_ref);
    if (r == 0) delete this;
    return static_cast<ULONG>(r);
  }
  STDMETHODIMP Next(ULONG celt, VARIANT* rgVar, ULONG* fetched) override {
    return NextIds(m_ids, m_pos, celt, rgVar, fetched);
  }
  STDMETHODIMP Skip(ULONG celt) override {
    m_pos = std::min<ULONG>(static_cast<ULONG>(m_ids.size()), m_pos + celt);
    return m_pos < m_ids.size() || celt == 0 ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    *ppEnum = new (std::nothrow) CChildEnum(m_ids, m_pos);
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
  }

  static HRESULT NextIds(const std::vector<LONG>& ids, ULONG& pos, ULONG celt, VARIANT* rgVar, ULONG* fetched) {
    if (!rgVar) return E_POINTER;
    ULONG n = 0;
    while (n < celt && pos < ids.size()) SetChildVariant(&rgVar[n++], ids[pos++]);
    if (fetched) *fetched = n;
    return n == celt ? S_OK : S_FALSE;
  }

 private:
  ~CChildEnum() = default;
  LONG m_ref = 1;
  std::vector<LONG> m_ids;
  ULONG m_pos;
};

}  // namespace

// ---------------------------------------------------------------------------
// CAccessibleRoot

CAccessibleRoot::CAccessibleRoot(HWND hwnd, CUIManager* manager) : m_hWnd(hwnd), m_pManager(manager) {
  SetPropW(m_hWnd, kRootProperty, this);
}

void CAccessibleRoot::Disconnect() {
  if (!m_pManager) return;
  KillTimer(m_hWnd, kProgressEventTimer);
  RemovePropW(m_hWnd, kRootProperty);
  m_pManager = nullptr;
  CoDisconnectObject(static_cast<IAccessible*>(this), 0);
}

LRESULT CAccessibleRoot::OnGetObject(WPARAM wParam, LPARAM lParam) {
  if (!m_pManager || static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT) return 0;
  // Marshalling needs COM on this thread; a thread that has it already keeps its kind.
  if (!m_bComReady) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_bComReady = SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
  }
  return LresultFromObject(IID_IAccessible, wParam, static_cast<IAccessible*>(this));
}

std::vector<CControlUI*> CAccessibleRoot::Members() const {
  std::vector<CControlUI*> members;
  if (!m_pManager) return members;
  WalkTree(m_pManager->GetRoot(), [&](CControlUI* c) {
    if (AccessibleRoleOf(c) != 0) members.push_back(c);
  });
  return members;
}

bool CAccessibleRoot::IsShown(CControlUI* c) {
  const RECT& r = c->GetPos();
  if (!c->IsVisible() || r.right <= r.left || r.bottom <= r.top) return false;
  for (CControlUI* p = c->GetParent(); p; p = p->GetParent()) {
    if (!p->IsVisible()) return false;
  }
  return true;
}

std::vector<LONG> CAccessibleRoot::VisibleChildren() const {
  std::vector<LONG> ids;
  if (!m_pManager) return ids;
  std::vector<CControlUI*> members = Members();
  auto shownMember = [](CControlUI* c) { return AccessibleRoleOf(c) != 0 && IsShown(c); };
  for (CControlUI* c : ControlsInReadingOrder(m_pManager->GetRoot(), m_pManager->IsRightToLeft(), shownMember))
    ids.push_back(static_cast<LONG>(std::find(members.begin(), members.end(), c) - members.begin() + 1));
  return ids;
}

LONG CAccessibleRoot::ChildIdOf(CControlUI* control) const {
  std::vector<CControlUI*> members = Members();
  auto at = std::find(members.begin(), members.end(), control);
  return at == members.end() ? 0 : static_cast<LONG>(at - members.begin() + 1);
}

bool CAccessibleRoot::Resolve(const VARIANT& child, CControlUI** control) const {
  *control = nullptr;
  if (child.vt != VT_I4) return false;
  if (child.lVal == CHILDID_SELF) return true;
  std::vector<CControlUI*> members = Members();
  if (child.lVal < 1 || static_cast<size_t>(child.lVal) > members.size()) return false;
  *control = members[static_cast<size_t>(child.lVal) - 1];
  return true;
}

// --- IUnknown

STDMETHODIMP CAccessibleRoot::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAccessible) {
    *ppv = static_cast<IAccessible*>(this);
  } else if (riid == IID_IEnumVARIANT) {
    *ppv = static_cast<IEnumVARIANT*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CAccessibleRoot::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_nRef)); }

STDMETHODIMP_(ULONG) CAccessibleRoot::Release() {
  LONG r = InterlockedDecrement(&m_nRef);
  if (r == 0) delete this;
  return static_cast<ULONG>(r);
}

// --- IDispatch

STDMETHODIMP CAccessibleRoot::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}
STDMETHODIMP CAccessibleRoot::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CAccessibleRoot::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP CAccessibleRoot::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

// --- IAccessible

STDMETHODIMP CAccessibleRoot::get_accParent(IDispatch** ppdispParent) {
  if (!ppdispParent) return E_POINTER;
  *ppdispParent = nullptr;
  if (FAILED(Alive())) return Alive();
  // The window frame's standard object is the client's parent.
  return CreateStdAccessibleObject(m_hWnd, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(ppdispParent));
}

STDMETHODIMP CAccessibleRoot::get_accChildCount(long* pcountChildren) {
  if (!pcountChildren) return E_POINTER;
  *pcountChildren = 0;
  if (FAILED(Alive())) return Alive();
  *pcountChildren = static_cast<long>(VisibleChildren().size());
  return S_OK;
}

STDMETHODIMP CAccessibleRoot::get_accChild(VARIANT varChild, IDispatch** ppdispChild) {
  if (!ppdispChild) return E_POINTER;
  *ppdispChild = nullptr;
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varChild, &c) || !c) return E_INVALIDARG;
  return S_FALSE;  // a simple element: its parent answers for it
}

STDMETHODIMP CAccessibleRoot::get_accName(VARIANT varChild, BSTR* pszName) {
  if (!pszName) return E_POINTER;
  *pszName = nullptr;
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varChild, &c)) return E_INVALIDARG;
  if (!c) {
    int len = GetWindowTextLengthW(m_hWnd);
    std::wstring title(static_cast<size_t>(len) + 1, L'\0');
    title.resize(static_cast<size_t>(GetWindowTextW(m_hWnd, &title[0], len + 1)));
    return ReturnString(title, pszName);
  }
  return ReturnString(AccessibleNameOf(c), pszName);
}

STDMETHODIMP CAccessibleRoot::get_accValue(VARIANT varChild, BSTR* pszValue) {
  if (!pszValue) return E_POINTER;
  *pszValue = nullptr;
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varChild, &c)) return E_INVALIDARG;
  if (!c) return S_FALSE;
  if (auto* progress = static_cast<CProgressUI*>(c->GetInterface(L"Progress")))
    return ReturnString(std::to_wstring(ProgressPercent(progress)) + L"%", pszValue);
  if (c->GetInterface(L"Edit")) return ReturnString(c->GetText(), pszValue);
  return S_FALSE;
}

STDMETHODIMP CAccessibleRoot::get_accDescription(VARIANT varChild, BSTR* pszDescription) {
  if (!pszDescription) return E_POINTER;
  *pszDescription = nullptr;
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  return Resolve(varChild, &c) ? S_FALSE : E_INVALIDARG;
}

STDMETHODIMP CAccessibleRoot::get_accRole(VARIANT varChild, VARIANT* pvarRole) {
  if (!pvarRole) return E_POINTER;
  VariantInit(pvarRole);
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varChild, &c)) return E_INVALIDARG;
  pvarRole->vt = VT_I4;
  pvarRole->lVal = c ? AccessibleRoleOf(c) : ROLE_SYSTEM_CLIENT;
  return S_OK;
}

STDMETHODIMP CAccessibleRoot::get_accState(VARIANT varChild, VARIANT* pvarState) {
  if (!pvarState) return E_POINTER;
  VariantInit(pvarState);
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varChild, &c)) return E_INVALIDARG;
  LONG state = 0;
  if (!c) {
    state = STATE_SYSTEM_FOCUSABLE;
    if (!IsWindowVisible(m_hWnd)) state |= STATE_SYSTEM_INVISIBLE;
    if (GetFocus() == m_hWnd && ChildIdOf(m_pManager->GetFocus()) == 0) state |= STATE_SYSTEM_FOCUSED;
  } else {
    if (!IsShown(c)) state |= STATE_SYSTEM_INVISIBLE;
    if (!c->IsEnabled()) state |= STATE_SYSTEM_UNAVAILABLE;
    if (c->IsEnabled() && c->IsKeyboardEnabled() && (c->GetControlFlags() & UIFLAG_TABSTOP))
      state |= STATE_SYSTEM_FOCUSABLE;
    if (m_pManager->GetFocus() == c) state |= STATE_SYSTEM_FOCUSED;
    if (auto* option = static_cast<COptionUI*>(c->GetInterface(L"Option"))) {
      if (option->IsSelected()) state |= STATE_SYSTEM_CHECKED;
    }
    if (auto* edit = static_cast<CEditUI*>(c->GetInterface(L"Edit"))) {
      if (edit->IsReadOnly()) state |= STATE_SYSTEM_READONLY;
    }
    if (AccessibleRoleOf(c) == ROLE_SYSTEM_LINK) state |= STATE_SYSTEM_LINKED;
    if (m_pManager->GetHot() == c) state |= STATE_SYSTEM_HOTTRACKED;
  }
  pvarState->vt = VT_I4;
  pvarState->lVal = state;
  return S_OK;
}

STDMETHODIMP CAccessibleRoot::get_accHelp(VARIANT varChild, BSTR* pszHelp) {
  if (!pszHelp) return E_POINTER;
  *pszHelp = nullptr;
  CControlUI* c = nullptr;
  return Resolve(varChild, &c) ? S_FALSE : E_INVALIDARG;
}

STDMETHODIMP CAccessibleRoot::get_accHelpTopic(BSTR* pszHelpFile, VARIANT varChild, long* pidTopic) {
  if (pszHelpFile) *pszHelpFile = nullptr;
  if (pidTopic) *pidTopic = 0;
  CControlUI* c = nullptr;
  return Resolve(varChild, &c) ? S_FALSE : E_INVALIDARG;
}

STDMETHODIMP CAccessibleRoot::get_accKeyboardShortcut(VARIANT varChild, BSTR* pszKeyboardShortcut) {
  if (!pszKeyboardShortcut) return E_POINTER;
  *pszKeyboardShortcut = nullptr;
  CControlUI* c = nullptr;
  return Resolve(varChild, &c) ? S_FALSE : E_INVALIDARG;
}

STDMETHODIMP CAccessibleRoot::get_accFocus(VARIANT* pvarChild) {
  if (!pvarChild) return E_POINTER;
  VariantInit(pvarChild);
  if (FAILED(Alive())) return Alive();
  LONG id = ChildIdOf(m_pManager->GetFocus());
  if (id != 0 && IsShown(m_pManager->GetFocus())) {
    SetChildVariant(pvarChild, id);
    return S_OK;
  }
  if (GetFocus() == m_hWnd) {
    SetChildVariant(pvarChild, CHILDID_SELF);
    return S_OK;
  }
  return S_FALSE;
}

STDMETHODIMP CAccessibleRoot::get_accSelection(VARIANT* pvarChildren) {
  if (!pvarChildren) return E_POINTER;
  VariantInit(pvarChildren);
  return FAILED(Alive()) ? Alive() : S_FALSE;
}

STDMETHODIMP CAccessibleRoot::get_accDefaultAction(VARIANT varChild, BSTR* pszDefaultAction) {
  if (!pszDefaultAction) return E_POINTER;
  *pszDefaultAction = nullptr;
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varChild, &c)) return E_INVALIDARG;
  if (!c) return S_FALSE;
  switch (AccessibleRoleOf(c)) {
    case ROLE_SYSTEM_PUSHBUTTON: return ReturnString(L"Press", pszDefaultAction);
    case ROLE_SYSTEM_LINK: return ReturnString(L"Jump", pszDefaultAction);
    case ROLE_SYSTEM_RADIOBUTTON: return ReturnString(L"Select", pszDefaultAction);
    case ROLE_SYSTEM_CHECKBUTTON: {
      auto* option = static_cast<COptionUI*>(c->GetInterface(L"Option"));
      return ReturnString(option && option->IsSelected() ? L"Uncheck" : L"Check", pszDefaultAction);
    }
    default: return S_FALSE;
  }
}

STDMETHODIMP CAccessibleRoot::accSelect(long flagsSelect, VARIANT varChild) {
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varChild, &c)) return E_INVALIDARG;
  if (flagsSelect != SELFLAG_TAKEFOCUS) return DISP_E_MEMBERNOTFOUND;
  if (!c) {
    ::SetFocus(m_hWnd);
    return S_OK;
  }
  if (!IsShown(c) || !c->IsEnabled()) return S_FALSE;
  m_pManager->SetFocus(c);
  return S_OK;
}

STDMETHODIMP CAccessibleRoot::accLocation(long* pxLeft, long* pyTop, long* pcxWidth, long* pcyHeight,
                                          VARIANT varChild) {
  if (!pxLeft || !pyTop || !pcxWidth || !pcyHeight) return E_POINTER;
  *pxLeft = *pyTop = *pcxWidth = *pcyHeight = 0;
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varChild, &c)) return E_INVALIDARG;
  RECT r;
  if (c) r = c->GetPos();
  else GetClientRect(m_hWnd, &r);
  POINT corner{r.left, r.top};
  ClientToScreen(m_hWnd, &corner);
  *pxLeft = corner.x;
  *pyTop = corner.y;
  *pcxWidth = r.right - r.left;
  *pcyHeight = r.bottom - r.top;
  return S_OK;
}

STDMETHODIMP CAccessibleRoot::accNavigate(long navDir, VARIANT varStart, VARIANT* pvarEndUpAt) {
  if (!pvarEndUpAt) return E_POINTER;
  VariantInit(pvarEndUpAt);
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varStart, &c)) return E_INVALIDARG;
  std::vector<LONG> order = VisibleChildren();
  LONG target = 0;
  if (!c && (navDir == NAVDIR_FIRSTCHILD || navDir == NAVDIR_LASTCHILD)) {
    if (!order.empty()) target = navDir == NAVDIR_FIRSTCHILD ? order.front() : order.back();
  } else if (c && (navDir == NAVDIR_NEXT || navDir == NAVDIR_PREVIOUS)) {
    auto at = std::find(order.begin(), order.end(), varStart.lVal);
    if (at != order.end()) {
      if (navDir == NAVDIR_NEXT && at + 1 != order.end()) target = *(at + 1);
      if (navDir == NAVDIR_PREVIOUS && at != order.begin()) target = *(at - 1);
    }
  } else if (navDir < NAVDIR_MIN || navDir > NAVDIR_MAX) {
    return E_INVALIDARG;
  }
  if (target == 0) return S_FALSE;
  SetChildVariant(pvarEndUpAt, target);
  return S_OK;
}

STDMETHODIMP CAccessibleRoot::accHitTest(long xLeft, long yTop, VARIANT* pvarChild) {
  if (!pvarChild) return E_POINTER;
  VariantInit(pvarChild);
  if (FAILED(Alive())) return Alive();
  POINT pt{xLeft, yTop};
  ScreenToClient(m_hWnd, &pt);
  RECT client;
  GetClientRect(m_hWnd, &client);
  if (!PtInRect(&client, pt)) return S_FALSE;
  // The control painted last is on top: search the tree from its end.
  std::vector<CControlUI*> members = Members();
  for (size_t i = members.size(); i-- > 0;) {
    RECT r = members[i]->GetPos();
    if (IsShown(members[i]) && PtInRect(&r, pt)) {
      SetChildVariant(pvarChild, static_cast<LONG>(i + 1));
      return S_OK;
    }
  }
  SetChildVariant(pvarChild, CHILDID_SELF);
  return S_OK;
}

STDMETHODIMP CAccessibleRoot::accDoDefaultAction(VARIANT varChild) {
  if (FAILED(Alive())) return Alive();
  CControlUI* c = nullptr;
  if (!Resolve(varChild, &c)) return E_INVALIDARG;
  if (!c || !c->GetInterface(L"Button")) return DISP_E_MEMBERNOTFOUND;
  if (!IsShown(c) || !c->IsEnabled()) return S_FALSE;
  // The action may open dialogs or message boxes: it runs after this call returns.
  PostMessageW(m_hWnd, WM_SKINUI_ACCESSIBLE_ACTION, static_cast<WPARAM>(varChild.lVal), 0);
  return S_OK;
}

void CAccessibleRoot::RunDefaultAction(LONG childId) {
  VARIANT v;
  SetChildVariant(&v, childId);
  CControlUI* c = nullptr;
  if (!m_pManager || !Resolve(v, &c) || !c || !c->GetInterface(L"Button")) return;
  if (IsShown(c) && c->IsEnabled()) c->Activate();
}

STDMETHODIMP CAccessibleRoot::put_accName(VARIANT, BSTR) { return E_NOTIMPL; }
STDMETHODIMP CAccessibleRoot::put_accValue(VARIANT, BSTR) { return E_NOTIMPL; }

// --- IEnumVARIANT

STDMETHODIMP CAccessibleRoot::Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) {
  if (FAILED(Alive())) return Alive();
  if (!m_enumReady) Reset();
  return CChildEnum::NextIds(m_enumIds, m_enumPos, celt, rgVar, pCeltFetched);
}

STDMETHODIMP CAccessibleRoot::Skip(ULONG celt) {
  if (FAILED(Alive())) return Alive();
  if (!m_enumReady) Reset();
  m_enumPos = std::min<ULONG>(static_cast<ULONG>(m_enumIds.size()), m_enumPos + celt);
  return m_enumPos < m_enumIds.size() || celt == 0 ? S_OK : S_FALSE;
}

STDMETHODIMP CAccessibleRoot::Reset() {
  if (FAILED(Alive())) return Alive();
  m_enumIds = VisibleChildren();
  m_enumPos = 0;
  m_enumReady = true;
  return S_OK;
}

STDMETHODIMP CAccessibleRoot::Clone(IEnumVARIANT** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  if (FAILED(Alive())) return Alive();
  if (!m_enumReady) Reset();
  *ppEnum = new (std::nothrow) CChildEnum(m_enumIds, m_enumPos);
  return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

// --- Events

void CAccessibleRoot::OnAccessibleEvent(CControlUI* control, DWORD event) {
  if (!m_pManager || !IsWindow(m_hWnd)) return;
  LONG id = ChildIdOf(control);
  if (id == 0) {
    // A layout or a page: its children came or went, or the page took the focus.
    if (event == EVENT_OBJECT_SHOW || event == EVENT_OBJECT_HIDE) {
      m_enumReady = false;
      NotifyWinEvent(EVENT_OBJECT_REORDER, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
    } else if (event == EVENT_OBJECT_FOCUS) {
      NotifyWinEvent(EVENT_OBJECT_FOCUS, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
    }
    return;
  }
  if (event == EVENT_OBJECT_SHOW || event == EVENT_OBJECT_HIDE) m_enumReady = false;
  if (event == EVENT_OBJECT_VALUECHANGE && control->GetInterface(L"Progress")) {
    RaiseProgressValue(id);
    return;
  }
  NotifyWinEvent(event, m_hWnd, OBJID_CLIENT, id);
}

// A progress bar's value change is raised at once when the last one is a
// second old; otherwise it waits for the second to pass, so a screen reader
// hears the latest value at most once a second.
void CAccessibleRoot::RaiseProgressValue(LONG childId) {
  DWORD now = GetTickCount();
  DWORD since = now - m_dwLastProgressEvent;
  if (m_dwLastProgressEvent == 0 || since >= kProgressEventPeriodMs) {
    m_dwLastProgressEvent = now ? now : 1;
    m_nPendingProgress = 0;
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, m_hWnd, OBJID_CLIENT, childId);
    return;
  }
  if (m_nPendingProgress == 0) SetTimer(m_hWnd, kProgressEventTimer, kProgressEventPeriodMs - since, &FlushProgressEvent);
  m_nPendingProgress = childId;
}

void CALLBACK CAccessibleRoot::FlushProgressEvent(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  KillTimer(hwnd, id);
  auto* self = static_cast<CAccessibleRoot*>(GetPropW(hwnd, kRootProperty));
  if (!self || !self->m_pManager || self->m_nPendingProgress == 0) return;
  LONG pending = self->m_nPendingProgress;
  self->m_nPendingProgress = 0;
  self->m_dwLastProgressEvent = GetTickCount();
  if (self->m_dwLastProgressEvent == 0) self->m_dwLastProgressEvent = 1;
  NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, hwnd, OBJID_CLIENT, pending);
}

}  // namespace SkinUI
