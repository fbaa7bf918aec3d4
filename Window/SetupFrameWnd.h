// The installer's one main window and the controller of the whole run: the
// start-up environment, the pages and states, the install flow, the silent
// installer hand-over, the banner carousel, finishing and closing.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Window/DownloadProgress.h"
#include "Window/TaskbarProgress.h"
#include "common/LanguageManager.h"
#include "ui/win/UIControls.h"
#include "ui/win/WindowImplBase.h"

enum WindowState {
  kWindow_Init = 0,
  kWindow_Downloading = 1,
  kWindow_Installing = 2,
  kWindow_Finish = 3,
};

// Full-width colon (U+FF1A) of the log texts, in code page 936.
#define ZV_FW_COLON "\xA3\xBA"

// Close-request code with which the program closes itself without asking.
constexpr WPARAM kForceClose = 1000;

// Timers of the window.
enum WindowTimer {
  kTimer_NextBanner = 11,    // 4000 ms: the next carousel image
  kTimer_ProgressFile = 12,  // m_nReadFileTimeout: the installer's progress file
  kTimer_BannerReady = 13,   // 1000 ms: waits for the carousel images
};

extern int64_t g_nLastDownloadBytes;  // last byte-progress report; never goes back
extern std::atomic<bool> g_bCloseAsking;  // the close question is on screen

class CSetupFrameWnd : public SkinUI::WindowImplBase {
 public:
  CSetupFrameWnd();
  ~CSetupFrameWnd() override;

  // Data folder, log, unpacked settings and texts. Runs at most once per
  // process; later calls return at once.
  void InitEnvironment();

  // Toolkit hooks.
  std::wstring GetWindowClassName() const override { return L"SetupMainFrame"; }
  void InitWindow() override;
  void OnClick(SkinUI::NotifyMsg& msg) override;
  std::wstring GetSkinFolder() override { return L""; }
  std::wstring GetSkinFile() override;
  SkinUI::UILIB_RESOURCETYPE GetResourceType() const override { return SkinUI::UILIB_ZIPRESOURCE; }
  std::wstring GetResourceID() const override { return L"104"; }
  LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  void Notify(SkinUI::NotifyMsg& msg) override;
  SKINUI_DECLARE_MESSAGE_MAP()

  // Operations the flows share.
  void UpdateWindowSate(int state);
  void UpdateProgress(int value);
  void ShowTip(const std::wstring& text);
  LanguageManager& GetLanguageManager() { return m_langMgr; }
  int GetWindowState() const { return m_nWindowState; }

  // Message box owned by the window, with the title text and, for
  // right-to-left languages, right-to-left reading.
  int ShowMessage(const std::wstring& text, UINT type);

 private:
  // Start-up.
  void LoadResZipFile();
  // The unpacked settings, and below it one folder a language for its images
  // (install tips and the cached carousel banners).
  std::wstring SettingsFolder() const { return m_strDataDir + L"language\\"; }
  std::wstring LanguageImageFolder() const { return SettingsFolder() + m_langMgr.GetLanguageName() + L"\\"; }
  void InitData();
  void LoadDomainFile();
  void InitControls();
  void InitAnalytics();

  // Page and control handlers.
  void OnSelectChanged(SkinUI::NotifyMsg& msg);
  void OnTextChanged(SkinUI::NotifyMsg& msg);
  void OnBrowse();

  // Install flow.
  void OnClickInstall();
  void PrepareDownload();
  bool StartDownload(const std::wstring& url, const std::wstring& file);
  static void OnDownloadStatus(int code, int value, int extra, void* context);
  void OnDownloadResult(int result);
  void DownloadSuccess();
  void DownloadFailed();
  // The disk of the data folder filled up: the storage message; the bytes
  // written stay for the next Install.
  void DownloadDiskFull();
  // The storage box asking for requiredMiB; true when it was answered with OK.
  bool ShowStorageMessage(int64_t requiredMiB);
  // Reports "Downloader_Failed" on a short-lived thread: the phase the
  // install ended in and the error (category, code) that ended it.
  // The flag turns true once the event has been sent.
  std::shared_ptr<std::atomic<bool>> SendFailureAsync(const char* phase, const std::string& category,
                                                      int64_t code);
  // Back to the first page with the progress and its counters reset.
  void BackToFirstPage();
  void SendGaEventAsync(int kind);
  std::wstring DownloadedInstallerPath() const { return m_strDataDir + L"zelvane-download.exe"; }

  // The progress page's status line (ProgressStatus.cpp); the download
  // handlers run on the download thread.
  enum StatusKind { kStatus_Idle, kStatus_Connecting, kStatus_Bytes, kStatus_Estimate, kStatus_Installing };
  void LoadProgressTexts();
  void ShowStatus(const std::wstring& text, StatusKind kind);
  void OnDownloadStarted();
  void OnDownloadBytes(int64_t bytes, int64_t total);
  void OnDownloadPercent(int percent);
  void ShowDownloadStatus(int64_t done, int64_t total);

  // Silent installer.
  void StartInstallExe();
  void WriteDomainFile();
  void StartProgressTimer();
  void ReadProgressFile();
  void KillSilentInstallProcess();
  void CleanInstallFiles();

  // Carousel.
  void FetchBannerImages();
  void OnBannerReadyTimer();
  void ShowNextBanner();
  bool ShowBanner(int n, SkinUI::CControlUI* banner);
  void OnBannerDotClick(SkinUI::CControlUI* dot);

  // Finish, start, close.
  void InstallExeFinish();
  void OnStartProduct();

  // Runs fn on the UI thread (at once when called there), in call order.
  void RunOnUiThread(const std::function<void()>& fn);
  SkinUI::CControlUI* Find(const wchar_t* name) const { return m_pm.FindControl(name); }
  template <typename T>
  T* FindAs(const wchar_t* name) const;

  std::wstring m_strDataDir;
  std::wstring m_strInstallDir;
  std::wstring m_strDownloadUrl;
  std::wstring m_strProgressFile;
  std::atomic<int> m_nWindowState{-1};
  SkinUI::CEditUI* m_pEditPath = nullptr;
  SkinUI::CLabelUI* m_pLabelTip = nullptr;
  SkinUI::CCheckBoxUI* m_pChkFold = nullptr;
  SkinUI::CLabelUI* m_pLabelProgress = nullptr;
  SkinUI::CProgressUI* m_pProgress = nullptr;
  CTaskbarProgress* m_pTaskbar = nullptr;
  LanguageManager m_langMgr;
  int m_nDownloadRatio = 90;      // share of the bar the download fills, percent
  int m_nReadFileTimeout = 1500;  // progress-file timer period, ms
  int m_nCurBanner = 0;           // 1-based banner on show; 0 = none yet
  std::atomic<int> m_nBannerCount{-1};  // banners announced by the API; -1 = unknown
  std::atomic<bool> m_bBannerReady{false};
  int m_nLastInstallPercent = 0;  // the bar never moves back during the install
  DWORD m_dwUiThread = 0;
  std::atomic<int64_t> m_nExpectedInstallerSize{0};  // size announced by the server
  std::atomic<int64_t> m_tInstallClicked{0};  // steady-clock seconds of the last Install click
  std::atomic<bool> m_bClosing{false};  // a close is confirmed: workers stop showing anything
  ProgressTexts m_progressTexts;           // set at start-up, read afterwards
  TransferRateEstimator m_rateEstimator;   // download thread only
  std::atomic<bool> m_bByteReports{false};  // this download reports bytes
  std::atomic<int> m_nStatusKind{kStatus_Idle};
};
