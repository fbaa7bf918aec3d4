// A window built from the real skin (resource "ZIPRES"/104 of this
// executable) for the Wine tests: it logs every notification, the hot
// control and the layout rectangles of named controls to a file, and reacts
// to a few clicks so that every page and control can be reached by real
// mouse input.
//
//   skin_window_probe.exe --log FILE [--skin skin.xml|skin_rtl.xml]
//                         [--texts text.ini --language English]
//                         [--folder DIR]   plain skin files instead of the resource
//                         [--toolkit-log DIR]  the toolkit's own log
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log/Log.h"
#include "ui/archive/SkinResources.h"
#include "ui/win/UIControls.h"
#include "ui/win/WindowImplBase.h"

using namespace SkinUI;

namespace {

FILE* g_log = nullptr;

void Log(const std::wstring& line) {
  if (!g_log) return;
  int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &s[0], n, nullptr, nullptr);
  fprintf(g_log, "%s\n", s.c_str());
  fflush(g_log);
}

void ReplaceAllIn(std::wstring& s, const std::wstring& from, const std::wstring& to) {
  for (size_t p = s.find(from); p != std::wstring::npos; p = s.find(from, p + to.size())) s.replace(p, from.size(), to);
}

std::wstring Text(const std::wstring& file, const std::wstring& section, const wchar_t* key) {
  if (file.empty()) return L"";
  std::vector<wchar_t> buf(2048);
  GetPrivateProfileStringW(section.c_str(), key, L"", buf.data(), static_cast<DWORD>(buf.size()), file.c_str());
  std::wstring s(buf.data());
  ReplaceAllIn(s, L"COLOR", L"#FF337BDD");
  ReplaceAllIn(s, L"BRAND", L"Zelvane");
  ReplaceAllIn(s, L"PRODUCT", L"Zelvane");
  return s;
}

}  // namespace

class CProbeWnd : public WindowImplBase {
 public:
  std::wstring skinFile = L"skin.xml";
  std::wstring folder;
  std::wstring texts, language;

  std::wstring GetWindowClassName() const override { return L"SkinProbeFrame"; }
  std::wstring GetSkinFolder() override { return L""; }
  std::wstring GetSkinFile() override { return skinFile; }
  UILIB_RESOURCETYPE GetResourceType() const override { return folder.empty() ? UILIB_ZIPRESOURCE : UILIB_FILE; }
  std::wstring GetResourceID() const override { return L"104"; }

  void InitWindow() override {
    SetText(L"btn_install", Text(texts, language, L"STR_INSTALL"));
    SetText(L"btn_start", Text(texts, language, L"STR_START"));
    SetText(L"btn_browse", Text(texts, language, L"STR_BROWSE"));
    SetText(L"btn_lisence", Text(texts, language, L"STR_LISENCE"));
    SetText(L"chk_fold", Text(texts, language, L"STR_CUSTOMIZE_INSTALL"));
    SetText(L"label_path", Text(texts, language, L"STR_INSTALL_PATH"));
    SetText(L"btn_hide", Text(texts, language, L"STR_HIDE"));
    if (auto* b = FindControl(L"btn_start")) b->SetVisible(false);
    if (auto* e = FindControl(L"edit_path")) e->SetText(L"C:\\Program Files\\Zelvane");
    // A text control with an inline link, for the link notification.
    if (auto* t = dynamic_cast<CTextUI*>(FindControl(L"label_install"))) {
      t->SetShowHtml(true);
      t->SetText(L"{a details}Details{/a} " + Text(texts, language, L"STR_INSTALLING"));
    }
    if (auto* p = dynamic_cast<CProgressUI*>(FindControl(L"progress_download"))) p->SetValue(40);
    ::SetTimer(m_hWnd, 1, 50, nullptr);
  }

