// What the WinINet and WinHTTP clients share: the request flow over a system
// HTTP library (manual redirects, 2xx only, bounded bodies, announced lengths
// checked) written once against a few library primitives.
#pragma once

#include <string>

#include "http/BodySink.h"
#include "http/HttpBase.h"
#include "http/HttpHeader.h"
#include "http/Url.h"
#include "system/SystemUtils.h"

class CSystemHttpClient {
 public:
  virtual ~CSystemHttpClient() = default;

  // The Win32 error of the last failing library call (0 when none), for logs.
  unsigned long GetSystemError() const { return m_dwSystemError; }

 protected:
  // Library primitives; the first two raise HttpInterfaceError codes.
  // Opens handles and sends one request; leaves the response ready.
  virtual void SendOnce(const HttpUrl& url, bool post, const std::string& body,
                        const std::wstring& extraHeaders) = 0;
  virtual int QueryStatus() = 0;
  // A response header as text; false when the response has none.
  virtual bool QueryHeader(bool location, std::string& value) = 0;
  // Bytes of the body; `got` 0 at its end. False when reading failed.
  virtual bool ReadSome(char* buffer, unsigned long size, unsigned long& got) = 0;
  virtual void CloseHandles() = 0;

  bool DoDownloadFile(const std::wstring& url, const std::wstring& filePath, bool createFolders);
  bool DoDownloadToMemory(const std::wstring& url, void** buffer, size_t* length);
  std::string DoRequest(const std::wstring& url, int isPost, const char* body,
                        const std::wstring& extraHeaders);
  void DoAddHeader(const char* name, const char* value);
  void NoteSystemError();
  void StoreTimeouts(int connectMs, int sendMs, int receiveMs);

  int m_nHttpCode = 0;
  CHttpHeader m_header;
  int m_nParam = 0;
  IHttpCallback* m_pCallback = nullptr;
  HttpInterfaceError m_nError = kHttpErr_None;
  unsigned long m_dwSystemError = 0;
  bool m_bSecure = false;
  int m_nConnectTimeout = 5000;
  int m_nSendTimeout = 5000;
  int m_nReceiveTimeout = 5000;

 private:
  // Sends, follows up to kHttpMaxRedirects redirects (never https to http),
  // requires a 2xx answer and hands its body to `sink`. Raises codes.
  void Exchange(const std::wstring& url, bool post, const std::string& body,
                const std::wstring& extraHeaders, BodySink& sink);
};

// The operations both library clients answer alike, on top of their interface.
template <class Interface>
class CLibraryHttp : public Interface, public CSystemHttpClient {
 public:
  void SetDownloadCallback(IHttpCallback* callback, int param) override {
    m_pCallback = callback;
    m_nParam = param;
  }
  bool DownloadToMemory(const std::wstring& url, void** buffer, size_t* length) override {
    return DoDownloadToMemory(url, buffer, length);
  }
  void FreeInstance() override { delete this; }
  HttpInterfaceError GetErrorCode() override { return m_nError; }
  void AddHeader(const char* name, const char* value) override { DoAddHeader(name, value); }
  int GetHttpCode() override { return m_nHttpCode; }
  std::string RequestW(const wchar_t* url, int isPost, const char* body, const wchar_t* extraHeaders) override {
    return DoRequest(url ? url : L"", isPost, body, extraHeaders ? extraHeaders : L"");
  }
  // URL and extra headers in the ANSI code page.
  std::string RequestA(const char* url, int isPost, const char* body, const char* extraHeaders) override {
    return DoRequest(url ? AnsiToUnicode(url) : L"", isPost, body,
                     extraHeaders ? AnsiToUnicode(extraHeaders) : L"");
  }
};
