#include "http/SystemHttp.h"

#include <windows.h>

#include <cctype>

#include "system/FileOps.h"
#include "system/Strings.h"

void CSystemHttpClient::NoteSystemError() { m_dwSystemError = GetLastError(); }

void CSystemHttpClient::StoreTimeouts(int connectMs, int sendMs, int receiveMs) {
  m_nConnectTimeout = connectMs;
  m_nSendTimeout = sendMs;
  m_nReceiveTimeout = receiveMs;
}

void CSystemHttpClient::DoAddHeader(const char* name, const char* value) {
  if (name && value && *name && *value) m_header.AddHeader(name, value);
}

void CSystemHttpClient::Exchange(const std::wstring& wideUrl, bool post, const std::string& body,
                                 const std::wstring& extraHeaders, BodySink& sink) {
  HttpUrl url;
  if (!ParseHttpUrl(WideToUtf8(wideUrl), url)) throw kHttpErr_BadUrl;
  std::string sendBody = body;
  for (int redirects = 0;; ++redirects) {
    SendOnce(url, post, sendBody, extraHeaders);
    m_nHttpCode = QueryStatus();
    if (IsRedirectStatus(m_nHttpCode)) {
      std::string location;
      HttpUrl next;
      if (redirects >= kHttpMaxRedirects || !QueryHeader(true, location) ||
          !NextRedirectUrl(url, location, next))
        throw kHttpErr_Redirect;
      // 303, and 301/302 after a POST, continue as GET without the body.
      if (m_nHttpCode == 303 || (post && (m_nHttpCode == 301 || m_nHttpCode == 302))) {
        post = false;
        sendBody.clear();
      }
      url = next;
      continue;
    }
    if (m_nHttpCode < 200 || m_nHttpCode > 299) throw kHttpErr_Status;
    break;
  }
  long long total = -1;
  std::string lengthText;
  if (QueryHeader(false, lengthText) && !ParseContentLength(lengthText, total)) throw kHttpErr_Protocol;
  sink.Begin(m_nHttpCode == 204 ? 0 : total);
  char block[16384];
  for (;;) {
    unsigned long got = 0;
    if (!ReadSome(block, sizeof block, got)) {
      NoteSystemError();
      throw kHttpErr_Read;
    }
    if (got == 0) break;
    sink.Write(block, got);
  }
  sink.End();
}

bool CSystemHttpClient::DoDownloadFile(const std::wstring& url, const std::wstring& filePath,
                                       bool createFolders) {
  m_nError = kHttpErr_None;
  m_nHttpCode = 0;
  m_dwSystemError = 0;
  FileSink sink(filePath, m_pCallback, m_nParam);
  try {
    if (url.empty()) throw kHttpErr_NoDownloadUrl;
    if (filePath.empty()) throw kHttpErr_File;
    if (createFolders) {
      std::error_code ec;
      CreateDirectories(ParentPath(filePath), ec);
    }
    Exchange(url, false, std::string(), std::wstring(), sink);
    return true;
  } catch (HttpInterfaceError code) {
    m_nError = code;
    CloseHandles();
    sink.ReportFailed();
    return false;
  }
}

bool CSystemHttpClient::DoDownloadToMemory(const std::wstring& url, void** buffer, size_t* length) {
  m_nError = kHttpErr_None;
  m_nHttpCode = 0;
  m_dwSystemError = 0;
  if (buffer) *buffer = nullptr;
  if (length) *length = 0;
  try {
    if (url.empty()) throw kHttpErr_NoDownloadUrl;
    if (!buffer || !length) throw kHttpErr_Size;
    MemorySink sink(true);
    Exchange(url, false, std::string(), std::wstring(), sink);
    *buffer = sink.Release(*length);
    return true;
  } catch (HttpInterfaceError code) {
    m_nError = code;
    CloseHandles();
    return false;
  }
}

std::string CSystemHttpClient::DoRequest(const std::wstring& url, int isPost, const char* body,
                                         const std::wstring& extraHeaders) {
  m_nError = kHttpErr_None;
  m_nHttpCode = 0;
  m_dwSystemError = 0;
  try {
    if (url.empty()) throw kHttpErr_NoRequestUrl;
    MemorySink sink(true);
    Exchange(url, isPost != 0, body ? std::string(body) : std::string(), extraHeaders, sink);
    return std::move(sink.Data());
  } catch (HttpInterfaceError code) {
    m_nError = code;
    CloseHandles();
    return std::string();
  }
}
