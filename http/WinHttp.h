// HTTP(S) client on WinHTTP. Certificates are verified by the system (chain
// and host name); the scheme alone decides TLS.
#pragma once

#include "http/SystemHttp.h"

class CWinHttp : public IWinHttp, public CSystemHttpClient {
 public:
  CWinHttp() = default;

  void SetDownloadCallback(IHttpCallback* callback, int param) override;
  bool DownloadFile(const std::wstring& url, const std::wstring& filePath) override;
  bool DownloadToMemory(const std::wstring& url, void** buffer, size_t* length) override;
  void FreeInstance() override;
  HttpInterfaceError GetErrorCode() override { return m_nError; }
  void AddHeader(const char* name, const char* value) override;
  int GetHttpCode() override { return m_nHttpCode; }
  std::string RequestW(const wchar_t* url, int isPost, const char* body, const wchar_t* extraHeaders) override;
  // URL and extra headers in the ANSI code page.
  std::string RequestA(const char* url, int isPost, const char* body, const char* extraHeaders) override;
  // Limits for connecting, sending and each receive (ms); apply from the next request.
  void SetTimeOut(int connectMs, int sendMs, int receiveMs) override;

  ~CWinHttp() override;

 protected:
  void SendOnce(const HttpUrl& url, bool post, const std::string& body, const std::wstring& extraHeaders) override;
  int QueryStatus() override;
  bool QueryHeader(bool location, std::string& value) override;
  bool ReadSome(char* buffer, unsigned long size, unsigned long& got) override;
  void CloseHandles() override;

 private:
  bool m_bSecure = false;
  void* m_hSession = nullptr;
  void* m_hConnect = nullptr;
  void* m_hRequest = nullptr;
  int m_nConnectTimeout = 5000;
  int m_nSendTimeout = 5000;
  int m_nReceiveTimeout = 5000;
};