  void Notify(NotifyMsg& msg) override {
    std::wstring name = msg.pSender ? msg.pSender->GetName() : L"";
    wchar_t extra[64];
    swprintf(extra, 64, L" %u", static_cast<unsigned>(msg.wParam));
    Log(L"notify " + msg.sType + L" " + name + extra);
    if (msg.sType == L"windowinit") DumpLayout();
    if (msg.sType == L"selectchanged" || msg.sType == L"click") {
      if (auto* o = dynamic_cast<COptionUI*>(msg.pSender)) {
        Log(L"selected " + name + (o->IsSelected() ? L" 1" : L" 0"));
      }
    }
    if (msg.sType == L"click" && name == L"chk_fold") {
      if (auto* b = FindControl(L"bottomLayout")) b->SetVisible(!b->IsVisible());
      m_pm.NeedUpdate();
      PostMessage(WM_APP + 7);  // dump after the new layout
    }
    if (msg.sType == L"click" && name == L"btn_install") {
      if (auto* tab = dynamic_cast<CTabLayoutUI*>(FindControl(L"switch"))) tab->SelectItem(1);
      if (auto* dots = FindControl(L"buttonLayout")) dots->SetVisible(true);
      if (auto* b = FindControl(L"bottomLayout")) b->SetVisible(false);
      PostMessage(WM_APP + 7);
    }
    if (msg.sType == L"textchanged") Log(L"text " + name + L" " + msg.pSender->GetText());
    WindowImplBase::Notify(msg);
  }

  LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override {
    if (uMsg == WM_TIMER && wParam == 1) {
      CControlUI* hot = m_pm.GetHot();
      std::wstring name = hot ? hot->GetName() : L"";
      if (hot != lastHot_) {
        lastHot_ = hot;
        Log(L"hot " + name);
      }
      bHandled = TRUE;
      return 0;
    }
    if (uMsg == WM_EXITSIZEMOVE) PostMessage(WM_APP + 7);  // the new position, after a drag
    if (uMsg == WM_APP + 7) {
      RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      DumpLayout();
      bHandled = TRUE;
      return 0;
    }
    bHandled = FALSE;
    return 0;
  }

  void DumpLayout() {
    RECT w;
    GetWindowRect(m_hWnd, &w);
    POINT origin{0, 0};
    ClientToScreen(m_hWnd, &origin);
    wchar_t line[160];
    swprintf(line, 160, L"window %ld %ld %ld %ld client %ld %ld", w.left, w.top, w.right - w.left, w.bottom - w.top,
             origin.x, origin.y);
    Log(line);
    static const wchar_t* const kNames[] = {
        L"minbtn", L"closebtn", L"btn_install", L"btn_start", L"chk_agree", L"btn_lisence", L"chk_fold",
        L"edit_path", L"btn_browse", L"label_path", L"banner", L"progress_download", L"label_install",
        L"label_progress", L"btn_hide", L"option_0", L"option_3", L"bottomLayout", L"switch", L"bad_child"};
    for (const wchar_t* n : kNames) {
      CControlUI* c = FindControl(n);
      if (!c) continue;
      RECT r = c->GetPos();
      swprintf(line, 160, L"rect %ls %ld %ld %ld %ld %d", n, r.left, r.top, r.right, r.bottom, c->IsVisible() ? 1 : 0);
      Log(line);
    }
    if (auto* t = dynamic_cast<CTextUI*>(FindControl(L"label_install"))) {
      for (const auto& l : t->GetLinks()) {
        swprintf(line, 160, L"link %d %d %d %d", l.rect.left, l.rect.top, l.rect.right, l.rect.bottom);
        Log(line);
      }
    }
    Log(L"layout-done");
  }

 private:
  void SetText(const wchar_t* name, const std::wstring& text) {
    if (text.empty()) return;
    if (CControlUI* c = FindControl(name)) c->SetText(text);
  }
  CControlUI* lastHot_ = nullptr;
};

int wmain(int argc, wchar_t** argv) {
  CProbeWnd wnd;
  std::wstring logPath;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::wstring k = argv[i], v = argv[i + 1];
    if (k == L"--log") logPath = v;
    else if (k == L"--skin") wnd.skinFile = v;
    else if (k == L"--texts") wnd.texts = v;
    else if (k == L"--language") wnd.language = v;
    else if (k == L"--folder") wnd.folder = v;
    else if (k == L"--toolkit-log") InitLog(L"toolkit.log", v.c_str());
  }
  if (!logPath.empty()) g_log = _wfopen(logPath.c_str(), L"w");
  SetModuleInstance(GetModuleHandleW(nullptr));
  if (!wnd.folder.empty()) SetResourceFolder(wnd.folder);
  wnd.Create(nullptr, L"Skin probe", WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
             0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
  wnd.CenterWindow();
  UINT result = wnd.ShowModal();
  wchar_t line[64];
  swprintf(line, 64, L"closed %u", result);
  Log(line);
  if (g_log) fclose(g_log);
  return 0;
}
