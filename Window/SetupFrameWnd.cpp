// Start-up environment, initialisation, state switch, progress display and
// the dispatch of user actions and timers.
#include "Window/SetupFrameWnd.h"

#include "Window/BuildAddresses.h"

#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "Window/InstallLogic.h"
#include "log/Log.h"
#include "system/SystemUtils.h"
#include "ui/archive/ExtractZip.h"
#include "ui/archive/ResourceLoader.h"
#include "ui/markup/Markup.h"

int64_t g_nLastDownloadBytes = 0;
std::atomic<bool> g_bCloseAsking{false};

namespace {

std::atomic<bool> g_bEnvironmentReady{false};

// Carries a function to the UI thread (see RunOnUiThread).
constexpr UINT kMsgRunOnUiThread = WM_APP + 0x51;
constexpr int kBottomPanelHeight = 75;
constexpr UINT kRtlMessageFlags = MB_RTLREADING | MB_RIGHT | MB_SETFOREGROUND;  // 0x190000

}  // namespace

SKINUI_BEGIN_MESSAGE_MAP(CSetupFrameWnd, SkinUI::WindowImplBase)
  SKINUI_ON_MSGTYPE(L"click", CSetupFrameWnd::OnClick)
  SKINUI_ON_MSGTYPE(L"selectchanged", CSetupFrameWnd::OnSelectChanged)
  SKINUI_ON_MSGTYPE(L"textchanged", CSetupFrameWnd::OnTextChanged)
SKINUI_END_MESSAGE_MAP()

CSetupFrameWnd::CSetupFrameWnd() : m_dwUiThread(GetCurrentThreadId()) {}

CSetupFrameWnd::~CSetupFrameWnd() = default;

template <typename T>
T* CSetupFrameWnd::FindAs(const wchar_t* name) const {
  return dynamic_cast<T*>(m_pm.FindControl(name));
}

void CSetupFrameWnd::InitEnvironment() {
  // The flag is taken on entry so that a failing step is not retried.
  if (g_bEnvironmentReady.exchange(true)) return;
  m_strDataDir = GetDataFolder();
  InitLog(L"zelvane_down.log", (m_strDataDir + L"Log").c_str());
  LoadResZipFile();
  m_langMgr.Init(SettingsFolder());
  m_langMgr.SetCarouselOrigin(CarouselApiOriginOverride());
}

void CSetupFrameWnd::LoadResZipFile() {
  LOGA(kLog_Info, "LoadResZipFile");
  std::string archive;
  if (!SkinUI::GetPlatformResourceLoader().LoadResource(SkinUI::kResourceTypeRcData, 105, archive)) {
    LOGA(kLog_Info, "LoadResZipFile: settings archive resource missing");
    return;
  }
  std::wstring folder = SettingsFolder();
  CreateFullDirectory(folder);
  if (!SkinUI::ExtractZipToFolder(archive.data(), archive.size(), folder))
    LOGA(kLog_Info, "LoadResZipFile: settings archive not fully unpacked");
}

std::wstring CSetupFrameWnd::GetSkinFile() {
  InitEnvironment();
  return m_langMgr.IsRtl() ? L"skin_rtl.xml" : L"skin.xml";
}

void CSetupFrameWnd::InitWindow() {
  SetIcon(101);
  m_pm.SetRightToLeft(m_langMgr.IsRtl());  // Tab follows the reading direction
  InitData();
  if (!m_pTaskbar) m_pTaskbar = new CTaskbarProgress();  // lives until the process ends
  m_pTaskbar->Attach(m_hWnd);
  m_pTaskbar->SetState(CTaskbarProgress::kNormal);
  InitAnalytics();
}

