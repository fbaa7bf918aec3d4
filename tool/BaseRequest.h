// Small synchronous HTTP(S) requests made around the download: the HEAD size
// query and GET requests whose body goes into memory or into a file.
//
// The scheme of the address alone decides TLS; there is no second attempt
// over plain HTTP. Only a "200" answer counts; certificate errors are never
// ignored; bodies read into memory are capped.
#pragma once

#include <cstdint>
#include <string>

class CBaseRequest {
 public:
  // Largest body ReadToString keeps in memory.
  static constexpr std::size_t kMaxMemoryBody = 8u * 1024u * 1024u;

  CBaseRequest();
  virtual ~CBaseRequest();
  CBaseRequest(const CBaseRequest&) = delete;
  CBaseRequest& operator=(const CBaseRequest&) = delete;

  virtual const char* name() const = 0;
  // Content-Length of the open response; false when it is missing or no number.
  virtual bool GetUrlFileSize(int64_t& size) = 0;
  // One read of the open response's body: the byte count (0 at its end), or -1.
  virtual int HttpRead(void* buffer, int size) = 0;
  virtual void Close() = 0;
  virtual bool OpenSession() = 0;
  virtual bool ConnectSession(bool secure) = 0;
  virtual bool OpenRequest(bool secure) = 0;
  // Sends the request and receives the response head; true only for status 200.
  virtual bool SendRequest() = 0;
  // Content-Length of the open response without logging its absence.
  virtual bool QueryContentLength(int64_t& length) = 0;

  void SetMethod(const std::wstring& method) { m_strMethod = method; }
  // Parses the address and runs open, connect, open request and send once,
  // over TLS exactly when the scheme is "https".
  bool OpenUrl(const std::wstring& url);

  // The whole body; false on a read error, a body over kMaxMemoryBody or one
  // shorter than its announced length.
  bool ReadToString(std::string& body);
  // The whole body, empty when ReadToString fails.
  std::string ReadToString();
  // The whole body written to a new file at path; on failure the partial file
  // is removed.
  bool ReadToFile(const std::wstring& path);

  // Whether the system reports its connection as going through a proxy.
  static bool IsUseProxyConnect();

 protected:
  std::wstring m_strMethod;
  std::wstring m_strUrl;  // the whole address: it picks the install's proxy road
  std::wstring m_strPath;
  std::wstring m_strHost;
  unsigned short m_nPort = 0;
};

// Logs a failed system call with the message text of its error code, taken
// from module (a module handle, may be null) or else from the system.
void ShowApiError(const char* api, int error, void* module, const char* caller);
