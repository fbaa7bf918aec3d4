// The end of the run: the finish page, starting the product, and every close
// request with its question and clean-up.
#include "Window/BuildAddresses.h"
#include "Window/InstallLogic.h"
#include "Window/ProductLauncher.h"
#include "Window/SetupFrameWnd.h"
#include "common/GA.h"
#include "download/HttpDownload.h"
#include "log/Log.h"
#include "system/SystemUtils.h"


void CSetupFrameWnd::InitAnalytics() {
  CGA* sender = CGA::GetInstance();
  if (!sender) return;
  sender->SetUrl(AnalyticsCollectUrl());
  sender->SetTitle(m_langMgr.GetGaTitle() + L" (Windows version)");
}

void CSetupFrameWnd::InstallExeFinish() {
  LOGA(kLog_Info, "InstallExeFinish");
  RunOnUiThread([this] {
    KillTimer(m_hWnd, kTimer_NextBanner);
    KillTimer(m_hWnd, kTimer_ProgressFile);
    if (SkinUI::CControlUI* c = Find(L"btn_start")) c->SetVisible(true);
    if (SkinUI::CControlUI* c = Find(L"btn_install")) c->SetVisible(false);
    if (SkinUI::CControlUI* c = Find(L"lineLayout")) c->SetAttribute(L"visible", L"false");
    if (SkinUI::CControlUI* c = Find(L"customLayout")) c->SetAttribute(L"visible", L"false");
    if (SkinUI::CControlUI* c = Find(L"control_tip")) c->SetVisible(false);
    if (SkinUI::CControlUI* c = Find(L"btn_start")) c->SetFocus();  // Enter starts the product
    if (m_pTaskbar) {
      m_pTaskbar->SetState(CTaskbarProgress::kNormal);
      m_pTaskbar->SetValue(100, 100);
    }
    if (!IsWindowVisible(m_hWnd)) ShowWindow(true, true);
  });
  CleanInstallFiles();
  Sleep(1000);
  RunOnUiThread([this] {
    if (m_pTaskbar) m_pTaskbar->SetState(CTaskbarProgress::kNoProgress);
  });
  std::wstring installed = m_langMgr.GetInstallUrl();
  if (IsWebAddress(installed)) ShellOpen(m_hWnd, installed);
}

void CSetupFrameWnd::OnStartProduct() {
  bool runAsAdmin = m_langMgr.IsRunAsAdmin();
  std::wstring path = m_strInstallDir + m_langMgr.GetProductExePath();
  LOGW(kLog_Info, L"OnStartProduct:%ls", path.c_str());
  RunProduct(path, runAsAdmin);
  PostMessage(WM_CLOSE, kForceClose, 0);
}

LRESULT CSetupFrameWnd::OnClose(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
  SkinUI::CControlUI* start = Find(L"btn_start");
  if (wParam == kForceClose || (start && start->IsVisible())) {
    m_bClosing = true;
    CleanInstallFiles();
    bHandled = FALSE;
    return 0;
  }
  auto* tabs = dynamic_cast<SkinUI::CTabLayoutUI*>(Find(L"switch"));
  if (!tabs || g_bCloseAsking) {
    bHandled = TRUE;  // swallowed: one question at a time
    return 0;
  }
  g_bCloseAsking = true;
  int page = tabs->GetCurSel();
  // Only a running download is stopped while the question is on screen, and
  // only that one is started again on No.
  bool stopped = page == 1 && m_nWindowState == kWindow_Downloading && CancelHttpDownload();
  int answer = ShowMessage(m_langMgr.GetText(page == 1 ? L"STR_CLOSE_TIP2" : L"STR_CLOSE_TIP1"),
                           MB_YESNO | MB_ICONQUESTION);
  if (answer == IDYES) {
    m_bClosing = true;
    g_bCloseAsking = false;
    PostMessage(WM_CLOSE, kForceClose, 0);
    CleanInstallFiles();
    bHandled = FALSE;
    return 0;
  }
  g_bCloseAsking = false;
  if (stopped && m_nWindowState == kWindow_Downloading)
    StartDownload(m_strDownloadUrl, DownloadedInstallerPath());
  bHandled = TRUE;
  return 0;
}

LRESULT CSetupFrameWnd::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  ::PostQuitMessage(0);
  bHandled = FALSE;
  return 0;
}