void CSetupFrameWnd::InitData() {
  m_pEditPath = nullptr;
  m_pLabelTip = nullptr;
  m_pChkFold = nullptr;
  m_pLabelProgress = nullptr;
  m_pProgress = nullptr;
  m_nWindowState = -1;
  m_strInstallDir = GetProgramDirectory();
  InitEnvironment();
  LoadDomainFile();
  InitControls();
  m_pLabelProgress = FindAs<SkinUI::CLabelUI>(L"label_progress");
  m_pLabelTip = FindAs<SkinUI::CLabelUI>(L"label_tip");
  m_pProgress = FindAs<SkinUI::CProgressUI>(L"progress_download");
  UpdateWindowSate(kWindow_Init);
  LOGW(kLog_Info, L"Windows Version:%ls", GetWindowsProductName().c_str());
  LOGA(kLog_Info, "Windows Bit:%s", IsWindows64Bit() ? "x64" : "x86");
  LOGW(kLog_Info, L"downloader version:%ls", GetFileVersion(GetModuleFilePath()).c_str());
  m_strProgressFile = m_strDataDir + L"temp.progress";
  m_nDownloadRatio = m_langMgr.GetDownloadRatio();
  m_nReadFileTimeout = m_langMgr.GetReadFileTimeout();
  LOGA(kLog_Info, "DownloadRatio:%d  ==== ReadFileTimeout:%d", m_nDownloadRatio, m_nReadFileTimeout);
}

void CSetupFrameWnd::LoadDomainFile() {
  LOGA(kLog_Info, "LoadDomainFile");
  std::string bytes;
  if (!SkinUI::GetPlatformResourceLoader().LoadResource(SkinUI::kResourceTypeRcData, 106, bytes))
    return;
  // At most 254 bytes, and never past the resource's own end.
  bytes = bytes.substr(0, 254);
  bytes.resize(std::strlen(bytes.c_str()));
  std::wstring domain = LocaleToUnicode(bytes);
  ReplaceAll(domain, L"\r\n", L"");
  m_langMgr.SetCustom(domain);
  LOGA(kLog_Info, "Domain:%s", bytes.c_str());
}

void CSetupFrameWnd::InitControls() {
  auto setText = [this](const wchar_t* control, const wchar_t* key) {
    if (SkinUI::CControlUI* c = Find(control)) c->SetText(m_langMgr.GetText(key));
  };
  setText(L"btn_install", L"STR_INSTALL");
  setText(L"btn_hide", L"STR_HIDE");
  setText(L"text_install", L"STR_INSTALLING");
  setText(L"btn_start", L"STR_START");
  setText(L"label_path", L"STR_INSTALL_PATH");

  // The right-to-left skin names a banner on disk that no run writes: the
  // skin's default banner stands in until the carousel has its first image,
  // so the progress page never shows an empty frame.
  if (SkinUI::CControlUI* banner = Find(L"banner")) {
    const std::wstring image = banner->GetBkImage();
    if (image.rfind(L"language\\", 0) == 0 && !IsFileExist(m_strDataDir + image))
      banner->SetBkImage(L"img\\default.png");
  }
  if (SkinUI::CControlUI* tip = Find(L"control_tip")) {
    std::wstring image = LanguageImageFolder() + L"install_tips.png";
    if (IsFileExist(image)) tip->SetBkImage(image);
  }
  if ((m_pEditPath = FindAs<SkinUI::CEditUI>(L"edit_path"))) {
    m_pEditPath->SetText(m_strInstallDir);
    m_pEditPath->SetReadOnly(true);
    // Focusing the field opens the folder dialog: Tab goes to Browse instead.
    m_pEditPath->SetKeyboardEnabled(false);
    m_pEditPath->SetToolTip(m_langMgr.GetText(L"STR_INSTALL_PATH"));
  }
  // Screen readers name the licence box by its sentence and the bar by its caption.
  if (SkinUI::CControlUI* agree = Find(L"chk_agree"))
    agree->SetToolTip(SkinUI::MarkupPlainText(m_langMgr.GetText(L"STR_LISENCE")));
  if (SkinUI::CControlUI* bar = Find(L"progress_download")) bar->SetToolTip(m_langMgr.GetText(L"STR_INSTALLING"));
  setText(L"btn_browse", L"STR_BROWSE");
  setText(L"btn_lisence", L"STR_LISENCE");
  setText(L"label_install", L"STR_INSTALLING");
  LoadProgressTexts();
  if (auto* agree = FindAs<SkinUI::CCheckBoxUI>(L"chk_agree")) agree->Selected(true, true);
  if ((m_pChkFold = FindAs<SkinUI::CCheckBoxUI>(L"chk_fold"))) {
    m_pChkFold->SetText(m_langMgr.GetText(L"STR_CUSTOMIZE_INSTALL"));
    m_pChkFold->Selected(false, true);
  }
  m_strDownloadUrl = m_langMgr.GetDownloadUrl();
}

