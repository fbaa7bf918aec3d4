#include "DownloadObj.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "EngineProxy.h"
#include "engine/error.h"
#include "log/Log.h"
#include "system/FileOps.h"
#include "system/StdioFile.h"
#include "system/Strings.h"

namespace {

// Replaces `to` by `from`. A plain rename where the platform allows it; an
// existing regular file of the target name is removed first where it does
// not; a copy where the two lie on different volumes.
std::error_code MoveReplacing(const std::wstring& from, const std::wstring& to) {
  std::error_code ec;
  RenameFile(from, to, ec);
  if (!ec) return ec;
  std::error_code probe;
  if (IsRegularFile(to, probe)) {
    std::error_code removed;
    if (RemoveFile(to, removed)) {
      RenameFile(from, to, ec);
      if (!ec) return ec;
    }
  }
  if (ec == std::errc::cross_device_link) {
    if (CopyStdioFile(from, to)) {
      RemoveFile(from, ec);
      ec.clear();
    }
  }
  return ec;
}

// True when the file holds exactly `total` bytes; otherwise the log says what
// it holds, and at which step (`when`).
bool HoldsExactly(const std::wstring& file, int64_t total, const wchar_t* when) {
  std::error_code ec;
  uintmax_t size = FileSize(file, ec);
  if (!ec && size == static_cast<uintmax_t>(total)) return true;
  LOGW(kLog_Info, L"DownloadObj: %ls holds %lld bytes %ls, %lld announced", file.c_str(),
       ec ? -1LL : static_cast<long long>(size), when, static_cast<long long>(total));
  return false;
}

}  // namespace

DownloadObj::DownloadObj(TaskHandle handle, std::string url, std::string key, std::wstring path,
                         const engine::download_settings& settings)
    : m_handle(handle),
      m_strUrl(std::move(url)),
      m_strKey(std::move(key)),
      m_strPath(std::move(path)),
      m_settings(settings),
      m_engine(std::make_shared<engine::multi_download>(m_io)) {}

DownloadObj::~DownloadObj() = default;

bool DownloadObj::Claim(const std::wstring& path, int connections) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_claimed) return false;
  m_claimed = true;
  if (path != m_strPath || connections != m_settings.max_connections) {
    // The address is the same, the target is not: later runs write there.
    m_strNextPath = path;
    m_nNextConnections = connections;
    m_bRetarget = true;
  }
  return true;
}

void DownloadObj::SetProxy(const engine::proxy_settings& proxy) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_settings.proxy = proxy;
}

void DownloadObj::Release() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_claimed = false;
}

bool DownloadObj::Start(int waitMs) {
  std::unique_lock<std::mutex> lock(m_lock);
  if (!m_idle.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !m_running; })) {
    LOGA(kLog_Info, "DownloadObj::Start: the previous run of task %s did not end in time",
         m_strKey.c_str());
    return false;
  }
  if (m_bRetarget) {
    m_strPath = m_strNextPath;
    m_settings.max_connections = m_nNextConnections;
    m_settings.data_path = m_strPath + L".tmp";
    m_settings.meta_path = m_strPath + L".cfg";
    m_bRetarget = false;
  }
  m_running = true;
  m_stopRequested = false;
  m_state = kTask_Starting;
  lock.unlock();
  try {
    std::thread([self = shared_from_this()] { self->Run(); }).detach();
  } catch (const std::exception& e) {
    LOGA(kLog_Info, "DownloadObj::Start: no thread for task %s: %s", m_strKey.c_str(), e.what());
    EndRun(kTask_Failed);
    return false;
  }
  return true;
}

void DownloadObj::Stop() {
  std::unique_lock<std::mutex> lock(m_lock);
  if (!m_running) return;
  m_stopRequested = true;
  lock.unlock();
  int expected = kTask_Downloading;
  if (!m_state.compare_exchange_strong(expected, kTask_Stopping)) {
    expected = kTask_Starting;
    m_state.compare_exchange_strong(expected, kTask_Stopping);
  }
  // The engine hands the closing of its connections to its own thread, so
  // this is safe in every phase of the run.
  m_engine->stop();
}

bool DownloadObj::IsRunning() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_running;
}

bool DownloadObj::IsRunningOn(const std::wstring& path) {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_running && m_strPath == path;
}

bool DownloadObj::WaitIdle(int waitMs) {
  std::unique_lock<std::mutex> lock(m_lock);
  return m_idle.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !m_running; });
}

void DownloadObj::Query(TaskStatus& status) {
  status.state = m_state.load();
  status.total = m_engine->total_size();
  status.downloaded = m_engine->bytes_downloaded();
  status.progress = status.total > 0
                        ? static_cast<float>(status.downloaded) / static_cast<float>(status.total)
                        : 0.0f;
  status.rate = m_engine->download_rate();
  status.error = m_engine->error();
  std::lock_guard<std::mutex> guard(m_lock);
  status.file = status.state == kTask_Complete ? m_strPath : m_strPath + L".tmp";
  status.running = m_running;
}

