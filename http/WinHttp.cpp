#include "http/WinHttp.h"

#include <windows.h>
#include <winhttp.h>

#include "system/Strings.h"
#include "system/SystemUtils.h"
#include "tool/SystemProxy.h"

CWinHttp::~CWinHttp() { CloseHandles(); }

void CWinHttp::CloseHandles() {
  for (void** handle : {&m_hRequest, &m_hConnect, &m_hSession}) {
    if (*handle) WinHttpCloseHandle(*handle);
    *handle = nullptr;
  }
}

void CWinHttp::SetTimeOut(int connectMs, int sendMs, int receiveMs) {
  StoreTimeouts(connectMs, sendMs, receiveMs);
}

bool CWinHttp::DownloadFile(const std::wstring& url, const std::wstring& filePath) {
  return DoDownloadFile(url, filePath, false);
}

void CWinHttp::SendOnce(const HttpUrl& url, bool post, const std::string& body, const std::wstring& extraHeaders) {
  CloseHandles();
  // The install's proxy road for this address: every request of an install
  // takes the same one.
  const std::wstring address = Utf8ToWide(url.ToString());
  m_hSession = OpenInstallSession(L"Microsoft Internet Explorer", address);
  if (!m_hSession) {
    NoteSystemError();
    throw kHttpErr_Open;
  }
  WinHttpSetTimeouts(m_hSession, 0, m_nConnectTimeout, m_nSendTimeout, m_nReceiveTimeout);
  m_bSecure = url.secure;
  m_hConnect = WinHttpConnect(m_hSession, Utf8ToWide(url.host).c_str(), url.port, 0);
  if (!m_hConnect) {
    NoteSystemError();
    throw kHttpErr_Connect;
  }
  m_hRequest = WinHttpOpenRequest(m_hConnect, post ? L"POST" : L"GET", Utf8ToWide(url.target).c_str(), nullptr,
                                  WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                  m_bSecure ? WINHTTP_FLAG_SECURE : 0);
  if (!m_hRequest) {
    NoteSystemError();
    throw kHttpErr_Open;
  }
  ApplyInstallProxyCredentials(m_hRequest, address);
  // The wait for the response head has a limit of its own, unlimited in some
  // WinHTTP versions unless set: it gets the receive time-out.
  DWORD responseTimeout = static_cast<DWORD>(m_nReceiveTimeout);
  WinHttpSetOption(m_hRequest, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);
  // Redirects are followed by the shared flow, which counts them and refuses https -> http.
  DWORD feature = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(m_hRequest, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
  std::wstring lines = Utf8ToWide(m_header.BuildHeaderLines());
  WinHttpAddRequestHeaders(m_hRequest, lines.c_str(), static_cast<DWORD>(-1),
                           WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  DWORD bodyLength = static_cast<DWORD>(body.size());
  BOOL sent = WinHttpSendRequest(m_hRequest, extraHeaders.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : extraHeaders.c_str(),
                                 extraHeaders.empty() ? 0 : static_cast<DWORD>(-1),
                                 bodyLength ? const_cast<char*>(body.data()) : WINHTTP_NO_REQUEST_DATA,
                                 bodyLength, bodyLength, 0);
  if (!sent) {
    NoteSystemError();
    throw kHttpErr_Send;
  }
  if (!WinHttpReceiveResponse(m_hRequest, nullptr)) {
    NoteSystemError();
    throw kHttpErr_Open;
  }
}

int CWinHttp::QueryStatus() {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(m_hRequest, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return 0;
  return static_cast<int>(status);
}

bool CWinHttp::QueryHeader(bool location, std::string& value) {
  DWORD query = location ? WINHTTP_QUERY_LOCATION : WINHTTP_QUERY_CONTENT_LENGTH;
  DWORD size = 0;
  WinHttpQueryHeaders(m_hRequest, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > kHttpMaxHeaderBlock * 2) return false;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(m_hRequest, query, WINHTTP_HEADER_NAME_BY_INDEX, &text[0], &size,
                           WINHTTP_NO_HEADER_INDEX))
    return false;
  text.resize(size / sizeof(wchar_t));
  value = WideToUtf8(text);
  return true;
}

bool CWinHttp::ReadSome(char* buffer, unsigned long size, unsigned long& got) {
  DWORD read = 0;
  if (!WinHttpReadData(m_hRequest, buffer, size, &read)) return false;
  got = read;
  return true;
}
