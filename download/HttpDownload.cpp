#include "HttpDownload.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>

#include "engine/storage.h"
#include "log/Log.h"
#include "system/FileOps.h"
#include "system/Strings.h"
#include "system/SystemUtils.h"


namespace {

constexpr int kPollMs = 800;
constexpr int kCancelSettleMs = 500;
constexpr int kIdleTimeoutSeconds = 20;
// How long a cancelled run may take to wind down before the result is given.
constexpr int kCancelWaitMs = 20000;
// How long a new download waits for a cancelled one to wind down.
constexpr int kPreviousRunWaitMs = kCancelSettleMs + kCancelWaitMs + 5000;
std::atomic<int> g_previousRunWaitMs{kPreviousRunWaitMs};

// The download StartHttpDownload runs; guarded so that a cancel never
// reaches an object that is gone.
std::mutex g_currentLock;
CZVDownload* g_current = nullptr;
bool g_downloadRunning = false;  // guarded by g_currentLock
std::condition_variable g_idle;

std::mutex g_lastEndLock;
DownloadEndFacts g_lastEnd;  // guarded by g_lastEndLock

void RememberEnd(const TaskStatus& status) {
  std::lock_guard<std::mutex> guard(g_lastEndLock);
  g_lastEnd = DownloadEndFacts();
  g_lastEnd.downloaded = status.downloaded;
  g_lastEnd.total = status.total;
  if (status.error) {
    g_lastEnd.errorCategory = status.error.category().name();
    g_lastEnd.errorCode = status.error.value();
  }
}

bool Exists(const std::wstring& path) {
  std::error_code ec;
  return FileExists(path, ec) && !ec;
}

}  // namespace

CZVDownload::CZVDownload(const DownloadRequest* request, DownloadCallback callback, void* data)
    : m_request(request), m_callback(callback), m_data(data) {}

void CZVDownload::Report(int code, int value, int extra) {
  if (m_callback && m_request) m_callback(code, value, extra, m_request->context);
}

void CZVDownload::Pause(int ms) {
  std::unique_lock<std::mutex> lock(m_waitLock);
  m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_cancelRequested.load(); });
}

void CZVDownload::StopCurrentTask() {
  TaskHandle task = m_task.load();
  if (!task) return;
  StopTask(task);
  m_task.compare_exchange_strong(task, nullptr);
}

bool CZVDownload::Cancel() {
  {
    std::lock_guard<std::mutex> guard(m_waitLock);
    // Too late once the driver has taken its result.
    if (m_cancelRequested || m_finished) return false;
    m_cancelRequested = true;
  }
  // The task is let go before the poll loop wakes, so that it sees the cancel.
  StopCurrentTask();
  m_wake.notify_all();
  return true;
}

bool CZVDownload::Finish() {
  std::lock_guard<std::mutex> guard(m_waitLock);
  m_finished = true;
  return m_cancelRequested;
}

int CZVDownload::Download() {
  LOGA(kLog_Info, "Download....");
  std::time_t start = std::time(nullptr);
  Report(kCallback_Started, 0, 0);
  int result = Run();
  Finish();
  int elapsed = static_cast<int>(std::time(nullptr) - start);
  LOGA(kLog_Info, "HttpDownload,ret = %d (time = %d \xC3\xEB)", result, elapsed);
  Report(kCallback_Result, result, elapsed);
  return result;
}