void CSetupFrameWnd::UpdateWindowSate(int state) {
  if (m_nWindowState.exchange(state) == state) return;
  if (!Find(L"switch")) return;
  switch (state) {
    case kWindow_Init:
      LOGA(kLog_Info, "UpdateWindowSate:kWindow_Init");
      ShowStatus(m_langMgr.GetText(L"STR_INSTALLING"), kStatus_Idle);
      RunOnUiThread([this] {
        if (auto* tabs = FindAs<SkinUI::CTabLayoutUI>(L"switch")) tabs->SelectItem(0, true);
        if (SkinUI::CControlUI* start = Find(L"btn_start")) start->SetVisible(false);
        if (SkinUI::CControlUI* install = Find(L"btn_install")) install->SetFocus();
      });
      break;
    case kWindow_Downloading:
      LOGA(kLog_Info, "UpdateWindowSate:kWindow_Downloading");
      RunOnUiThread([this] {
        if (m_pChkFold) m_pChkFold->Selected(false, true);
        if (auto* tabs = FindAs<SkinUI::CTabLayoutUI>(L"switch")) tabs->SelectItem(1, true);
      });
      UpdateProgress(0);
      break;
    case kWindow_Installing:
      LOGA(kLog_Info, "UpdateWindowSate:kWindow_Installing");
      ShowStatus(m_langMgr.GetText(L"STR_INSTALLING"), kStatus_Installing);
      StartInstallExe();
      break;
    case kWindow_Finish:
      LOGA(kLog_Info, "UpdateWindowSate:kWindow_Finish");
      RunOnUiThread([this] {
        if (auto* tabs = FindAs<SkinUI::CTabLayoutUI>(L"switch")) tabs->SelectItem(0, true);
      });
      InstallExeFinish();
      break;
    default:
      break;
  }
}

void CSetupFrameWnd::UpdateProgress(int value) {
  RunOnUiThread([this, value] {
    if (m_pProgress) m_pProgress->SetValue(m_langMgr.IsRtl() ? 100 - value : value);
    if (m_pLabelProgress) m_pLabelProgress->SetText(std::to_wstring(value) + L" %");
    if (m_pTaskbar) {
      m_pTaskbar->SetState(CTaskbarProgress::kNormal);
      m_pTaskbar->SetValue(value < 0 ? 0 : static_cast<ULONGLONG>(value), 100);
    }
  });
}

void CSetupFrameWnd::ShowTip(const std::wstring& text) {
  RunOnUiThread([this, text] {
    if (m_pLabelTip) {
      m_pLabelTip->SetText(text);
      m_pLabelTip->SetVisible(!text.empty());
    }
    if (!text.empty() && m_pChkFold) m_pChkFold->Selected(true, true);
  });
}

int CSetupFrameWnd::ShowMessage(const std::wstring& text, UINT type) {
  if (m_langMgr.IsRtl()) type |= kRtlMessageFlags;
  // The question and the answer in the log: support reads what the user saw.
  LOGW(kLog_Info, L"ShowMessage:%ls", text.c_str());
  int answer = MessageBoxW(m_hWnd, text.c_str(), m_langMgr.GetText(L"STR_MESSAGEBOX_TITLE").c_str(), type);
  LOGA(kLog_Info, "ShowMessage answer:%d", answer);
  return answer;
}

