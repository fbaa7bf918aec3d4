// Toolkit semantics under Wine: message-map routing, option groups and
// check boxes, progress values, tab pages, focus notifications, stacking
// layouts with real controls, the tab order and accessible roles and names,
// and the window base's hit testing, Escape and
// maximise/restore buttons on a window built from a small skin.
#include <doctest/doctest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "ui/archive/SkinResources.h"
#include "ui/win/UIAccessible.h"
#include "ui/win/UIControls.h"
#include "ui/win/WindowImplBase.h"

using namespace SkinUI;

namespace {

struct Recorder : INotifyUI {
  std::vector<std::wstring> events;
  void Notify(NotifyMsg& msg) override {
    events.push_back(msg.sType + L":" + (msg.pSender ? msg.pSender->GetName() : L"") + L":" +
                     std::to_wstring(msg.wParam));
  }
};

template <typename T>
T* Named(const wchar_t* name) {
  auto* c = new T;
  c->SetName(name);
  return c;
}

class MapWindow : public WindowImplBase {
 public:
  std::vector<std::wstring> calls;
  std::wstring GetWindowClassName() const override { return L"MapWindow"; }
  std::wstring GetSkinFolder() override { return L""; }
  std::wstring GetSkinFile() override { return L""; }
  void OnAnyClick(NotifyMsg&) { calls.push_back(L"any"); }
  void OnInstall(NotifyMsg&) { calls.push_back(L"install"); }
  LRESULT OnChanged(WPARAM w, LPARAM) {
    calls.push_back(L"changed" + std::to_wstring(w));
    return 0;
  }
  void OnClick(NotifyMsg& msg) override { calls.push_back(L"base"); }
  SKINUI_DECLARE_MESSAGE_MAP()
};

// The unnamed entry comes first and a second unnamed one after the named
// one: the named entry must win for its control, the last unnamed otherwise.
SKINUI_BEGIN_MESSAGE_MAP(MapWindow, WindowImplBase)
  SKINUI_ON_MSGTYPE(L"click", MapWindow::OnInstall)
  SKINUI_ON_CLICK_CTRNAME(L"btn_install", MapWindow::OnInstall)
  SKINUI_ON_MSGTYPE(L"click", MapWindow::OnAnyClick)
  SKINUI_ON_MSGTYPE_WL(L"selectchanged", L"", MapWindow::OnChanged)
SKINUI_END_MESSAGE_MAP()

}  // namespace

TEST_CASE("message maps: named entries win, the last unnamed entry otherwise, bases last") {
  MapWindow w;
  CButtonUI install, other;
  install.SetName(L"btn_install");
  other.SetName(L"other");
  NotifyMsg msg;
  msg.sType = L"click";
  msg.pSender = &other;
  w.Notify(msg);
  msg.pSender = &install;
  w.Notify(msg);
  msg.sType = L"selectchanged";
  msg.wParam = 7;
  w.Notify(msg);
  msg.sType = L"textchanged";  // in no table: nothing runs
  w.Notify(msg);
  CHECK(w.calls == std::vector<std::wstring>{L"any", L"install", L"changed7"});
}

TEST_CASE("options, groups and check boxes") {
  CUIManager pm;
  Recorder rec;
  pm.AddNotifier(&rec);
  auto* root = new CHorizontalLayoutUI;
  auto* a = Named<COptionUI>(L"a");
  auto* b = Named<COptionUI>(L"b");
  auto* chk = Named<CCheckBoxUI>(L"chk");
  a->SetAttribute(L"group", L"g");
  b->SetAttribute(L"group", L"g");
  root->Add(a);
  root->Add(b);
  root->Add(chk);
  pm.AttachRoot(root);

  CHECK(a->Activate());
  CHECK(rec.events == std::vector<std::wstring>{L"click:a:0", L"selectchanged:a:0"});
  rec.events.clear();
  a->Activate();  // already selected: only the click
  CHECK(rec.events == std::vector<std::wstring>{L"click:a:0"});
  rec.events.clear();
  b->Activate();  // the other one is deselected silently
  CHECK(rec.events == std::vector<std::wstring>{L"click:b:0", L"selectchanged:b:0"});
  CHECK_FALSE(a->IsSelected());
  CHECK(b->IsSelected());
  rec.events.clear();
  b->Selected(false);  // deselecting in a group sends nothing
  CHECK(rec.events.empty());

  for (int i = 0; i < 3; ++i) chk->Activate();
  CHECK(rec.events.size() == 6);
  CHECK(rec.events[1] == L"selectchanged:chk:0");
  CHECK(rec.events[5] == L"selectchanged:chk:0");
  CHECK(chk->IsSelected());

  chk->SetEnabled(false);
  rec.events.clear();
  CHECK_FALSE(chk->Activate());
  CHECK(rec.events.empty());
  CHECK(pm.FindControl(L"chk") == chk);
  CHECK(pm.FindControl(L"nobody") == nullptr);
  CHECK(pm.FindSubControlByName(root, L"CHK") == chk);
}

