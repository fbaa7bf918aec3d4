// HTTP/1.1 client of its own over a plain TCP connection (no TLS): GET to a
// file with progress and cancellation, or into memory up to 8 MiB.
#pragma once

#include <string>

#include "http/BodySink.h"
#include "http/HttpBase.h"
#include "http/HttpHeader.h"
#include "http/TcpSocket.h"

class CHttpSocket : public ISocketHttp {
 public:
  CHttpSocket() = default;

  void SetDownloadCallback(IHttpCallback* callback, int param) override;
  // Success needs a final 2xx status and the complete body (Content-Length
  // matched, chunked decoded, or up to the close); otherwise the file is removed.
  bool DownloadFile(const std::wstring& url, const std::wstring& filePath) override;
  bool DownloadToMemory(const std::wstring& url, void** buffer, size_t* length) override;
  void FreeInstance() override;
  HttpInterfaceError GetErrorCode() override { return m_nError; }
  void AddHeader(const char* name, const char* value) override;
  int GetHttpCode() override { return m_nHttpCode; }
  std::wstring GetIpAddress() override { return m_strIp; }

  // Connect and per-receive/send limits (10 s each by default).
  void SetTimeouts(int connectMs, int ioMs);

  virtual ~CHttpSocket();

 private:
  // One GET with up to kHttpMaxRedirects redirects; the body goes to `sink`.
  // Raises HttpInterfaceError.
  void Fetch(const std::wstring& url, BodySink& sink, bool checkCancel);

  int m_nHttpCode = 0;
  CTcpSocket m_socket;
  std::wstring m_strIp;
  CHttpHeader m_header;
  int m_nParam = 0;
  IHttpCallback* m_pCallback = nullptr;
  HttpInterfaceError m_nError = kHttpErr_None;
  int m_nConnectTimeout = 10000;
  int m_nIoTimeout = 10000;
};