int CZVDownload::Run() {
  if (!m_request) {
    LOGA(kLog_Info, "HttpDownload: no request");
    return kDownload_Failed;
  }
  if (m_request->url.empty() || m_request->path.empty()) {
    // An empty path would put the data files in the current folder.
    LOGA(kLog_Info, "HttpDownload: no %s", m_request->url.empty() ? "address" : "target path");
    return kDownload_Failed;
  }
  // The engine percent-escapes the bytes of the address as they come: they
  // are UTF-8, whatever the ANSI code page of the machine.
  std::string url = WideToUtf8(m_request->url);
  std::wstring path = m_request->path;
  if (m_cancelRequested) return CancelPath(nullptr);

  TaskHandle handle = CreateTask(url, path, m_request->connections, kIdleTimeoutSeconds);
  std::shared_ptr<DownloadObj> task = DownloadObjManager::Instance().Find(handle);
  if (!task || !task->Claim(path, m_request->connections)) {
    LOGA(kLog_Info, "HttpDownload: the task of this address is in use by another download.");
    return kDownload_Failed;
  }
  struct ReleaseClaim {
    DownloadObj& task;
    ~ReleaseClaim() { task.Release(); }
  } release{*task};
  task->SetProxy(m_request->proxy);

  m_task = handle;
  if (!m_cancelRequested) {
    if (!StartTask(handle)) {
      if (m_cancelRequested) return CancelTask(handle);
      LOGA(kLog_Info, "HttpDownload: the task could not be started.");
      return kDownload_Failed;
    }
    m_runStarted = true;
  }
  // A cancel that came before the run took off (it may have found no run
  // to stop, or no task at all) is carried over to it.
  if (m_cancelRequested) return CancelTask(handle);

  int result = kDownload_Failed;
  bool ended = false;
  TaskStatus status;
  while (m_task.load()) {
    QueryTask(handle, status);
    Pause(kPollMs);
    if (status.state == kTask_Complete) {
      result = kDownload_Success;
      ended = true;
      break;
    }
    if (status.state == kTask_Downloading) {
      // The bytes too, where both counts fit the callback's arguments: the
      // window shows them with the speed and the time left.
      if (status.total > 0 && status.total <= INT32_MAX && status.downloaded >= 0)
        Report(kCallback_Bytes, static_cast<int>(std::min(status.downloaded, status.total)),
               static_cast<int>(status.total));
      int percent = static_cast<int>(status.progress * 100.0f);
      if (percent < 0) percent = 0;
      if (percent > 100) percent = 100;
      Report(kCallback_Percent, percent, 0);
    } else if (status.state == kTask_Failed) {
      result = kDownload_Failed;
      ended = true;
      break;
    } else if (status.state == kTask_Incomplete) {
      result = kDownload_Incomplete;
      ended = true;
      break;
    } else if (status.state == kTask_DiskFull) {
      result = kDownload_DiskFull;
      ended = true;
      break;
    }
  }
  RememberEnd(status);
  // A cancel that came in after the loop's last query, and was accepted,
  // also takes the cancel path.
  if (Finish() || !ended) return CancelPath(handle);
  return result;
}

int CZVDownload::CancelTask(TaskHandle handle) {
  StopTask(handle);
  m_task = nullptr;
  return CancelPath(handle);
}

int CZVDownload::CancelPath(TaskHandle handle) {
  LOGA(kLog_Info, "HttpDownload engine user maybe cancel.");
  std::this_thread::sleep_for(std::chrono::milliseconds(kCancelSettleMs));
  int result = kDownload_Cancelled;
  TaskHandle cancelled = m_runStarted ? handle : nullptr;
  if (!cancelled) return result;
  // The run may still be writing: its end decides between complete and not.
  std::shared_ptr<DownloadObj> task = DownloadObjManager::Instance().Find(cancelled);
  if (task && !task->WaitIdle(kCancelWaitMs)) {
    LOGA(kLog_Info, "HttpDownload: the cancelled run has not ended yet.");
  }
  TaskStatus status;
  if (QueryTask(cancelled, status) && status.state == kTask_Complete && !status.running) {
    LOGA(kLog_Info, "HttpDownload engine cancel but almost complete.");
    result = kDownload_Success;
  }
  return result;
}

bool StartHttpDownload(const DownloadRequest* request, DownloadCallback callback, void* data) {
  {
    // A cancelled download may still be winding down (its cancel path asks
    // the task once more): a new one waits for it, within bounds.
    std::unique_lock<std::mutex> lock(g_currentLock);
    if (!g_idle.wait_for(lock, std::chrono::milliseconds(g_previousRunWaitMs.load()),
                         [] { return !g_downloadRunning; })) {
      lock.unlock();
      LOGA(kLog_Info, "StartHttpDownload: another download is running.");
      if (callback && request) {
        callback(kCallback_Started, 0, 0, request->context);
        callback(kCallback_Result, kDownload_Failed, 0, request->context);
      }
      return false;
    }
    g_downloadRunning = true;
  }
  CZVDownload job(request, callback, data);
  {
    std::lock_guard<std::mutex> guard(g_currentLock);
    g_current = &job;
  }
  int result = job.Download();
  {
    std::lock_guard<std::mutex> guard(g_currentLock);
    g_current = nullptr;
    g_downloadRunning = false;
  }
  g_idle.notify_all();
  return result == kDownload_Success;
}

