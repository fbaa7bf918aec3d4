// HTTP(S) client on WinINet. Certificates are verified by the system (chain,
// host name and dates); the scheme alone decides TLS; nothing is cached.
#pragma once

#include "http/SystemHttp.h"

class CWininetHttp : public CLibraryHttp<IWininetHttp> {
 public:
  CWininetHttp();

  // Creates the missing folders on the way to `filePath`.
  bool DownloadFile(const std::wstring& url, const std::wstring& filePath) override;
  // Limits for connecting, sending and receiving (ms; 30 s each by default),
  // so that a silent server cannot hold the caller for the library's minutes.
  void SetTimeOut(int connectMs, int sendMs, int receiveMs) { StoreTimeouts(connectMs, sendMs, receiveMs); }

  ~CWininetHttp() override;

 protected:
  void SendOnce(const HttpUrl& url, bool post, const std::string& body, const std::wstring& extraHeaders) override;
  int QueryStatus() override;
  bool QueryHeader(bool location, std::string& value) override;
  bool ReadSome(char* buffer, unsigned long size, unsigned long& got) override;
  void CloseHandles() override;

 private:
  void ApplyTimeouts(void* handle);

  void* m_hInternet = nullptr;
  void* m_hConnect = nullptr;
  void* m_hRequest = nullptr;
};
