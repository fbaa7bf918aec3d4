// Reads the installer window's accessible tree the way a screen reader does
// (AccessibleObjectFromWindow, AccessibleChildren, the IAccessible
// properties, hit-testing and navigation) and prints it as JSON lines in
// UTF-8; or presses a child by name; or prints the WinEvents the window
// raises for a while.
//
// usage: msaa_probe tree             the client object and its children
//        msaa_probe press NAME       accDoDefaultAction of the child named NAME
//        msaa_probe events SECONDS   focus, state, value, name and reorder events
// The window is found by its class "SetupMainFrame" (waits up to 20 s).
// Exit code 0 when the window and its client object were reached.
#include <windows.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& line) {
  int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &out[0], n, nullptr, nullptr);
  out += '\n';
  fwrite(out.data(), 1, out.size(), stdout);
  fflush(stdout);
}

std::wstring Json(const std::wstring& s) {
  std::wstring out = L"\"";
  for (wchar_t c : s) {
    if (c == L'"' || c == L'\\') {
      out += L'\\';
      out += c;
    } else if (c < 0x20) {
      wchar_t buf[8];
      swprintf(buf, 8, L"\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + L"\"";
}

std::wstring TakeBstr(BSTR b) {
  std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
  SysFreeString(b);
  return s;
}

VARIANT Child(LONG id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

HWND FindInstallerWindow() {
  for (int i = 0; i < 100; ++i) {
    if (HWND h = FindWindowW(L"SetupMainFrame", nullptr)) return h;
    Sleep(200);
  }
  return nullptr;
}

struct Node {
  LONG id = 0;
  std::wstring name, value, action;
  LONG role = 0, state = 0;
  long x = 0, y = 0, cx = 0, cy = 0;
  HRESULT hr = S_OK;
};

Node Describe(IAccessible* acc, LONG id) {
  Node n;
  n.id = id;
  VARIANT child = Child(id);
  BSTR b = nullptr;
  n.hr = acc->get_accName(child, &b);
  n.name = TakeBstr(b);
  b = nullptr;
  acc->get_accValue(child, &b);
  n.value = TakeBstr(b);
  b = nullptr;
  acc->get_accDefaultAction(child, &b);
  n.action = TakeBstr(b);
  VARIANT v;
  VariantInit(&v);
  if (SUCCEEDED(acc->get_accRole(child, &v)) && v.vt == VT_I4) n.role = v.lVal;
  VariantClear(&v);
  if (SUCCEEDED(acc->get_accState(child, &v)) && v.vt == VT_I4) n.state = v.lVal;
  VariantClear(&v);
  acc->accLocation(&n.x, &n.y, &n.cx, &n.cy, child);
  return n;
}

std::wstring Line(const Node& n, const std::wstring& extra) {
  wchar_t roleText[128] = {};
  GetRoleTextW(static_cast<DWORD>(n.role), roleText, 128);
  wchar_t buf[256];
  swprintf(buf, 256, L"\"id\":%ld,\"role\":%ld,\"state\":%ld,\"left\":%ld,\"top\":%ld,\"width\":%ld,\"height\":%ld",
           n.id, n.role, n.state, n.x, n.y, n.cx, n.cy);
  return L"{" + std::wstring(buf) + L",\"roleText\":" + Json(roleText) + L",\"name\":" + Json(n.name) +
         L",\"value\":" + Json(n.value) + L",\"action\":" + Json(n.action) + extra + L"}";
}

std::vector<LONG> Children(IAccessible* acc, HRESULT* hr) {
  long count = 0;
  acc->get_accChildCount(&count);
  std::vector<VARIANT> vars(static_cast<size_t>(count > 0 ? count : 1));
  long got = 0;
  *hr = AccessibleChildren(acc, 0, count, vars.data(), &got);
  std::vector<LONG> ids;
  for (long i = 0; i < got; ++i) {
    if (vars[static_cast<size_t>(i)].vt == VT_I4) ids.push_back(vars[static_cast<size_t>(i)].lVal);
    VariantClear(&vars[static_cast<size_t>(i)]);
  }
  return ids;
}

int Tree(IAccessible* acc) {
  Node self = Describe(acc, CHILDID_SELF);
  IDispatch* parentDisp = nullptr;
  LONG parentRole = 0;
  HRESULT parentHr = acc->get_accParent(&parentDisp);
  HRESULT parentRoleHr = E_FAIL;
  if (SUCCEEDED(parentHr) && parentDisp) {
    IAccessible* parent = nullptr;
    parentRoleHr = parentDisp->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&parent));
    if (SUCCEEDED(parentRoleHr) && parent) {
      VARIANT v;
      VariantInit(&v);
      parentRoleHr = parent->get_accRole(Child(CHILDID_SELF), &v);
      if (SUCCEEDED(parentRoleHr) && v.vt == VT_I4) parentRole = v.lVal;
      parent->Release();
    }
    parentDisp->Release();
  }
  HRESULT childrenHr = S_OK;
  std::vector<LONG> ids = Children(acc, &childrenHr);
  // Navigation from the first child onwards visits the same children.
  std::vector<LONG> walked;
  VARIANT at;
  VariantInit(&at);
  HRESULT nav = acc->accNavigate(NAVDIR_FIRSTCHILD, Child(CHILDID_SELF), &at);
  while (nav == S_OK && at.vt == VT_I4 && walked.size() < 200) {
    walked.push_back(at.lVal);
    LONG from = at.lVal;
    VariantInit(&at);
    nav = acc->accNavigate(NAVDIR_NEXT, Child(from), &at);
  }
  // Child ids that are not listed (controls of hidden pages and panels) must
  // say they are invisible.
  long hidden = 0, hiddenInvisible = 0;
  for (LONG id = 1; id < 500; ++id) {
    VARIANT state;
    VariantInit(&state);
    if (acc->get_accState(Child(id), &state) != S_OK) break;
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
      ++hidden;
      if (state.vt == VT_I4 && (state.lVal & STATE_SYSTEM_INVISIBLE)) ++hiddenInvisible;
    }
  }
  VARIANT focus;
  VariantInit(&focus);
  acc->get_accFocus(&focus);
  wchar_t extra[320];
  swprintf(extra, 320, L",\"object\":\"client\",\"children\":%zu,\"childrenResult\":%ld,\"navigation\":%ls,"
                       L"\"parent\":%ls,\"parentRole\":%ld,\"parentRoleResult\":%ld,\"focus\":%ld,"
                       L"\"hidden\":%ld,\"hiddenInvisible\":%ld",
           ids.size(), static_cast<long>(childrenHr), walked == ids ? L"true" : L"false",
           parentHr == S_OK && parentDisp ? L"true" : L"false", parentRole, static_cast<long>(parentRoleHr),
           focus.vt == VT_I4 ? focus.lVal : -1L, hidden, hiddenInvisible);
  Print(Line(self, extra));
  for (LONG id : ids) {
    Node n = Describe(acc, id);
    VARIANT hit;
    VariantInit(&hit);
    long hitId = -1;
    if (acc->accHitTest(n.x + n.cx / 2, n.y + n.cy / 2, &hit) == S_OK && hit.vt == VT_I4) hitId = hit.lVal;
    VariantClear(&hit);
    Print(Line(n, L",\"hit\":" + std::to_wstring(hitId)));
  }
  return 0;
}

int Press(IAccessible* acc, const std::wstring& name) {
  HRESULT hr = S_OK;
  for (LONG id : Children(acc, &hr)) {
    if (Describe(acc, id).name != name) continue;
    HRESULT done = acc->accDoDefaultAction(Child(id));
    Print(L"{\"pressed\":" + std::to_wstring(id) + L",\"result\":" + std::to_wstring(static_cast<long>(done)) + L"}");
    return done == S_OK ? 0 : 3;
  }
  Print(L"{\"pressed\":0,\"missing\":" + Json(name) + L"}");
  return 3;
}

DWORD g_start = 0;

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND, LONG object, LONG child, DWORD, DWORD time) {
  if (object != OBJID_CLIENT) return;
  const wchar_t* name = event == EVENT_OBJECT_FOCUS         ? L"focus"
                        : event == EVENT_OBJECT_STATECHANGE ? L"state"
                        : event == EVENT_OBJECT_VALUECHANGE ? L"value"
                        : event == EVENT_OBJECT_NAMECHANGE  ? L"name"
                        : event == EVENT_OBJECT_REORDER     ? L"reorder"
                        : event == EVENT_OBJECT_SHOW        ? L"show"
                        : event == EVENT_OBJECT_HIDE        ? L"hide"
                                                            : L"other";
  wchar_t buf[160];
  swprintf(buf, 160, L"{\"event\":\"%ls\",\"child\":%ld,\"ms\":%lu}", name, child,
           static_cast<unsigned long>(time - g_start));
  Print(buf);
}

int Events(HWND hwnd, int seconds) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  g_start = GetTickCount();
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_VALUECHANGE, nullptr, &OnEvent, pid, 0,
                                       WINEVENT_OUTOFCONTEXT);
  Print(L"{\"hook\":" + std::wstring(hook ? L"true" : L"false") + L"}");
  if (!hook) return 4;
  DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  MSG msg;
  while (GetTickCount() < end && IsWindow(hwnd)) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  UnhookWinEvent(hook);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"tree";
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HWND hwnd = FindInstallerWindow();
  if (!hwnd) {
    Print(L"{\"error\":\"no window of class SetupMainFrame\"}");
    return 2;
  }
  if (mode == L"events") return Events(hwnd, argc > 2 ? _wtoi(argv[2]) : 10);
  IAccessible* acc = nullptr;
  HRESULT hr = AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                          reinterpret_cast<void**>(&acc));
  if (FAILED(hr) || !acc) {
    Print(L"{\"error\":\"AccessibleObjectFromWindow\",\"result\":" + std::to_wstring(static_cast<long>(hr)) + L"}");
    return 2;
  }
  int rc = mode == L"press" && argc > 2 ? Press(acc, argv[2]) : Tree(acc);
  acc->Release();
  CoUninitialize();
  return rc;
}
