#include "WinHttpRequest.h"

#include <windows.h>
#include <winhttp.h>

#include "RequestUrl.h"
#include "SystemProxy.h"
#include "log/Log.h"

namespace {

// Error texts of the internet layer live in wininet.dll's message table.
void* InternetMessageModule() { return GetModuleHandleW(L"wininet.dll"); }

void Fail(const char* api, const char* caller) {
  ShowApiError(api, static_cast<int>(GetLastError()), InternetMessageModule(), caller);
}

void CloseHandleRef(void*& handle) {
  if (handle) {
    WinHttpCloseHandle(static_cast<HINTERNET>(handle));
    handle = nullptr;
  }
}

}  // namespace

CWinHttpRequest::~CWinHttpRequest() { Close(); }

void CWinHttpRequest::Close() {
  CloseHandleRef(m_hRequest);
  CloseHandleRef(m_hConnect);
  CloseHandleRef(m_hSession);
}

bool CWinHttpRequest::OpenSession() {
  Close();
  // The install's proxy road for this address, the same one the download takes.
  m_hSession = OpenInstallSession(nullptr, m_strUrl);
  if (!m_hSession) {
    Fail("WinHttpOpen", "CWinHttpRequest::OpenSession");
    return false;
  }
  // Redirects are followed by the library, but never from https to http.
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttpSetOption(static_cast<HINTERNET>(m_hSession), WINHTTP_OPTION_REDIRECT_POLICY, &policy,
                   sizeof(policy));
  return true;
}

bool CWinHttpRequest::ConnectSession(bool secure) {
  INTERNET_PORT port = m_nPort ? m_nPort
                               : static_cast<INTERNET_PORT>(secure ? INTERNET_DEFAULT_HTTPS_PORT
                                                                   : INTERNET_DEFAULT_HTTP_PORT);
  m_hConnect = WinHttpConnect(static_cast<HINTERNET>(m_hSession), m_strHost.c_str(), port, 0);
  if (!m_hConnect) {
    Fail("WinHttpConnect", "CWinHttpRequest::ConnectSession");
    return false;
  }
  return true;
}

bool CWinHttpRequest::OpenRequest(bool secure) {
  LPCWSTR acceptTypes[] = {L"*/*", nullptr};
  DWORD flags = WINHTTP_FLAG_REFRESH | (secure ? WINHTTP_FLAG_SECURE : 0);
  // No security flags are ever set: certificate errors fail the request.
  m_hRequest = WinHttpOpenRequest(static_cast<HINTERNET>(m_hConnect), m_strMethod.c_str(),
                                  m_strPath.c_str(), L"HTTP/1.1", WINHTTP_NO_REFERER, acceptTypes,
                                  flags);
  if (!m_hRequest) {
    Fail("WinHttpOpenRequest", "CWinHttpRequest::OpenRequest");
    return false;
  }
  ApplyInstallProxyCredentials(m_hRequest, m_strUrl);
  return true;
}

bool CWinHttpRequest::SendRequest() {
  HINTERNET request = static_cast<HINTERNET>(m_hRequest);
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                          0)) {
    Fail("WinHttpSendRequest", "CWinHttpRequest::SendRequest");
    return false;
  }
  if (!WinHttpReceiveResponse(request, nullptr)) {
    Fail("WinHttpReceiveResponse", "CWinHttpRequest::SendRequest");
    return false;
  }
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    Fail("WinHttpQueryHeaders", "CWinHttpRequest::SendRequest");
    return false;
  }
  if (status != 200) {
    NoteInstallProxyStatus(static_cast<int>(status), m_strUrl);
    LOGW(kLog_Info, L"CWinHttpRequest::SendRequest %ls %ls%ls answered %u", m_strMethod.c_str(),
         m_strHost.c_str(), m_strPath.c_str(), static_cast<unsigned>(status));
    return false;
  }
  return true;
}

bool CWinHttpRequest::QueryContentLength(int64_t& length) {
  if (!m_hRequest) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  wchar_t text[32] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (!WinHttpQueryHeaders(static_cast<HINTERNET>(m_hRequest), WINHTTP_QUERY_CONTENT_LENGTH,
                           WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  if (ParseContentLength(std::wstring(text, size / sizeof(wchar_t)), length)) return true;
  SetLastError(ERROR_SUCCESS);  // present but no number
  return false;
}

bool CWinHttpRequest::GetUrlFileSize(int64_t& size) {
  if (QueryContentLength(size)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) {
    LOGA(kLog_Info, "CWinHttpRequest::GetUrlFileSize: Content-Length is no number");
  } else {
    ShowApiError("WinHttpQueryHeaders", static_cast<int>(error), InternetMessageModule(),
                 "CWinHttpRequest::GetUrlFileSize");
  }
  return false;
}

int CWinHttpRequest::HttpRead(void* buffer, int size) {
  DWORD read = 0;
  if (!m_hRequest || size < 0 ||
      !WinHttpReadData(static_cast<HINTERNET>(m_hRequest), buffer, static_cast<DWORD>(size),
                       &read)) {
    Fail("WinHttpReadData", "CWinHttpRequest::HttpRead");
    return -1;
  }
  return static_cast<int>(read);
}

int64_t GetFileSizeByHead(const std::wstring& url) {
  CWinHttpRequest request;
  request.SetMethod(L"HEAD");
  int64_t size = 0;
  if (!request.OpenUrl(url) || !request.GetUrlFileSize(size)) size = 0;
  request.Close();
  return size;
}
