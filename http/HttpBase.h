// The in-house family of small synchronous HTTP clients: one interface, one
// factory, one set of error codes. A client serves one thread at a time.
#pragma once

#include <cstddef>
#include <string>

// Codes stored by GetErrorCode(); 0 until an operation fails.
enum HttpInterfaceError {
  kHttpErr_None = 0,
  kHttpErr_Open = 1,            // opening a handle or receiving the response failed
  kHttpErr_Connect = 2,         // connecting to the server failed
  kHttpErr_Send = 3,            // sending the request failed
  kHttpErr_QueryInfo = 4,       // a response header could not be queried
  kHttpErr_Status = 5,          // the final status is not 2xx
  kHttpErr_NoDownloadUrl = 6,   // DownloadFile/DownloadToMemory got no URL
  kHttpErr_File = 7,            // the target file could not be created
  kHttpErr_Read = 8,            // reading the body failed or its length differs
  kHttpErr_Resolve = 9,         // the host name could not be resolved
  kHttpErr_Socket = 10,         // socket creation or receiving failed (or timed out)
  kHttpErr_Cancelled = 11,      // the callback asked to cancel
  kHttpErr_Size = 12,           // the body exceeds the in-memory limit (or is empty, raw socket)
  kHttpErr_NoHeaderEnd = 13,    // the header block is not complete within its limit
  kHttpErr_NoRequestUrl = 14,   // RequestW/RequestA got no URL
  kHttpErr_Write = 15,          // writing to the target file failed
  kHttpErr_Redirect = 16,       // too many redirects, or an unusable Location
  kHttpErr_BadUrl = 17,         // the URL is malformed or its scheme is not supported
  kHttpErr_Protocol = 18,       // the response is malformed (status line, length, chunks)
};

// Limits shared by every client: nothing the server sends can make a client
// hold more than this in memory or loop for ever.
constexpr size_t kHttpMaxBodyInMemory = 8 * 1024 * 1024;  // in-memory bodies
constexpr size_t kHttpMaxHeaderBlock = 64 * 1024;         // status line + headers
constexpr size_t kHttpMaxChunkLine = 1024;                // one chunk-size line
constexpr int kHttpMaxRedirects = 5;

enum HttpState {
  kHttpState_Progress = 0,  // bytes arrived: total announced (0 when unknown), current so far
  kHttpState_Failed = 1,    // the transfer failed
  kHttpState_Finished = 2,  // the transfer is complete
};

class IHttpCallback {
 public:
  virtual void OnDownloadProgress(int param, int state, double total, double current) = 0;
  virtual bool IsCancelled() = 0;

 protected:
  ~IHttpCallback() = default;
};

class IHttpBase {
 public:
  virtual void SetDownloadCallback(IHttpCallback* callback, int param) = 0;
  virtual bool DownloadFile(const std::wstring& url, const std::wstring& filePath) = 0;
  // The buffer is allocated with malloc; the caller frees it with free().
  virtual bool DownloadToMemory(const std::wstring& url, void** buffer, size_t* length) = 0;
  virtual void FreeInstance() = 0;
  virtual HttpInterfaceError GetErrorCode() = 0;
  virtual void AddHeader(const char* name, const char* value) = 0;
  virtual int GetHttpCode() = 0;

 protected:
  ~IHttpBase() = default;
};

class ISocketHttp : public IHttpBase {
 public:
  virtual std::wstring GetIpAddress() = 0;

 protected:
  ~ISocketHttp() = default;
};

class IWininetHttp : public IHttpBase {
 public:
  // GET (isPost 0) or POST of `body`; answers the response body, empty on failure.
  virtual std::string RequestW(const wchar_t* url, int isPost, const char* body,
                               const wchar_t* extraHeaders) = 0;
  virtual std::string RequestA(const char* url, int isPost, const char* body,
                               const char* extraHeaders) = 0;

 protected:
  ~IWininetHttp() = default;
};

class IWinHttp : public IWininetHttp {
 public:
  virtual void SetTimeOut(int connectMs, int sendMs, int receiveMs) = 0;

 protected:
  ~IWinHttp() = default;
};

enum HttpTransport {
  kHttpTransport_Socket = 0,
  kHttpTransport_Wininet = 1,
  kHttpTransport_WinHttp = 2,
};

// Creates a client by transport type (0 raw socket, 1 WinINet, 2 WinHTTP).
// True with *out set when an object was made; release it with FreeInstance().
// The WinINet and WinHTTP clients exist on Windows only.
bool CreateHttpInstance(IHttpBase** out, int type);
