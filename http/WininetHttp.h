// HTTP(S) client on WinINet. Certificates are verified by the system (chain,
// host name and dates); the scheme alone decides TLS; nothing is cached.
#pragma once

#include "http/SystemHttp.h"

class CWininetHttp : public IWininetHttp, public CSystemHttpClient {
 public:
  CWininetHttp() = default;

  void SetDownloadCallback(IHttpCallback* callback, int param) override;
  // Creates the missing folders on the way to `filePath`.
  bool DownloadFile(const std::wstring& url, const std::wstring& filePath) override;
  bool DownloadToMemory(const std::wstring& url, void** buffer, size_t* length) override;
  void FreeInstance() override;
  HttpInterfaceError GetErrorCode() override { return m_nError; }
  void AddHeader(const char* name, const char* value) override;
  int GetHttpCode() override { return m_nHttpCode; }
  std::string RequestW(const wchar_t* url, int isPost, const char* body, const wchar_t* extraHeaders) override;
  std::string RequestA(const char* url, int isPost, const char* body, const char* extraHeaders) override;

  // Limits for connecting, sending and receiving (ms; 30 s each by default),
  // so that a silent server cannot hold the caller for the library's minutes.
  void SetTimeOut(int connectMs, int sendMs, int receiveMs);

  ~CWininetHttp() override;

 protected:
  void SendOnce(const HttpUrl& url, bool post, const std::string& body, const std::wstring& extraHeaders) override;
  int QueryStatus() override;
  bool QueryHeader(bool location, std::string& value) override;
  bool ReadSome(char* buffer, unsigned long size, unsigned long& got) override;
  void CloseHandles() override;

 private:
  void ApplyTimeouts(void* handle);
  bool m_bSecure = false;
  void* m_hInternet = nullptr;
  void* m_hConnect = nullptr;
  void* m_hRequest = nullptr;
  int m_nConnectTimeout = 30000;
  int m_nSendTimeout = 30000;
  int m_nReceiveTimeout = 30000;
};
