// Where a response body goes, shared by every client: told the announced
// length once the final 2xx status is known, then fed the bytes. Every limit
// and failure raises an HttpInterfaceError.
#pragma once

#include <string>

#include "http/HttpBase.h"
#include "system/StdioFile.h"

class BodySink {
 public:
  virtual ~BodySink() = default;
  virtual void Begin(long long total) = 0;  // total < 0: not announced
  virtual void Write(const char* data, size_t size) = 0;
  // The body is complete: `received` must equal an announced length.
  virtual void End() = 0;

 protected:
  void CheckLength() const {
    if (m_total >= 0 && m_received != m_total) throw kHttpErr_Read;
  }
  long long m_total = -1;
  long long m_received = 0;
};

// In memory, at most kHttpMaxBodyInMemory bytes; `allowEmpty` false makes an
// empty body a kHttpErr_Size failure.
class MemorySink : public BodySink {
 public:
  explicit MemorySink(bool allowEmpty) : m_allowEmpty(allowEmpty) {}
  void Begin(long long total) override;
  void Write(const char* data, size_t size) override;
  void End() override;
  // A malloc'ed copy for the caller (never null on success).
  void* Release(size_t& length);
  std::string& Data() { return m_data; }

 private:
  bool m_allowEmpty;
  std::string m_data;
};

// To a file created anew (at Begin), with progress and finished/failed
// reports. A file begun but not completed is removed when the sink goes away.
class FileSink : public BodySink {
 public:
  FileSink(const std::wstring& path, IHttpCallback* callback, int param);
  ~FileSink() override;
  void Begin(long long total) override;
  void Write(const char* data, size_t size) override;
  void End() override;
  void ReportFailed();

 private:
  std::wstring m_path;
  IHttpCallback* m_callback;
  int m_param;
  StdioFile m_file;
  bool m_started = false;
  bool m_complete = false;
};
