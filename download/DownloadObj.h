// One download task: its own I/O service and engine, run on a detached
// thread of its own. A task lives for the whole process and may be run again:
// every run resumes from the meta file the previous one left.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/multi_download.h"

enum TaskState {
  kTask_Failed = 1,
  kTask_Incomplete = 2,
  kTask_Downloading = 3,
  kTask_Complete = 4,
  kTask_Starting = 5,
  kTask_Stopping = 6,
  kTask_DiskFull = 7,  // ended short because the disk is full; the files stay for a resume
};

// Opaque, unique and never reused: the address of an allocation made for it.
using TaskHandle = void*;

struct TaskStatus {
  int state = 0;
  std::wstring file;     // P when complete, else the engine's data file
  int64_t total = -1;    // file size, -1 while unknown
  int64_t downloaded = 0;
  float progress = 0.0f; // downloaded / total, 0 while the size is unknown
  int rate = 0;          // bytes per second
  bool running = false;  // the task thread is still at work
  std::error_code error; // why the engine's run ended short; empty otherwise
};

class DownloadObj : public std::enable_shared_from_this<DownloadObj> {
 public:
  DownloadObj(TaskHandle handle, std::string url, std::string key, std::wstring path,
              const engine::download_settings& settings);
  ~DownloadObj();

  TaskHandle handle() const { return m_handle; }
  const std::string& key() const { return m_strKey; }

  // Launches a run on a new detached thread. A run still winding down is
  // waited for (up to waitMs) first; false when it does not end in time or
  // the thread cannot be made.
  bool Start(int waitMs);
  // Stops the run in whatever phase it is: before the engine starts, while
  // its first connection opens, or while it downloads.
  void Stop();
  void Query(TaskStatus& status);
  bool IsRunning();
  bool IsRunningOn(const std::wstring& path);
  // Waits until no run is active; false on time-out.
  bool WaitIdle(int waitMs);

  // One driver at a time may use a task. Claiming also points an idle task
  // at a new target path and connection count.
  bool Claim(const std::wstring& path, int connections);
  void Release();
  // The proxy of the next runs (the install's answer for this address).
  void SetProxy(const engine::proxy_settings& proxy);

 private:
  void Run();
  // One engine run; the state it ends in.
  int RunEngine();
  // Moves P.tmp to P once every byte is there; the state it leads to.
  int FinishComplete(int64_t total);
  void EndRun(int state);

  TaskHandle m_handle;
  std::string m_strUrl;
  std::string m_strKey;
  std::wstring m_strPath;
  engine::download_settings m_settings;
  asio::io_context m_io;
  std::shared_ptr<engine::multi_download> m_engine;

  std::mutex m_runLock;  // held by the task thread for its whole run
  std::mutex m_lock;     // guards m_running, m_claimed, path and settings
  std::condition_variable m_idle;
  bool m_running = false;
  bool m_claimed = false;
  bool m_bRetarget = false;  // a claim named another path or connection count
  std::wstring m_strNextPath;
  int m_nNextConnections = 0;
  std::atomic<int> m_state{kTask_Starting};
  std::atomic<bool> m_stopRequested{false};
};
