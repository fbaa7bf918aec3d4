#include "DownloadObjManager.h"

#include <zlib.h>

#include <cstdio>

#include "log/Log.h"

namespace {

// A run that is still winding down when the same task is started again.
constexpr int kStartWaitMs = 30000;

std::atomic<DownloadObjManager*> g_manager{nullptr};
std::mutex g_managerLock;

}  // namespace

std::string TaskKey(const std::string& url) {
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(url.data()), static_cast<uInt>(url.size()));
  char text[16];
  std::snprintf(text, sizeof(text), "%lx", static_cast<unsigned long>(crc & 0xffffffffUL));
  return text;
}

DownloadObjManager& DownloadObjManager::Instance() {
  DownloadObjManager* manager = g_manager.load();
  if (manager) return *manager;
  std::lock_guard<std::mutex> guard(g_managerLock);
  if (!g_manager.load()) g_manager = new DownloadObjManager();
  return *g_manager.load();
}

DownloadObjManager* DownloadObjManager::Existing() { return g_manager.load(); }

TaskHandle DownloadObjManager::CreateTask(const std::string& url, const std::wstring& path,
                                          int connections, int idleTimeout) {
  std::string key = TaskKey(url);
  std::lock_guard<std::mutex> handles(m_handleLock);
  auto found = m_handles.find(key);
  if (found != m_handles.end() && found->second) return found->second;

  TaskHandle handle = new char(0);  // its address is the handle; never freed
  m_handles[key] = handle;

  engine::download_settings settings;
  settings.rate_limit = m_nRateLimit;
  settings.max_connections = connections;
  settings.piece_bytes = -1;
  settings.idle_timeout = idleTimeout;
  settings.pieces_per_request = 8;
  settings.meta_path = path + L".cfg";
  settings.trust_meta_url = false;
  settings.data_path = path + L".tmp";
  // proxy: none (kind 0); storage: the engine's default file storage
  auto task = std::make_shared<DownloadObj>(handle, url, key, path, settings);
  std::lock_guard<std::mutex> tasks(m_taskLock);
  m_tasks[handle] = task;
  return handle;
}

std::shared_ptr<DownloadObj> DownloadObjManager::Find(TaskHandle handle) {
  std::lock_guard<std::mutex> guard(m_taskLock);
  auto found = m_tasks.find(handle);
  return found == m_tasks.end() ? nullptr : found->second;
}

bool DownloadObjManager::StartTask(TaskHandle handle) {
  std::shared_ptr<DownloadObj> task = Find(handle);
  return task && task->Start(kStartWaitMs);
}

bool DownloadObjManager::QueryTask(TaskHandle handle, TaskStatus& status) {
  std::shared_ptr<DownloadObj> task = Find(handle);
  if (!task) return false;
  task->Query(status);
  return true;
}

void DownloadObjManager::StopTask(TaskHandle handle) {
  std::shared_ptr<DownloadObj> task = Find(handle);
  if (task) task->Stop();
}

bool DownloadObjManager::IsPathBusy(const std::wstring& path) {
  std::lock_guard<std::mutex> guard(m_taskLock);
  for (const auto& entry : m_tasks) {
    if (entry.second->IsRunningOn(path)) return true;
  }
  return false;
}

TaskHandle CreateTask(const std::string& url, const std::wstring& path, int connections,
                      int idleTimeout) {
  return DownloadObjManager::Instance().CreateTask(url, path, connections, idleTimeout);
}

bool StartTask(TaskHandle handle) { return DownloadObjManager::Instance().StartTask(handle); }

bool QueryTask(TaskHandle handle, TaskStatus& status) {
  DownloadObjManager* manager = DownloadObjManager::Existing();
  return manager && manager->QueryTask(handle, status);
}

void StopTask(TaskHandle handle) {
  DownloadObjManager* manager = DownloadObjManager::Existing();
  if (manager) manager->StopTask(handle);
}
