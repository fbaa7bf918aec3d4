// From the Install click to the hand-over to the silent installer: the path
// check, the pre-download worker (redirect probe, size, free space), the
// download thread and its outcome.
#include <chrono>
#include <memory>
#include <system_error>
#include <thread>

#include "Window/InstallLogic.h"
#include "Window/RedirectProbe.h"
#include "Window/SetupFrameWnd.h"
#include "common/GA.h"
#include "common/JsonStruct.h"
#include "download/EngineProxy.h"
#include "download/HttpDownload.h"
#include "log/Log.h"
#include "system/FileOps.h"
#include "system/Strings.h"
#include "system/SystemUtils.h"
#include "tool/SystemProxy.h"
#include "tool/WinHttpRequest.h"

namespace {

enum GaKind { kGa_StartInstall = 0, kGa_Installed = 1, kGa_InstalledSucceed = 2 };

// Only an existing folder passes, or a name whose existence cannot be settled
// for another reason than "not found".
bool IsPathUsable(const std::wstring& path, bool& exists) {
  exists = false;
  std::wstring probe = path;
  if (!probe.empty() && probe.back() == L'\\') probe.pop_back();
  probe += L"\\.";
  if (GetFileAttributesW(probe.c_str()) != INVALID_FILE_ATTRIBUTES) {
    exists = true;
    return true;
  }
  DWORD error = GetLastError();
  return error != ERROR_PATH_NOT_FOUND && error != ERROR_FILE_NOT_FOUND;
}

// The size of a file, or -1 when there is none.
int64_t FileSize(const std::wstring& path) {
  std::error_code ec;
  auto size = ::FileSize(path, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

int64_t SteadySeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void CSetupFrameWnd::OnClickInstall() {
  LOGA(kLog_Info, "OnClickInstall");
  ShowTip(L"");
  std::wstring path = m_pEditPath ? m_pEditPath->GetText() : std::wstring();
  m_strInstallDir = WithTrailingBackslash(path);
  LOGW(kLog_Info, L"sel path:%ls", m_strInstallDir.c_str());
  SetLastError(0);
  bool exists = false;
  // A folder that exists is required: the silent installer and the free-space
  // query both need a real folder, and a name that cannot be checked is not one.
  if (!IsPathUsable(m_strInstallDir, exists) || !exists) {
    ShowTip(m_langMgr.GetText(L"STR_PATH_INVALID"));
    return;
  }
  LOGA(kLog_Info, "sel path end");
  // Said before the address and the size are checked, not after.
  ShowStatus(m_langMgr.GetText(L"STR_CONNECTING"), kStatus_Connecting);
  m_tInstallClicked = SteadySeconds();
  // One proxy answer for every request of this install, found on its first request.
  BeginInstallProxy(m_strDownloadUrl);
  std::thread(&CSetupFrameWnd::FetchBannerImages, this).detach();
  std::thread(&CSetupFrameWnd::PrepareDownload, this).detach();
  LOGA(kLog_Info, "send ga begin");
  SendGaEventAsync(kGa_StartInstall);
  LOGA(kLog_Info, "send ga end");
  LOGA(kLog_Info, "change page downloading begin");
  UpdateWindowSate(kWindow_Downloading);
  LOGA(kLog_Info, "change page downloading end");
  SetTimer(m_hWnd, kTimer_BannerReady, 1000, nullptr);
}

void CSetupFrameWnd::BackToFirstPage() {
  m_nLastInstallPercent = 0;
  UpdateProgress(0);
  g_nLastDownloadBytes = 0;
  UpdateWindowSate(kWindow_Init);
}

void CSetupFrameWnd::PrepareDownload() {

  std::wstring extended = m_langMgr.GetDownloadUrlEx();
  if (!extended.empty()) {
    // A probe without a response leaves the extended address as the target:
    // it is then downloaded itself.
    bool answered = false;
    std::wstring chosen = DownloadUrlAfterProbe(m_strDownloadUrl, extended, &GetRedirectUrl, &answered);
    if (answered) {
      m_strDownloadUrl = chosen;
      LOGW(kLog_Info, L"get redirect Url:%ls", m_strDownloadUrl.c_str());
    }
  }
  if (!IsWebAddress(m_strDownloadUrl)) {
    LOGW(kLog_Info, L"OnClickInstall: no usable download address [%ls]", m_strDownloadUrl.c_str());
    SendFailureAsync("probe", "check", 0);
    ShowMessage(m_langMgr.GetText(L"STR_NETWORK_ERROR"), MB_OK | MB_ICONWARNING);
    BackToFirstPage();
    return;
  }

  LOGA(kLog_Info, "get file size begin");
  HeadValidators validators;
  int64_t size = GetFileSizeByHead(m_strDownloadUrl, &validators);
  m_nExpectedInstallerSize = size;
  LOGA(kLog_Info, "get file size end");

  // The free space of the installation folder itself (it may be a mounted
  // volume or a network share, not the drive its letter names) and of the
  // data folder's volume, where the download grows.
  LOGA(kLog_Info, "get disk size begin");
  uint32_t freeMiB = 0, dataFreeMiB = 0;
  bool haveFree = GetFreeSize(m_strInstallDir, freeMiB) && GetFreeSize(m_strDataDir, dataFreeMiB);
  LOGA(kLog_Info, "get disk size end");
  if (!haveFree) {
    DWORD why = GetLastError();
    LOGA(kLog_Info, "OnClickInstall" ZV_FW_COLON "GetFreeSize Failed");
    SendFailureAsync("space", "system", static_cast<int64_t>(why));
    ShowMessage(m_langMgr.GetText(L"STR_PATH_INVALID"), MB_OK | MB_ICONWARNING);
    BackToFirstPage();
    ShowTip(m_langMgr.GetText(L"STR_PATH_INVALID"));
    return;
  }

  int64_t sizeMiB = size >> 20;
  int64_t kept = KeptDownloadBytes(DownloadedInstallerPath(), size);
  if (int64_t missing = MissingSpaceMiB(size, kept, freeMiB, dataFreeMiB)) {
    LOGA(kLog_Info, "OnClickInstall" ZV_FW_COLON "filesize:%lldMB--FreeSize:%uMB--DataFreeSize:%uMB",
         static_cast<long long>(sizeMiB), freeMiB, dataFreeMiB);
    SendFailureAsync("space", "check", missing);
    if (ShowStorageMessage(missing)) BackToFirstPage();
    return;
  }

  std::wstring file = DownloadedInstallerPath();
  JudgeDeleteHistoryFile(m_strDownloadUrl, size, file,
                         engine::validator_of(validators.etag, validators.lastModified));
  if (IsKeptInstallerUsable(FileSize(file), size)) {
    LOGA(kLog_Info, "PrepareDownload: the installer kept from the last attempt is used, not downloaded again");
    DownloadSuccess();
    return;
  }
  StartDownload(m_strDownloadUrl, file);
}

bool CSetupFrameWnd::StartDownload(const std::wstring& url, const std::wstring& file) {
  if (url.empty() || file.empty()) return false;
  std::thread([this, url, file] {
    DownloadRequest request;
    request.connections = 8;
    request.context = this;
    request.url = url;
    request.path = file;
    request.proxy = InstallEngineProxy(url);
    StartHttpDownload(&request, &CSetupFrameWnd::OnDownloadStatus, nullptr);
  }).detach();
  return true;
}

void CSetupFrameWnd::OnDownloadStatus(int code, int value, int extra, void* context) {
  auto* self = static_cast<CSetupFrameWnd*>(context);
  if (!self) return;
  switch (code) {
    case kCallback_Started:
      self->OnDownloadStarted();
      break;
    case kCallback_Bytes:
      self->OnDownloadBytes(value, extra);
      break;
    case kCallback_Percent:
      self->OnDownloadPercent(value);
      break;
    case kCallback_Result:
      self->OnDownloadResult(static_cast<int>(value));
      break;
    default:
      break;
  }
}

void CSetupFrameWnd::OnDownloadResult(int result) {
  // The driver's named results only; it gives no other value, and one that
  // came anyway leaves the window as it is.
  switch (static_cast<DownloadResult>(result)) {
    case kDownload_Success:
      DownloadSuccess();
      break;
    case kDownload_Failed:
    case kDownload_Incomplete:
      // Also where every connection gave up part way: the user decides, and
      // Retry resumes from the files kept, rather than the window vanishing.
      DownloadFailed();
      break;
    case kDownload_DiskFull:
      DownloadDiskFull();
      break;
    case kDownload_Cancelled:  // whoever cancelled decides what comes next
      break;
  }
}

void CSetupFrameWnd::DownloadSuccess() {
  LOGA(kLog_Info, "HttpDownloadEnd" ZV_FW_COLON "Success");
  SendGaEventAsync(kGa_Installed);
  UpdateWindowSate(kWindow_Installing);
  UpdateProgress(m_nDownloadRatio);
}

void CSetupFrameWnd::DownloadFailed() {
  LOGA(kLog_Info, "HttpDownloadEnd" ZV_FW_COLON "Failed");
  if (m_pTaskbar) RunOnUiThread([this] { m_pTaskbar->SetState(CTaskbarProgress::kError); });
  // A proxy that wants credentials it was not given is named to the user.
  std::wstring proxy = InstallProxy::Instance().AuthRefused();
  std::wstring reason = m_langMgr.GetText(proxy.empty() ? L"STR_NETWORK_ERROR" : L"STR_PROXY_AUTH");
  ReplaceAll(reason, L"{proxy}", proxy);
  std::wstring text = reason + L"\n\n" + m_langMgr.GetText(L"STR_OPERATE_TIP");
  int answer = ShowMessage(text, MB_ABORTRETRYIGNORE | MB_ICONWARNING);
  // Only a Retry goes on with this install; the others end it.
  std::shared_ptr<std::atomic<bool>> sent;
  if (answer != IDRETRY) sent = SendFailureAsync("download", "driver", kDownload_Failed);
  switch (answer) {
    case IDABORT:
      // The process ends with the window: the report gets a few seconds first.
      for (int waited = 0; !*sent && waited < 5000; waited += 50) Sleep(50);
      PostMessage(WM_CLOSE, kForceClose, 0);
      break;
    case IDRETRY:
      CleanInstallFiles();
      CancelHttpDownload();
      StartDownload(m_strDownloadUrl, DownloadedInstallerPath());
      break;
    case IDIGNORE:
      // The browser downloads the installer instead; only a web address is
      // handed to the shell.
      if (IsWebAddress(m_strDownloadUrl)) ShellOpen(m_hWnd, m_strDownloadUrl);
      CleanInstallFiles();
      BackToFirstPage();
      break;
    default:
      break;
  }
}

void CSetupFrameWnd::DownloadDiskFull() {
  LOGA(kLog_Info, "HttpDownloadEnd" ZV_FW_COLON "DiskFull");
  if (m_pTaskbar) RunOnUiThread([this] { m_pTaskbar->SetState(CTaskbarProgress::kError); });
  SendFailureAsync("download", "driver", kDownload_DiskFull);
  // What is still to come needs room; what arrived stays in P.tmp and P.cfg
  // and the next Install resumes from it.
  DownloadEndFacts end = LastDownloadEnd();
  int64_t missing = end.total > 0 ? MiBRoundedUp(end.total - end.downloaded) : MiBRoundedUp(m_nExpectedInstallerSize);
  if (ShowStorageMessage(missing)) BackToFirstPage();
}

bool CSetupFrameWnd::ShowStorageMessage(int64_t requiredMiB) {
  std::wstring unit = m_langMgr.GetText(L"STR_MB");
  if (unit.empty()) unit = L"MB";
  std::wstring text = m_langMgr.GetText(L"STR_STORAGE") + L" " + std::to_wstring(requiredMiB) + L" " + unit;
  return ShowMessage(text, MB_OK) == IDOK;
}

std::shared_ptr<std::atomic<bool>> CSetupFrameWnd::SendFailureAsync(const char* phase, const std::string& category,
                                                                    int64_t code) {
  auto sent = std::make_shared<std::atomic<bool>>(false);
  CGA* sender = CGA::GetInstance();
  if (!sender) {
    *sent = true;
    return sent;
  }
  InstallFailureInfo failure;
  failure.phase = phase;
  failure.errorCategory = category;
  failure.errorCode = code;
  failure.bytesTotal = m_nExpectedInstallerSize > 0 ? m_nExpectedInstallerSize.load() : -1;
  if (failure.phase == "download") {
    // The engine's own error says more than the driver's result.
    DownloadEndFacts end = LastDownloadEnd();
    if (!end.errorCategory.empty()) {
      failure.errorCategory = end.errorCategory;
      failure.errorCode = end.errorCode;
    }
    failure.bytesDone = end.downloaded;
    if (end.total >= 0) failure.bytesTotal = end.total;
    failure.retries = end.retries;
  } else if (failure.phase == "verify" || failure.phase == "install") {
    failure.bytesDone = failure.bytesTotal;
  }
  failure.seconds = m_tInstallClicked > 0 ? SteadySeconds() - m_tInstallClicked : 0;
  // The install's one proxy answer, which every request of it follows.
  failure.proxyUsed = InstallEngineProxy(m_strDownloadUrl).kind != engine::kProxy_None;
  LOGA(kLog_Info, "install failed in phase %s: %s %lld", phase, failure.errorCategory.c_str(),
       static_cast<long long>(failure.errorCode));
  std::thread([sender, failure, sent] {
    sender->SendFailed(failure);
    *sent = true;
  }).detach();
  return sent;
}

void CSetupFrameWnd::SendGaEventAsync(int kind) {
  CGA* sender = CGA::GetInstance();
  if (!sender) return;
  std::thread([sender, kind] {
    switch (kind) {
      case kGa_Installed: sender->SendInstalled(); break;
      case kGa_InstalledSucceed: sender->SendInstalledSucceed(); break;
      default: sender->SendStartInstall(); break;
    }
  }).detach();
}
