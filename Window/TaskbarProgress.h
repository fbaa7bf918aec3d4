// The taskbar button's progress display (ITaskbarList3). Every operation is a
// no-op when the platform object cannot be created.
#pragma once

#include <windows.h>

struct ITaskbarList3;

class CTaskbarProgress {
 public:
  enum State { kNoProgress = 0, kIndeterminate = 1, kNormal = 2, kError = 4, kPaused = 8 };

  CTaskbarProgress();  // initialises COM on the calling (UI) thread
  ~CTaskbarProgress();
  CTaskbarProgress(const CTaskbarProgress&) = delete;
  CTaskbarProgress& operator=(const CTaskbarProgress&) = delete;

  void Attach(HWND hwnd);
  void SetState(int flags);
  void SetValue(ULONGLONG done, ULONGLONG total);

 private:
  bool CreateObject(DWORD context);

  ITaskbarList3* m_pTaskbar = nullptr;
  HWND m_hWnd = nullptr;
};
