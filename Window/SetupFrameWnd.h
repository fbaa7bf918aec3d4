// The installer's one main window: start-up environment, the single running
// instance and, later, the pages and flows of the installation.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

class CSetupFrameWnd {
 public:
  CSetupFrameWnd();
  ~CSetupFrameWnd();

  // Data folder, log, unpacked settings and texts. Runs at most once per
  // process; later calls return at once.
  void InitEnvironment();

  // Creates the window (class "SetupMainFrame"); false when it cannot be made.
  bool Create(HWND parent, const std::wstring& title, DWORD style, DWORD exStyle);
  void CenterWindow();
  // Shows the window and dispatches messages until it is destroyed.
  int ShowModal();
  HWND GetHWND() const { return m_hWnd; }

  // Text shown as the title of every instance's window.
  std::wstring GetWindowTitle() const;

  const std::wstring& GetDataDir() const { return m_strDataDir; }

 private:
  void LoadResZipFile();
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
  std::wstring m_strDataDir;
  int m_nDownloadRatio = 90;      // share of the bar the download fills, percent
  int m_nReadFileTimeout = 1500;  // progress-file timer period, ms
  int m_nCurBanner = 0;           // 1-based banner on show; 0 = none yet
  int m_nBannerCount = -1;        // banners announced by the API; -1 = unknown
  std::atomic<bool> m_bBannerReady{false};
};