TEST_CASE("progress values and the fore image width") {
  CProgressUI p;
  p.SetPos(RECT{10, 0, 510, 6}, false);
  p.SetValue(30);
  RECT r = p.ForeRect();
  CHECK(r.left == 10);
  CHECK(r.right - r.left == 150);
  p.SetValue(150);
  CHECK(p.GetValue() == 100);
  p.SetValue(-5);
  CHECK(p.GetValue() == 0);
  p.SetAttribute(L"max", L"0");  // degenerate range: no division by zero
  CHECK(p.ForeRect().right - p.ForeRect().left == 0);
}

TEST_CASE("tab pages: first visible page, SelectItem rules, tabselect") {
  CUIManager pm;
  Recorder rec;
  pm.AddNotifier(&rec);
  auto* tab = Named<CTabLayoutUI>(L"switch");
  auto* p0 = new CHorizontalLayoutUI;
  auto* p1 = new CHorizontalLayoutUI;
  tab->Add(p0);
  tab->Add(p1);
  pm.AttachRoot(tab);
  CHECK(tab->GetCurSel() == 0);
  CHECK(p0->IsVisible());
  CHECK_FALSE(p1->IsVisible());
  CHECK(tab->SelectItem(0));
  CHECK_FALSE(tab->SelectItem(2));
  CHECK(rec.events.empty());
  CHECK(tab->SelectItem(1));
  CHECK(p1->IsVisible());
  CHECK_FALSE(p0->IsVisible());
  REQUIRE(!rec.events.empty());
  CHECK(rec.events.back() == L"tabselect:switch:1");
  tab->Remove(p1);  // removing the current page selects page 0
  CHECK(tab->GetCurSel() == 0);
  CHECK(p0->IsVisible());
}

TEST_CASE("focus: killfocus then setfocus; hidden or disabled controls take no focus") {
  CUIManager pm;
  Recorder rec;
  pm.AddNotifier(&rec);
  auto* root = new CVerticalLayoutUI;
  auto* e = Named<CLabelUI>(L"edit_path");
  auto* l = Named<CLabelUI>(L"other");
  root->Add(e);
  root->Add(l);
  pm.AttachRoot(root);
  pm.SetFocus(e, false);
  pm.SetFocus(e, false);  // already focused: nothing
  pm.SetFocus(l, false);
  CHECK(rec.events == std::vector<std::wstring>{L"setfocus:edit_path:0", L"killfocus:edit_path:0", L"setfocus:other:0"});
  e->SetVisible(false);
  pm.SetFocus(e, false);
  CHECK(pm.GetFocus() == nullptr);
}

TEST_CASE("tab order: reading order by columns, mirrored right to left; disabled and hidden skipped") {
  // Two columns: a above b and c on the left, a tall d on the right.
  CUIManager pm;
  auto* root = new CHorizontalLayoutUI;
  auto* left = new CVerticalLayoutUI;
  auto* right = new CVerticalLayoutUI;
  auto* lower = new CHorizontalLayoutUI;
  auto* a = Named<CButtonUI>(L"a");
  auto* b = Named<CButtonUI>(L"b");
  auto* c = Named<CButtonUI>(L"c");
  auto* d = Named<CButtonUI>(L"d");
  auto* off = Named<CButtonUI>(L"off");
  auto* hidden = Named<CButtonUI>(L"hidden");
  left->SetFixedWidth(200);
  a->SetFixedHeight(20);
  d->SetFixedHeight(60);
  lower->Add(b);
  lower->Add(off);
  lower->Add(c);
  lower->Add(hidden);
  left->Add(a);
  left->Add(lower);
  right->Add(d);
  root->Add(left);
  root->Add(right);
  pm.AttachRoot(root);
  off->SetEnabled(false);
  hidden->SetVisible(false);
  root->SetPos(RECT{0, 0, 300, 100}, false);
  CHECK(pm.GetTabOrder() == std::vector<CControlUI*>{a, b, c, d});
  pm.SetRightToLeft(true);
  CHECK(pm.GetTabOrder() == std::vector<CControlUI*>{d, a, c, b});
  pm.SetRightToLeft(false);
  pm.MoveFocus(false);
  CHECK(pm.GetFocus() == a);
  pm.MoveFocus(true);  // backwards from the first wraps to the last
  CHECK(pm.GetFocus() == d);
  pm.MoveFocus(false);
  CHECK(pm.GetFocus() == a);
}

