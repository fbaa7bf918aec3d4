#include "http/WininetHttp.h"

#include <windows.h>
#include <wininet.h>

#include "system/Strings.h"
#include "system/SystemUtils.h"

CWininetHttp::CWininetHttp() { StoreTimeouts(30000, 30000, 30000); }

CWininetHttp::~CWininetHttp() { CloseHandles(); }

void CWininetHttp::CloseHandles() {
  for (void** handle : {&m_hRequest, &m_hConnect, &m_hInternet}) {
    if (*handle) InternetCloseHandle(*handle);
    *handle = nullptr;
  }
}

bool CWininetHttp::DownloadFile(const std::wstring& url, const std::wstring& filePath) {
  return DoDownloadFile(url, filePath, true);
}

// On the root handle and again on the request: not every WinINet passes
// them down to the handles it derives.
void CWininetHttp::ApplyTimeouts(void* handle) {
  for (auto option : {std::make_pair(INTERNET_OPTION_CONNECT_TIMEOUT, m_nConnectTimeout),
                      std::make_pair(INTERNET_OPTION_SEND_TIMEOUT, m_nSendTimeout),
                      std::make_pair(INTERNET_OPTION_RECEIVE_TIMEOUT, m_nReceiveTimeout)}) {
    DWORD ms = static_cast<DWORD>(option.second);
    InternetSetOptionW(handle, option.first, &ms, sizeof ms);
  }
}

void CWininetHttp::SendOnce(const HttpUrl& url, bool post, const std::string& body,
                            const std::wstring& extraHeaders) {
  CloseHandles();
  m_hInternet = InternetOpenW(L"Http-connect", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!m_hInternet) {
    NoteSystemError();
    throw kHttpErr_Open;
  }
  ApplyTimeouts(m_hInternet);
  m_bSecure = url.secure;
  m_hConnect = InternetConnectW(m_hInternet, Utf8ToWide(url.host).c_str(), url.port, nullptr, nullptr,
                                INTERNET_SERVICE_HTTP, 0, 0);
  if (!m_hConnect) {
    NoteSystemError();
    throw kHttpErr_Connect;
  }
  // Fresh from the server, nothing cached or remembered, no dialogs, and
  // redirects left to the shared flow. Certificate checks stay as the system has them.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT |
                (m_bSecure ? INTERNET_FLAG_SECURE : 0);
  m_hRequest = HttpOpenRequestW(m_hConnect, post ? L"POST" : L"GET", Utf8ToWide(url.target).c_str(), L"HTTP/1.1",
                                nullptr, nullptr, flags, 0);
  if (!m_hRequest) {
    NoteSystemError();
    throw kHttpErr_Open;
  }
  ApplyTimeouts(m_hRequest);
  std::wstring lines = Utf8ToWide(m_header.BuildHeaderLines());
  HttpAddRequestHeadersW(m_hRequest, lines.c_str(), static_cast<DWORD>(-1),
                         HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  BOOL sent = HttpSendRequestW(m_hRequest, extraHeaders.empty() ? nullptr : extraHeaders.c_str(),
                               extraHeaders.empty() ? 0 : static_cast<DWORD>(-1),
                               body.empty() ? nullptr : const_cast<char*>(body.data()),
                               static_cast<DWORD>(body.size()));
  if (!sent) {
    NoteSystemError();
    throw kHttpErr_Send;
  }
}

int CWininetHttp::QueryStatus() {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(m_hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return 0;
  return static_cast<int>(status);
}

bool CWininetHttp::QueryHeader(bool location, std::string& value) {
  DWORD query = location ? HTTP_QUERY_LOCATION : HTTP_QUERY_CONTENT_LENGTH;
  DWORD size = 0;
  HttpQueryInfoW(m_hRequest, query, nullptr, &size, nullptr);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > kHttpMaxHeaderBlock * 2) return false;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  if (!HttpQueryInfoW(m_hRequest, query, &text[0], &size, nullptr)) return false;
  text.resize(size / sizeof(wchar_t));
  value = WideToUtf8(text);
  return true;
}

bool CWininetHttp::ReadSome(char* buffer, unsigned long size, unsigned long& got) {
  DWORD read = 0;
  if (!InternetReadFile(m_hRequest, buffer, size, &read)) return false;
  got = read;
  return true;
}