void DownloadObj::EndRun(int state) {
  m_state = state;
  std::lock_guard<std::mutex> guard(m_lock);
  m_running = false;
  m_idle.notify_all();
}

void DownloadObj::Run() {
  std::lock_guard<std::mutex> run(m_runLock);
  int state = kTask_Failed;
  try {
    // Handlers left over from an earlier run belong to its engine run; let
    // them finish before the service is used again.
    for (int i = 0; i < m_settings.max_connections; ++i) {
      try {
        if (m_io.poll_one() == 0) break;
      } catch (...) {
      }
    }
    m_io.restart();
    state = RunEngine();
  } catch (const std::exception& e) {
    LOGA(kLog_Info, "DownloadObj::Run: task %s ended by %s", m_strKey.c_str(), e.what());
    state = m_stopRequested ? kTask_Incomplete : kTask_Failed;
  } catch (...) {
    state = m_stopRequested ? kTask_Incomplete : kTask_Failed;
  }
  EndRun(state);
}

int DownloadObj::RunEngine() {
  engine::download_settings settings;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    settings = m_settings;
  }
  // A run that found the server's file changed has dropped everything it
  // had; the next one starts from nothing. A file that keeps changing while
  // it is fetched ends the download incomplete after a few attempts.
  constexpr int kMaxStartsOver = 3;
  for (int startsOver = 0;; ++startsOver) {
    if (m_stopRequested) return kTask_Incomplete;
    try {
      m_engine->start(m_strUrl, settings);
      int expected = kTask_Starting;
      if (!m_state.compare_exchange_strong(expected, kTask_Downloading) || m_stopRequested) {
        m_engine->stop();  // the stop came while the first connection opened
      }
      m_io.run();
    } catch (const std::exception& e) {
      LOGA(kLog_Info, "DownloadObj::Run: task %s failed: %s", m_strKey.c_str(), e.what());
      if (auto* failure = dynamic_cast<const std::system_error*>(&e))
        NoteEngineProxyError(failure->code(), settings.proxy);
      m_io.stop();
      m_io.restart();
      m_engine->stop();
      m_engine->release_files();
      if (m_stopRequested) return kTask_Incomplete;
      auto* system = dynamic_cast<const std::system_error*>(&e);
      return system && engine::is_disk_full(system->code()) ? kTask_DiskFull : kTask_Failed;
    }
    m_engine->release_files();
    if (!engine::is_http_error(m_engine->error(), engine::kErr_FileChanged) || startsOver == kMaxStartsOver)
      break;
    int expected = kTask_Downloading;
    if (m_stopRequested || !m_state.compare_exchange_strong(expected, kTask_Starting)) break;
    LOGA(kLog_Info, "DownloadObj::Run: task %s starts over: the file on the server has changed",
         m_strKey.c_str());
    m_io.restart();
  }

  // Every byte counted is every byte on disk: that is complete, also when a
  // stop ended the run after the last byte arrived but before the engine
  // called it complete. The rename checks the file's size.
  int64_t total = m_engine->total_size();
  int64_t downloaded = m_engine->bytes_downloaded();
  if (total >= 0 && downloaded == total) return FinishComplete(total);
  // A run that ends short (every connection gave up, or stopped) keeps its
  // files: a later run resumes from them.
  std::error_code error = m_engine->error();
  NoteEngineProxyError(error, settings.proxy);
  LOGA(kLog_Info, "DownloadObj::Run: task %s ended after %lld of %lld bytes%s%s",
       m_strKey.c_str(), static_cast<long long>(downloaded), static_cast<long long>(total),
       error ? ": " : (m_stopRequested ? ", stopped" : ""), error ? error.message().c_str() : "");
  return engine::is_disk_full(error) ? kTask_DiskFull : kTask_Incomplete;
}

int DownloadObj::FinishComplete(int64_t total) {
  std::wstring path;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    path = m_strPath;
  }
  const std::wstring target = path, data = path + L".tmp", meta = path + L".cfg";
  if (!HoldsExactly(data, total, L"before the rename")) return kTask_Failed;
  std::error_code ec = MoveReplacing(data, target);
  if (ec) {
    // The finished data stays in P.tmp with its meta file: a retry finds it
    // complete and only renames.
    LOGW(kLog_Info, L"DownloadObj: rename to %ls failed: %ls", target.c_str(),
         Utf8ToWide(ec.message()).c_str());
    return kTask_Failed;
  }
  if (!HoldsExactly(target, total, L"after the rename")) {
    std::error_code back;
    RenameFile(target, data, back);
    return kTask_Failed;
  }
  RemoveFile(meta, ec);
  if (ec) {
    LOGW(kLog_Info, L"DownloadObj: %ls not deleted: %ls", meta.c_str(),
         Utf8ToWide(ec.message()).c_str());
  }
  return kTask_Complete;
}
