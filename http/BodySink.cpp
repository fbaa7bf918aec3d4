#include "http/BodySink.h"

#include <cstdlib>
#include <cstring>

#include "system/FileOps.h"

void MemorySink::Begin(long long total) {
  if (total > static_cast<long long>(kHttpMaxBodyInMemory) || (total == 0 && !m_allowEmpty))
    throw kHttpErr_Size;
  m_total = total;
  if (total > 0) m_data.reserve(static_cast<size_t>(total));
}

void MemorySink::Write(const char* data, size_t size) {
  if (m_data.size() + size > kHttpMaxBodyInMemory) throw kHttpErr_Size;
  if (m_total >= 0 && m_received + static_cast<long long>(size) > m_total) throw kHttpErr_Read;
  m_data.append(data, size);
  m_received += static_cast<long long>(size);
}

void MemorySink::End() {
  CheckLength();
  if (m_data.empty() && !m_allowEmpty) throw kHttpErr_Size;
}

void* MemorySink::Release(size_t& length) {
  void* block = std::malloc(m_data.empty() ? 1 : m_data.size());
  if (!block) throw kHttpErr_Size;
  if (!m_data.empty()) std::memcpy(block, m_data.data(), m_data.size());
  length = m_data.size();
  return block;
}

FileSink::FileSink(const std::wstring& path, IHttpCallback* callback, int param)
    : m_path(path), m_callback(callback), m_param(param) {}

FileSink::~FileSink() {
  m_file.reset();
  // A partial body never stays behind; a file this call did not start writing is not touched.
  if (m_started && !m_complete) {
    std::error_code ec;
    RemoveFile(m_path, ec);
  }
}

void FileSink::Begin(long long total) {
  m_total = total;
  m_started = true;
  m_file = OpenStdioFile(m_path, "wb");
  if (!m_file) throw kHttpErr_File;
}

void FileSink::Write(const char* data, size_t size) {
  if (m_total >= 0 && m_received + static_cast<long long>(size) > m_total) throw kHttpErr_Read;
  if (!m_file || std::fwrite(data, 1, size, m_file.get()) != size) throw kHttpErr_Write;
  m_received += static_cast<long long>(size);
  if (m_callback)
    m_callback->OnDownloadProgress(m_param, kHttpState_Progress, m_total > 0 ? static_cast<double>(m_total) : 0.0,
                                   static_cast<double>(m_received));
}

void FileSink::End() {
  CheckLength();
  if (!m_file || std::fclose(m_file.release()) != 0) throw kHttpErr_Write;
  m_complete = true;
  if (m_callback)
    m_callback->OnDownloadProgress(m_param, kHttpState_Finished,
                                   static_cast<double>(m_total > 0 ? m_total : m_received),
                                   static_cast<double>(m_received));
}

void FileSink::ReportFailed() {
  if (m_callback) m_callback->OnDownloadProgress(m_param, kHttpState_Failed, 0, 0);
}
