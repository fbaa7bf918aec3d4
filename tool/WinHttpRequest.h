// The request helper on WinHTTP.
#pragma once

#include "BaseRequest.h"

class CWinHttpRequest : public CBaseRequest {
 public:
  CWinHttpRequest() = default;
  ~CWinHttpRequest() override;

  const char* name() const override { return "WinHttp"; }
  bool GetUrlFileSize(int64_t& size) override;
  int HttpRead(void* buffer, int size) override;
  void Close() override;
  bool OpenSession() override;
  bool ConnectSession(bool secure) override;
  bool OpenRequest(bool secure) override;
  bool SendRequest() override;
  bool QueryContentLength(int64_t& length) override;

 private:
  // HINTERNET handles, kept as plain pointers so this header needs no WinHTTP
  // declarations (they clash with WinINet's).
  void* m_hSession = nullptr;
  void* m_hConnect = nullptr;
  void* m_hRequest = nullptr;
};

// HEAD query of an address over WinHTTP: the Content-Length of a "200"
// answer, else 0.
int64_t GetFileSizeByHead(const std::wstring& url);