DownloadEndFacts LastDownloadEnd() {
  std::lock_guard<std::mutex> guard(g_lastEndLock);
  return g_lastEnd;
}

int SetPreviousDownloadWait(int ms) {
  return g_previousRunWaitMs.exchange(ms < 0 ? kPreviousRunWaitMs : ms);
}

bool CancelHttpDownload() {
  std::lock_guard<std::mutex> guard(g_currentLock);
  if (!g_current) return false;
  return g_current->Cancel();
}

bool ReadMetaInfo(int64_t& size, std::string& finalUrl, const std::wstring& metaPath,
                  engine::resource_validator* validator) {
  std::error_code ec;
  uintmax_t bytes = FileSize(metaPath, ec);
  if (ec) return false;
  if (bytes == 0) return true;
  engine::resume_meta meta;
  std::string why;
  if (!engine::read_resume_meta_file(metaPath, meta, &why)) {
    LOGA(kLog_Info, "ReadMetaInfo: meta file not usable: %s", why.c_str());
    return false;
  }
  size = meta.file_size;
  finalUrl = meta.final_url;
  if (validator) *validator = meta.validator;
  return true;
}

bool RemoveTemporaryFileWrap(const std::wstring& fileName) {
  std::error_code ec;
  const std::wstring data = fileName + L".tmp", meta = fileName + L".cfg";
  if (Exists(data) && !RemoveFile(data, ec)) return false;
  if (!Exists(meta)) return true;
  return RemoveFile(meta, ec) && !ec;
}

bool JudgeDeleteHistoryFile(const std::wstring& url, int64_t totalBytes,
                            const std::wstring& fileName,
                            const engine::resource_validator& served) {
  LOGW(kLog_Info, L"JudgeDeleteHistoryFile strDownloadUrl=%ls, totalBytes=%lld, strFileName=%ls",
       url.c_str(), static_cast<long long>(totalBytes), fileName.c_str());
  DownloadObjManager* manager = DownloadObjManager::Existing();
  if (manager && manager->IsPathBusy(fileName)) {
    LOGA(kLog_Info, "JudgeDeleteHistoryFile: a running download owns these files");
    return false;
  }
  int64_t size = 0;
  std::string storedUrl;
  engine::resource_validator stored;
  if (!ReadMetaInfo(size, storedUrl, fileName + L".cfg", &stored)) return false;
  if (LocaleToUnicode(storedUrl) == url && size == totalBytes) {
    if (served.empty()) {
      LOGA(kLog_Info, "JudgeDeleteHistoryFile: the server sends no validator; the leftovers are judged by size only");
      return false;
    }
    std::string changed = engine::validator_mismatch(stored, served);
    if (changed.empty()) return false;
    LOGA(kLog_Info, "JudgeDeleteHistoryFile: another build of the file: %s", changed.c_str());
  }
  bool removed = RemoveTemporaryFileWrap(fileName);
  LOGA(kLog_Info, "RemoveTemporaryFileWrap result=%d", removed ? 1 : 0);
  return removed;
}

int64_t KeptDownloadBytes(const std::wstring& fileName, int64_t totalBytes) {
  engine::resume_meta meta;
  if (totalBytes <= 0 || !engine::read_resume_meta_file(fileName + L".cfg", meta) ||
      meta.file_size != totalBytes)
    return 0;
  int64_t kept = 0;
  for (int64_t piece = 0; piece < meta.piece_num; ++piece) {
    unsigned char bits = static_cast<unsigned char>(meta.bitfield[static_cast<std::size_t>(piece / 8)]);
    if ((bits >> (7 - piece % 8)) & 1)
      kept += std::min(meta.piece_size, meta.file_size - piece * meta.piece_size);
  }
  return kept;
}
