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
  // The value of a response header of the open request; empty when absent.
  std::string QueryHeaderText(const wchar_t* name);

 private:
  // HINTERNET handles, kept as plain pointers so this header needs no WinHTTP
  // declarations (they clash with WinINet's).
  void* m_hSession = nullptr;
  void* m_hConnect = nullptr;
  void* m_hRequest = nullptr;
};

// The validator headers of an answer, as sent (empty when absent).
struct HeadValidators {
  std::string etag;
  std::string lastModified;
};

// HEAD query of an address over WinHTTP: the Content-Length of a "200"
// answer, else 0. With `validators`, also its "ETag" and "Last-Modified"
// values; the request itself is the same either way.
int64_t GetFileSizeByHead(const std::wstring& url, HeadValidators* validators = nullptr);
