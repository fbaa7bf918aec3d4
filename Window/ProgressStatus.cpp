// The status line of the progress page ("label_install"): "Connecting…"
// while the address and the size are checked, then the bytes, the speed and
// the time left while the download runs, then the installing caption.
#include <chrono>

#include "Window/InstallLogic.h"
#include "Window/SetupFrameWnd.h"
#include "log/Log.h"

namespace {

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The user's decimal mark, as the system writes numbers for them.
wchar_t UserDecimalMark() {
  wchar_t mark[8] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, mark, 8) == 2) return mark[0];
  return L'.';
}

}  // namespace

void CSetupFrameWnd::LoadProgressTexts() {
  m_progressTexts.downloaded = m_langMgr.GetText(L"STR_DOWNLOADED");
  m_progressTexts.speed = m_langMgr.GetText(L"STR_SPEED");
  m_progressTexts.fewSeconds = m_langMgr.GetText(L"STR_LEFT_FEW_SECONDS");
  m_progressTexts.seconds = m_langMgr.GetText(L"STR_LEFT_SECONDS");
  m_progressTexts.minutes = m_langMgr.GetText(L"STR_LEFT_MINUTES");
  m_progressTexts.hours = m_langMgr.GetText(L"STR_LEFT_HOURS");
  m_progressTexts.decimalMark = UserDecimalMark();
}

void CSetupFrameWnd::ShowStatus(const std::wstring& text, StatusKind kind) {
  // One log record a change of kind, not one a poll: the log tells what the
  // page said when, without growing by a line every 800 ms. The kind in
  // ASCII first: the log's code page may lack the language's letters.
  static const wchar_t* const kKindNames[] = {L"", L"connecting", L"bytes", L"estimate", L"installing"};
  if (m_nStatusKind.exchange(kind) != kind && kind != kStatus_Idle)
    LOGW(kLog_Info, L"progress status:%ls %ls", kKindNames[kind], text.c_str());
  RunOnUiThread([this, text] {
    if (SkinUI::CControlUI* label = Find(L"label_install")) label->SetText(text);
  });
}

void CSetupFrameWnd::OnDownloadStarted() {
  m_rateEstimator.Reset();
  m_bByteReports = false;
  ShowStatus(m_langMgr.GetText(L"STR_CONNECTING"), kStatus_Connecting);
}

void CSetupFrameWnd::OnDownloadBytes(int64_t bytes, int64_t total) {
  m_bByteReports = true;
  UpdateProgress(DownloadBytesToBar(bytes, total, m_nDownloadRatio, g_nLastDownloadBytes));
  ShowDownloadStatus(g_nLastDownloadBytes, total);
}

void CSetupFrameWnd::OnDownloadPercent(int percent) {
  // The byte report that comes with each percent has moved the bar already.
  if (m_bByteReports) return;
  UpdateProgress(DownloadPercentToBar(percent, m_nDownloadRatio));
  // Files too large for byte reports: the bytes from the size the server
  // announced, to the percent.
  int64_t total = m_nExpectedInstallerSize;
  if (total > 0) ShowDownloadStatus(total / 100 * percent, total);
}

void CSetupFrameWnd::ShowDownloadStatus(int64_t done, int64_t total) {
  m_rateEstimator.AddSample(SteadySeconds(), done);
  std::wstring text = DownloadStatusText(m_progressTexts, done, total, m_rateEstimator);
  if (text.empty()) return;
  bool estimated = m_rateEstimator.SecondsLeft(total - done) >= 0;
  ShowStatus(text, estimated ? kStatus_Estimate : kStatus_Bytes);
}
