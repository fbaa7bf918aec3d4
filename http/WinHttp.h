// HTTP(S) client on WinHTTP. Certificates are verified by the system (chain
// and host name); the scheme alone decides TLS. Time-outs 5 s each by default.
#pragma once

#include "http/SystemHttp.h"

class CWinHttp : public CLibraryHttp<IWinHttp> {
 public:
  CWinHttp() = default;

  bool DownloadFile(const std::wstring& url, const std::wstring& filePath) override;
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
  void* m_hSession = nullptr;
  void* m_hConnect = nullptr;
  void* m_hRequest = nullptr;
};
