// The download driver the window calls: one synchronous call per download
// that runs a task of the registry to its end and reports start, progress
// and result through one callback; plus the housekeeping of the files a
// download leaves (P.tmp data, P.cfg resume meta file).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "DownloadObjManager.h"
#include "engine/validator.h"

// Filled by the caller; lives in its frame for the whole download.
struct DownloadRequest {
  int connections = 8;
  void* context = nullptr;  // handed back as the last argument of every callback
  std::wstring url;
  std::wstring path;        // the target file P
  engine::proxy_settings proxy;  // how every engine connection reaches the server
};

// Callback codes.
enum DownloadCallbackCode {
  kCallback_Started = 0,   // once, before anything else
  kCallback_Bytes = 2,     // value = bytes so far, extra = total; just before each percent
                           // report while the total is known and below 2 GiB
  kCallback_Percent = 3,   // value = whole percent, at each poll that finds the task downloading
  kCallback_Result = 4,    // once at the end: value = result, extra = elapsed seconds
};

// Result codes.
enum DownloadResult {
  kDownload_Success = 0,
  kDownload_Incomplete = -2,
  kDownload_Failed = -4,
  kDownload_Cancelled = -5,
  kDownload_DiskFull = -6,  // a write found the disk full; P.tmp and P.cfg stay for a resume
};

using DownloadCallback = void (*)(int code, int value, int extra, void* context);

// How the last download of the process ended, for the failure report.
struct DownloadEndFacts {
  int64_t downloaded = 0;
  int64_t total = -1;         // -1 while unknown
  std::string errorCategory;  // the engine's error, empty when it gave none
  int errorCode = 0;
  int retries = 0;            // the engine's retries of this download
};
DownloadEndFacts LastDownloadEnd();

class CZVDownload {
 public:
  CZVDownload(const DownloadRequest* request, DownloadCallback callback, void* data);
  CZVDownload(const CZVDownload&) = delete;
  CZVDownload& operator=(const CZVDownload&) = delete;

  // Runs the download to its end on the calling thread; the result code.
  int Download();
  // From any thread while Download runs: stops the task; Download then ends
  // with kDownload_Cancelled, or kDownload_Success when the task completed.
  // False when a cancel had already come in or Download has its result.
  bool Cancel();

 private:
  int Run();
  // Ends a cancelled download: -5, or 0 when the run this call started
  // (handle; null when none) has completed after all.
  int CancelPath(TaskHandle handle);
  // Stops the task a cancel found not yet running, then takes the cancel path.
  int CancelTask(TaskHandle handle);
  // The driver takes its result: later cancels are refused. True when a
  // cancel came in before.
  bool Finish();
  void StopCurrentTask();
  void Report(int code, int value, int extra);
  // Sleeps up to ms; returns early once a cancel came in.
  void Pause(int ms);

  const DownloadRequest* m_request;
  DownloadCallback m_callback;
  void* m_data;
  std::atomic<TaskHandle> m_task{nullptr};
  std::atomic<bool> m_cancelRequested{false};
  // This call launched a run of its task: only then does the task's state
  // speak for this download (an earlier run of the same address may have
  // left it complete).
  std::atomic<bool> m_runStarted{false};
  bool m_finished = false;  // guarded by m_waitLock
  std::mutex m_waitLock;
  std::condition_variable m_wake;
};

// Runs one download; one at a time in the process: a call while another
// winds down waits for it up to a few seconds, then reports kDownload_Failed.
// True exactly for kDownload_Success.
bool StartHttpDownload(const DownloadRequest* request, DownloadCallback callback, void* data);
// How long StartHttpDownload waits for a download that still runs (about
// 25 s; a negative value restores that). Returns the previous bound.
int SetPreviousDownloadWait(int ms);
// Cancels the download StartHttpDownload runs; true when one was running
// and had not been cancelled yet.
bool CancelHttpDownload();

// Deletes the leftovers of fileName when its meta file belongs to another
// address or size, or to another build of the file: `served` is the
// validator of the size query's answer (Last-Modified or a strong ETag);
// when the server gives none, the size alone decides. True when it deleted
// them. Files of a task that is running are never touched.
bool JudgeDeleteHistoryFile(const std::wstring& url, int64_t totalBytes,
                            const std::wstring& fileName,
                            const engine::resource_validator& served = {});
// Bytes of a file of totalBytes that the leftovers of fileName already hold
// (whole pieces marked complete in its meta file); 0 when there are none or
// they belong to another size.
int64_t KeptDownloadBytes(const std::wstring& fileName, int64_t totalBytes);
// Deletes fileName + ".tmp", then fileName + ".cfg"; true when neither is left.
bool RemoveTemporaryFileWrap(const std::wstring& fileName);
// The address and file size recorded in a meta file (and its validator, when
// asked and recorded). An empty meta file gives true and leaves all unchanged.
bool ReadMetaInfo(int64_t& size, std::string& finalUrl, const std::wstring& metaPath,
                  engine::resource_validator* validator = nullptr);
