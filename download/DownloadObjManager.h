// The process-wide registry of download tasks: one task per download
// address, found by a key made from the address.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "DownloadObj.h"
#include "engine/proxy.h"

class DownloadObjManager {
 public:
  // Created on first use, never destroyed.
  static DownloadObjManager& Instance();
  // Null while no task has been created or started.
  static DownloadObjManager* Existing();

  TaskHandle CreateTask(const std::string& url, const std::wstring& path, int connections,
                        int idleTimeout);
  bool StartTask(TaskHandle handle);
  bool QueryTask(TaskHandle handle, TaskStatus& status);
  void StopTask(TaskHandle handle);
  std::shared_ptr<DownloadObj> Find(TaskHandle handle);
  // The task downloading to this target path right now, if any.
  bool IsPathBusy(const std::wstring& path);

 private:
  DownloadObjManager() = default;

  // Copied into every new task; the driver then sets each run's proxy from its request.
  std::string m_strProxyHost, m_strProxyUser, m_strProxyPassword;
  int m_nProxyPort = 0;
  int m_nProxyKind = 0;
  int m_nRateLimit = -1;

  std::mutex m_taskLock;
  std::map<TaskHandle, std::shared_ptr<DownloadObj>> m_tasks;
  std::mutex m_handleLock;
  std::map<std::string, TaskHandle> m_handles;
};

// CRC-32 of the address as lowercase hexadecimal without leading zeros.
std::string TaskKey(const std::string& url);

// The driver's entry points into the registry. Query and stop report
// failure / do nothing while no registry exists.
TaskHandle CreateTask(const std::string& url, const std::wstring& path, int connections,
                      int idleTimeout);
bool StartTask(TaskHandle handle);
bool QueryTask(TaskHandle handle, TaskStatus& status);
void StopTask(TaskHandle handle);