TEST_CASE("accessible roles and names of the controls") {
  CUIManager pm;
  auto* root = new CVerticalLayoutUI;
  auto* button = Named<CButtonUI>(L"button");
  auto* link = Named<CButtonUI>(L"link");
  auto* box = Named<CCheckBoxUI>(L"box");
  auto* dot1 = Named<COptionUI>(L"dot1");
  auto* dot2 = Named<COptionUI>(L"dot2");
  auto* label = Named<CTextUI>(L"label");
  auto* bar = Named<CProgressUI>(L"bar");
  auto* banner = Named<CControlUI>(L"banner");
  auto* spacer = Named<CControlUI>(L"spacer");
  for (CControlUI* c : std::vector<CControlUI*>{button, link, box, dot1, dot2, label, bar, banner, spacer}) root->Add(c);
  pm.AttachRoot(root);
  button->SetText(L" Install ");
  link->SetAttribute(L"showhtml", L"true");
  link->SetText(L"I agree to the {u}{a https://x.example/}Licence{/a}{/u}");
  box->SetToolTip(L"I agree");
  dot1->SetGroup(L"dots");
  dot2->SetGroup(L"dots");
  bar->SetToolTip(L"Installing");
  banner->SetBkImage(L"img\\banner.png");
  struct {
    CControlUI* control;
    LONG role;
    const wchar_t* name;
  } table[] = {
      {button, ROLE_SYSTEM_PUSHBUTTON, L"Install"}, {link, ROLE_SYSTEM_LINK, L"I agree to the Licence"},
      {box, ROLE_SYSTEM_CHECKBUTTON, L"I agree"},   {dot2, ROLE_SYSTEM_RADIOBUTTON, L"2"},
      {label, ROLE_SYSTEM_STATICTEXT, L""},         {bar, ROLE_SYSTEM_PROGRESSBAR, L"Installing"},
      {banner, ROLE_SYSTEM_GRAPHIC, L""},           {spacer, 0, L""},
  };
  for (const auto& row : table) {
    CAPTURE(row.control->GetName().size());
    CHECK(AccessibleRoleOf(row.control) == row.role);
    CHECK(AccessibleNameOf(row.control) == row.name);
  }
  CHECK(AccessibleRoleOf(root) == 0);
}

TEST_CASE("stacking layouts with real controls") {
  CUIManager pm;
  auto* root = new CVerticalLayoutUI;
  std::vector<CControlUI*> kids;
  for (int i = 0; i < 3; ++i) {
    kids.push_back(new CControlUI);
    root->Add(kids.back());
  }
  pm.AttachRoot(root);
  root->SetPos(RECT{0, 0, 200, 100}, false);
  CHECK(kids[0]->GetHeight() == 33);
  CHECK(kids[1]->GetHeight() == 33);
  CHECK(kids[2]->GetHeight() == 34);
  CHECK(kids[2]->GetPos().bottom == 100);
  kids[1]->SetVisible(false);
  root->SetPos(RECT{0, 0, 200, 100}, false);
  CHECK(kids[0]->GetHeight() == 50);
  CHECK(kids[2]->GetPos().top == 50);
}