void CSetupFrameWnd::OnSelectChanged(SkinUI::NotifyMsg& msg) {
  if (!msg.pSender) return;
  const std::wstring& name = msg.pSender->GetName();
  if (name == L"chk_fold") {
    SkinUI::CControlUI* bottom = Find(L"bottomLayout");
    if (!bottom || !m_pChkFold) return;
    bool open = m_pChkFold->IsSelected();
    bottom->SetAttribute(L"visible", open ? L"true" : L"false");
    RECT client;
    GetClientRect(m_hWnd, &client);
    ResizeClient(client.right - client.left,
                 client.bottom - client.top + (open ? kBottomPanelHeight : -kBottomPanelHeight));
  } else if (name == L"chk_agree") {
    auto* agree = dynamic_cast<SkinUI::COptionUI*>(msg.pSender);
    if (SkinUI::CControlUI* install = Find(L"btn_install"))
      install->SetEnabled(agree && agree->IsSelected());
  }
}

void CSetupFrameWnd::OnTextChanged(SkinUI::NotifyMsg& msg) {
  if (msg.pSender && msg.pSender->GetName() == L"edit_path") ShowTip(L"");
}

void CSetupFrameWnd::Notify(SkinUI::NotifyMsg& msg) {
  if (msg.pSender && msg.pSender->GetName() == L"edit_path" && msg.sType == L"setfocus") {
    OnBrowse();
    if (SkinUI::CControlUI* browse = Find(L"btn_browse")) browse->SetFocus();
  }
  SkinUI::WindowImplBase::Notify(msg);
}

void CSetupFrameWnd::OnBrowse() {
  std::wstring title = m_langMgr.GetText(L"STR_SELECT_FOLDER");
  BROWSEINFOW info = {};
  info.hwndOwner = m_hWnd;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (!chosen) return;
  wchar_t path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(chosen, path) && m_pEditPath) {
    m_pEditPath->SetText(path);
    ShowTip(L"");
  }
  CoTaskMemFree(chosen);
}

void CSetupFrameWnd::OnClick(SkinUI::NotifyMsg& msg) {
  if (msg.pSender) {
    const std::wstring& name = msg.pSender->GetName();
    if (name == L"btn_install") {
      OnClickInstall();
    } else if (name == L"btn_browse") {
      OnBrowse();
    } else if (name == L"btn_hide") {
      SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name == L"btn_start") {
      OnStartProduct();
    } else if (name == L"btn_lisence") {
      std::wstring licence = m_langMgr.GetLicenceUrl();
      if (IsWebAddress(licence)) ShellOpen(m_hWnd, licence);
    } else if (msg.pSender->HasCustomAttribute(L"imageIndex")) {
      OnBannerDotClick(msg.pSender);
    }
  }
  SkinUI::WindowImplBase::OnClick(msg);
}

LRESULT CSetupFrameWnd::HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  if (msg == kMsgRunOnUiThread) {
    (*reinterpret_cast<std::function<void()>*>(lParam))();
    bHandled = TRUE;
    return 0;
  }
  if (msg != WM_TIMER) {
    bHandled = FALSE;
    return 0;
  }
  switch (wParam) {
    case kTimer_NextBanner: ShowNextBanner(); break;
    case kTimer_ProgressFile: ReadProgressFile(); break;
    case kTimer_BannerReady: OnBannerReadyTimer(); break;
    default: break;
  }
  bHandled = TRUE;
  return 0;
}

void CSetupFrameWnd::RunOnUiThread(const std::function<void()>& fn) {
  // Worker threads change controls through the UI thread, one change at a
  // time and in order; the sender waits until its change is done.
  if (GetCurrentThreadId() == m_dwUiThread) {
    fn();
    return;
  }
  if (!m_hWnd || !IsWindow(m_hWnd)) return;  // the window is gone: nothing to show
  std::function<void()> copy = fn;
  ::SendMessageW(m_hWnd, kMsgRunOnUiThread, 0, reinterpret_cast<LPARAM>(&copy));
}
