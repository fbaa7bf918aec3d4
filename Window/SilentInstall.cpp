// The hand-over to the product's installer: it runs silently with its
// switches while the window follows its progress file.
#include <shlobj.h>

#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "Window/InstallLogic.h"
#include "Window/SetupFrameWnd.h"
#include "Window/SilentInstaller.h"
#include "common/GA.h"
#include "log/Log.h"
#include "system/SystemUtils.h"

namespace {

constexpr wchar_t kSilentInstallProcess[] = L"zelvane-download.tmp";

}  // namespace

void CSetupFrameWnd::StartInstallExe() {
  uint32_t pid = 0;
  std::wstring exeName = m_langMgr.GetExeName();
  if (!exeName.empty() && FindProcess(exeName, pid)) {
    LOGA(kLog_Info, "StartInstallExe" ZV_FW_COLON "FindProcess");
    RunOnUiThread([this] {
      if (m_pTaskbar) m_pTaskbar->SetState(CTaskbarProgress::kPaused);
    });
    if (ShowMessage(m_langMgr.GetText(L"STR_SOFT_RUN"), MB_OKCANCEL | MB_ICONWARNING) != IDOK) {
      PostMessage(WM_CLOSE, kForceClose, 0);
      return;
    }
    KillProcess(pid);
    RunOnUiThread([this] {
      if (m_pTaskbar) m_pTaskbar->SetState(CTaskbarProgress::kNormal);
    });
  }
  std::wstring productDir = m_strInstallDir + m_langMgr.GetProductDir();
  SHCreateDirectoryExW(nullptr, productDir.c_str(), nullptr);
  if (GetFileAttributesW(productDir.c_str()) != FILE_ATTRIBUTE_DIRECTORY)
    CreateDirectoryW(productDir.c_str(), nullptr);
  WriteDomainFile();

  std::wstring exe = DownloadedInstallerPath();
  std::wstring installDir = m_strInstallDir;
  std::wstring progressFile = m_strProgressFile;
  StartProgressTimer();
  std::thread([this, exe, installDir, progressFile] {
    std::wstring publisher = m_langMgr.GetProductSetting(L"STR_PUBLISHER");
    std::wstring sha256Pin = m_langMgr.GetProductSetting(L"STR_INSTALLER_SHA256");
    DWORD exitCode = 1;
    std::wstring why;
    bool verified = VerifyDownloadedInstaller(exe, m_nExpectedInstallerSize, sha256Pin, publisher, why);
    bool ran = verified && RunSilentInstaller(exe, installDir, progressFile, &exitCode);
    if (!why.empty()) LOGW(kLog_Info, L"StartInstallExe: %ls", why.c_str());
    // A close question on screen is answered first; a confirmed close wins.
    while (g_bCloseAsking) Sleep(100);
    if (m_bClosing) return;
    if (ran && IsInstallerSuccess(exitCode)) {
      if (exitCode != 0) LOGA(kLog_Info, "StartInstallExe: installed, a restart is due (exit code %lu)", exitCode);
      if (CGA* sender = CGA::GetInstance()) sender->SendInstalledSucceed();
      LOGA(kLog_Info, "StartInstallExe" ZV_FW_COLON "SilentInstallation");
      UpdateWindowSate(kWindow_Finish);
      return;
    }
    LOGA(kLog_Info, "StartInstallExe: installer failed (started %d, exit code %lu)", ran ? 1 : 0, exitCode);
    if (!verified)
      SendFailureAsync("verify", "check", 0);
    else
      SendFailureAsync("install", "installer", ran ? static_cast<int64_t>(exitCode) : -1);
    RunOnUiThread([this] {
      KillTimer(m_hWnd, kTimer_ProgressFile);
      if (m_pTaskbar) m_pTaskbar->SetState(CTaskbarProgress::kError);
    });
    ShowMessage(m_langMgr.GetText(L"STR_INSTALL_FAILED"), MB_OK | MB_ICONWARNING);
    if (ran) {
      // It passed the checks and ran: the next Install runs it again, after
      // the same checks, instead of fetching it once more.
      KillSilentInstallProcess();
      DeleteFileW(m_strProgressFile.c_str());
      LOGA(kLog_Info, "StartInstallExe: the verified installer is kept for the next attempt");
    } else {
      CleanInstallFiles();
    }
    BackToFirstPage();
  }).detach();
}

void CSetupFrameWnd::WriteDomainFile() {
  std::string text = UnicodeToLocale(m_langMgr.GetCustom());
  if (text.empty()) return;
  std::wstring path = m_strInstallDir + m_langMgr.GetProductDir() + L"domain";
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (!file) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

void CSetupFrameWnd::StartProgressTimer() {
  // A stale progress file goes before the installer can write a new one.
  DeleteFileW(m_strProgressFile.c_str());
  m_nLastInstallPercent = 0;
  RunOnUiThread([this] { SetTimer(m_hWnd, kTimer_ProgressFile, m_nReadFileTimeout, nullptr); });
}

void CSetupFrameWnd::ReadProgressFile() {
  FILE* file = _wfopen(m_strProgressFile.c_str(), L"r");
  if (!file) return;
  char buffer[11] = {};
  std::size_t got = std::fread(buffer, 1, 10, file);
  std::fclose(file);
  int percent = ParseProgressText(std::string(buffer, got));
  // A half-written or rewound file never moves the bar back.
  if (percent < m_nLastInstallPercent) percent = m_nLastInstallPercent;
  m_nLastInstallPercent = percent;
  UpdateProgress(InstallPercentToBar(percent, m_nDownloadRatio));
}

void CSetupFrameWnd::KillSilentInstallProcess() {
  uint32_t pid = 0;
  if (!FindProcess(kSilentInstallProcess, pid)) return;
  LOGA(kLog_Info, "KillSilentInstallProcess");
  KillProcess(pid);
}

void CSetupFrameWnd::CleanInstallFiles() {
  KillSilentInstallProcess();
  DeleteFileW(DownloadedInstallerPath().c_str());
  DeleteFileW(m_strProgressFile.c_str());
}
