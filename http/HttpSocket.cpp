#include "http/HttpSocket.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "http/BodySink.h"
#include "http/Url.h"
#include "system/Strings.h"

namespace {

constexpr size_t kReceiveBlock = 4096;
constexpr int kMaxInterimResponses = 8;

bool EqualsNoCase(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// chunk-size [; extensions]: hexadecimal, at most 15 digits so it cannot overflow.
bool ParseChunkSize(const std::string& line, long long& value) {
  size_t end = line.find_first_of("; \t");
  std::string digits = line.substr(0, end);
  if (digits.empty() || digits.size() > 15) return false;
  value = 0;
  for (unsigned char c : digits) {
    if (!std::isxdigit(c)) return false;
    value = value * 16 + (std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  return true;
}

// Whether the last transfer coding is "chunked"; false with `framable` false
// when some other coding leaves the body's end unknown.
bool IsChunked(const std::string& transferEncoding, bool& framable) {
  framable = true;
  if (transferEncoding.empty()) return false;
  size_t comma = transferEncoding.rfind(',');
  std::string last = transferEncoding.substr(comma == std::string::npos ? 0 : comma + 1);
  size_t b = last.find_first_not_of(" \t");
  size_t e = last.find_last_not_of(" \t");
  last = b == std::string::npos ? std::string() : last.substr(b, e - b + 1);
  if (EqualsNoCase(last, "chunked")) return true;
  framable = false;
  return false;
}

// Buffered reading of one response from the socket; every limit raises a code.
class ResponseReader {
 public:
  ResponseReader(CTcpSocket& socket, IHttpCallback* cancel) : m_socket(socket), m_cancel(cancel) {}

  // The header block without its blank line.
  std::string ReadHeaderBlock() {
    size_t searchFrom = 0;
    for (;;) {
      size_t end = m_buffer.find("\r\n\r\n", searchFrom);
      if (end != std::string::npos) {
        if (end > kHttpMaxHeaderBlock) throw kHttpErr_NoHeaderEnd;
        std::string block = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 4);
        return block;
      }
      if (m_buffer.size() > kHttpMaxHeaderBlock) throw kHttpErr_NoHeaderEnd;
      searchFrom = m_buffer.size() > 3 ? m_buffer.size() - 3 : 0;
      if (!Fill()) throw kHttpErr_NoHeaderEnd;
    }
  }

  // One line (without CR LF) of at most `limit` bytes.
  std::string ReadLine(size_t limit) {
    size_t searchFrom = 0;
    for (;;) {
      size_t end = m_buffer.find("\r\n", searchFrom);
      if (end != std::string::npos) {
        if (end > limit) throw kHttpErr_Protocol;
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 2);
        return line;
      }
      if (m_buffer.size() > limit) throw kHttpErr_Protocol;
      searchFrom = m_buffer.empty() ? 0 : m_buffer.size() - 1;
      if (!Fill()) throw kHttpErr_Read;
    }
  }

  // The CR LF that ends a chunk's data.
  void ExpectLineEnd() {
    while (m_buffer.size() < 2)
      if (!Fill()) throw kHttpErr_Read;
    if (m_buffer.compare(0, 2, "\r\n") != 0) throw kHttpErr_Protocol;
    m_buffer.erase(0, 2);
  }

  // Hands exactly `count` bytes (or, with count < 0, everything up to the
  // close) to `deliver`, never holding more than one block beyond the buffer.
  template <typename Deliver>
  void ReadBody(long long count, Deliver deliver) {
    bool untilClose = count < 0;
    long long left = count;
    for (;;) {
      if (!m_buffer.empty() && (untilClose || left > 0)) {
        size_t take = untilClose || static_cast<unsigned long long>(left) >= m_buffer.size()
                          ? m_buffer.size()
                          : static_cast<size_t>(left);
        deliver(m_buffer.data(), take);
        m_buffer.erase(0, take);
        if (!untilClose) left -= static_cast<long long>(take);
      }
      if (!untilClose && left == 0) return;
      if (!Fill()) {
        if (untilClose) return;
        throw kHttpErr_Read;  // closed before the announced length
      }
    }
  }

 private:
  bool Fill() {
    if (m_cancel && m_cancel->IsCancelled()) throw kHttpErr_Cancelled;
    char block[kReceiveBlock];
    long n = m_socket.Receive(block, sizeof block);
    if (n < 0) throw kHttpErr_Socket;
    if (n == 0) return false;
    m_buffer.append(block, static_cast<size_t>(n));
    return true;
  }

  CTcpSocket& m_socket;
  IHttpCallback* m_cancel;
  std::string m_buffer;
};

}  // namespace

CHttpSocket::~CHttpSocket() { m_socket.Close(); }

void CHttpSocket::SetDownloadCallback(IHttpCallback* callback, int param) {
  m_pCallback = callback;
  m_nParam = param;
}

void CHttpSocket::FreeInstance() { delete this; }

void CHttpSocket::AddHeader(const char* name, const char* value) {
  if (name && value && *name && *value) m_header.AddHeader(name, value);
}

void CHttpSocket::SetTimeouts(int connectMs, int ioMs) {
  m_nConnectTimeout = connectMs > 0 ? connectMs : 10000;
  m_nIoTimeout = ioMs > 0 ? ioMs : 10000;
}

void CHttpSocket::Fetch(const std::wstring& wideUrl, BodySink& sink, bool checkCancel) {
  HttpUrl url;
  if (!ParseHttpUrl(WideToUtf8(wideUrl), url)) throw kHttpErr_BadUrl;
  if (url.secure) throw kHttpErr_BadUrl;  // this client speaks plain HTTP only
  for (int redirects = 0;; ++redirects) {
    std::string ip;
    HttpInterfaceError connected = m_socket.Connect(url.host, url.port, m_nConnectTimeout, m_nIoTimeout, ip);
    m_strIp = Utf8ToWide(ip);
    if (connected != kHttpErr_None) throw connected;
    m_header.SetHeader("Host", url.Authority());
    m_header.SetPath(url.target);
    std::string request = m_header.BuildGetRequest();
    if (!m_socket.SendAll(request.data(), request.size())) throw kHttpErr_Send;

    ResponseReader reader(m_socket, checkCancel ? m_pCallback : nullptr);
    CHttpHeader response;
    for (int interim = 0;; ++interim) {
      if (!response.ParseResponse(reader.ReadHeaderBlock())) throw kHttpErr_Protocol;
      if (response.StatusCode() >= 200) break;
      if (interim == kMaxInterimResponses) throw kHttpErr_Protocol;
    }
    m_nHttpCode = response.StatusCode();
    int status = m_nHttpCode;
    if (IsRedirectStatus(status)) {
      HttpUrl next;
      if (redirects >= kHttpMaxRedirects || !NextRedirectUrl(url, response.GetHeader("Location"), next) ||
          next.secure)
        throw kHttpErr_Redirect;
      url = next;
      continue;
    }
    if (status < 200 || status > 299) throw kHttpErr_Status;

    bool framable = true;
    bool chunked = IsChunked(response.GetHeader("Transfer-Encoding"), framable);
    if (!framable) throw kHttpErr_Protocol;
    auto deliver = [&sink](const char* data, size_t size) { sink.Write(data, size); };
    if (status == 204) {
      sink.Begin(0);
    } else if (chunked) {
      sink.Begin(-1);
      for (;;) {
        long long size = 0;
        if (!ParseChunkSize(reader.ReadLine(kHttpMaxChunkLine), size)) throw kHttpErr_Protocol;
        if (size == 0) break;
        reader.ReadBody(size, deliver);
        reader.ExpectLineEnd();
      }
      size_t trailer = 0;
      for (;;) {
        std::string line = reader.ReadLine(kHttpMaxHeaderBlock);
        if (line.empty()) break;
        trailer += line.size() + 2;
        if (trailer > kHttpMaxHeaderBlock) throw kHttpErr_Protocol;
      }
    } else if (response.HasHeader("Content-Length")) {
      long long length = 0;
      if (!ParseContentLength(response.GetHeader("Content-Length"), length)) throw kHttpErr_Protocol;
      sink.Begin(length);
      reader.ReadBody(length, deliver);
    } else {
      sink.Begin(-1);
      reader.ReadBody(-1, deliver);
    }
    sink.End();
    return;
  }
}

bool CHttpSocket::DownloadFile(const std::wstring& url, const std::wstring& filePath) {
  m_nError = kHttpErr_None;
  m_nHttpCode = 0;
  FileSink sink(filePath, m_pCallback, m_nParam);
  try {
    if (filePath.empty()) throw kHttpErr_File;
    Fetch(url, sink, true);
    return true;
  } catch (HttpInterfaceError code) {
    m_nError = code;
    m_socket.Close();
    sink.ReportFailed();
    return false;
  }
}

bool CHttpSocket::DownloadToMemory(const std::wstring& url, void** buffer, size_t* length) {
  m_nError = kHttpErr_None;
  m_nHttpCode = 0;
  if (buffer) *buffer = nullptr;
  if (length) *length = 0;
  try {
    if (!buffer || !length) throw kHttpErr_Size;
    MemorySink sink(false);
    Fetch(url, sink, false);
    *buffer = sink.Release(*length);
    return true;
  } catch (HttpInterfaceError code) {
    m_nError = code;
    m_socket.Close();
    return false;
  }
}