namespace {

const char kSkin[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<Window size=\"300,200\" sizebox=\"4,4,4,4\" caption=\"0,0,0,100\" mininfo=\"200,150\">\n"
    " <VerticalLayout bkcolor=\"#FFFFFFFF\">\n"
    "  <HorizontalLayout height=\"40\">\n"
    "   <Control name=\"logo\" width=\"100\"/>\n"
    "   <CheckBox name=\"chk\" width=\"40\"/>\n"
    "   <Label name=\"lbl\" text=\"title\" width=\"60\"/>\n"
    "   <Button name=\"maxbtn\" width=\"30\"/>\n"
    "   <Button name=\"restorebtn\" width=\"30\" visible=\"false\"/>\n"
    "   <Button name=\"closebtn\" width=\"30\"/>\n"
    "  </HorizontalLayout>\n"
    "  <Text name=\"txt\" text=\"hello\"/>\n"
    " </VerticalLayout>\n"
    "</Window>\n";

class SmallWindow : public WindowImplBase {
 public:
  std::wstring GetWindowClassName() const override { return L"SmallSkinWindow"; }
  std::wstring GetSkinFolder() override { return L""; }
  std::wstring GetSkinFile() override { return L"small.xml"; }
};

LRESULT HitAt(SmallWindow& w, int x, int y) {
  POINT pt{x, y};
  ClientToScreen(w.GetHWND(), &pt);
  return SendMessageW(w.GetHWND(), WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
}

POINT Centre(SmallWindow& w, const wchar_t* name) {
  RECT r = w.FindControl(name)->GetPos();
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace

TEST_CASE("window base: skin from files, hit testing, Escape, maximise and restore buttons") {
  zvtest::TempDir dir("ui-small-skin");
  zvtest::WriteFile(dir.path() / "small.xml", kSkin);
  ResetSkinResources();
  SetModuleInstance(GetModuleHandleW(nullptr));
  SetResourceFolder(dir.path().wstring() + L"\\");

  SmallWindow w;
  REQUIRE(w.Create(nullptr, L"small", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 0, 0, 0) != nullptr);
  RECT rc;
  GetClientRect(w.GetHWND(), &rc);
  CHECK(rc.right == 300);
  CHECK(rc.bottom == 200);
  // Lay the tree out as the first paint does.
  ShowWindow(w.GetHWND(), SW_SHOWNOACTIVATE);
  UpdateWindow(w.GetHWND());
  REQUIRE(w.FindControl(L"closebtn") != nullptr);
  CHECK(w.FindControl(L"closebtn")->GetWidth() == 30);

  POINT p = Centre(w, L"closebtn");
  CHECK(HitAt(w, p.x, p.y) == HTCLIENT);  // buttons stay clickable
  p = Centre(w, L"logo");
  CHECK(HitAt(w, p.x, p.y) == HTCAPTION);  // a plain control drags
  p = Centre(w, L"chk");
  CHECK(HitAt(w, p.x, p.y) == HTCAPTION);  // so does a check box
  p = Centre(w, L"lbl");
  CHECK(HitAt(w, p.x, p.y) == HTCAPTION);
  p = Centre(w, L"txt");
  CHECK(HitAt(w, p.x, 150) == HTCLIENT);   // below the caption rows
  CHECK(HitAt(w, p.x, 45) == HTCLIENT);    // a Text control in the caption
  CHECK(w.FindControl(L"txt")->GetHeight() < 100);  // sized to its wrapped text
  CHECK(HitAt(w, p.x, 99) == HTCAPTION);   // the empty layout below it drags
  CHECK(HitAt(w, 1, 100) == HTLEFT);
  CHECK(HitAt(w, 298, 198) == HTBOTTOMRIGHT);
  CHECK(HitAt(w, 150, 1) == HTTOP);

  MINMAXINFO mmi{};
  SendMessageW(w.GetHWND(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  CHECK(mmi.ptMinTrackSize.x == 200);
  CHECK(mmi.ptMinTrackSize.y == 150);

  // Maximising swaps the two buttons; restoring swaps them back.
  SendMessageW(w.GetHWND(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  CHECK(IsZoomed(w.GetHWND()));
  if (IsZoomed(w.GetHWND())) {
    CHECK_FALSE(w.FindControl(L"maxbtn")->IsVisible());
    CHECK(w.FindControl(L"restorebtn")->IsVisible());
    SendMessageW(w.GetHWND(), WM_SYSCOMMAND, SC_RESTORE, 0);
    CHECK(w.FindControl(L"maxbtn")->IsVisible());
    CHECK_FALSE(w.FindControl(L"restorebtn")->IsVisible());
  }

  // Return does nothing; Escape posts WM_CLOSE with 1.
  MSG m{};
  while (PeekMessageW(&m, w.GetHWND(), 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  m = MSG{};
  m.hwnd = w.GetHWND();
  m.message = WM_KEYDOWN;
  m.wParam = VK_RETURN;
  CHECK_FALSE(CUIManager::TranslateMessage(&m));
  m.wParam = VK_ESCAPE;
  CHECK(CUIManager::TranslateMessage(&m));
  MSG closeMsg{};
  REQUIRE(PeekMessageW(&closeMsg, w.GetHWND(), WM_CLOSE, WM_CLOSE, PM_REMOVE));
  CHECK(closeMsg.wParam == 1);
  DestroyWindow(w.GetHWND());
  ResetSkinResources();
}
