#include "BaseRequest.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

#include "RequestUrl.h"
#include "log/Log.h"

CBaseRequest::CBaseRequest() : m_strMethod(L"GET") {}

CBaseRequest::~CBaseRequest() = default;

bool CBaseRequest::OpenUrl(const std::wstring& url) {
  RequestUrl parsed;
  if (!ParseRequestUrl(url, parsed)) {
    LOGW(kLog_Info, L"OpenUrl: not a usable http(s) address: %ls", url.c_str());
    return false;
  }
  m_strUrl = url;
  m_strHost = parsed.host;
  m_strPath = parsed.path;
  m_nPort = parsed.port;
  return OpenSession() && ConnectSession(parsed.secure) && OpenRequest(parsed.secure) &&
         SendRequest();
}

bool CBaseRequest::ReadToString(std::string& body) {
  body.clear();
  int64_t announced = -1;
  if (QueryContentLength(announced) && announced > static_cast<int64_t>(kMaxMemoryBody)) {
    LOGA(kLog_Info, "ReadToString: announced body of %lld bytes is over the limit",
         static_cast<long long>(announced));
    return false;
  }
  char buffer[2048];
  for (;;) {
    int n = HttpRead(buffer, static_cast<int>(sizeof(buffer) - 1));
    if (n < 0) {
      body.clear();
      return false;
    }
    if (n == 0) break;
    if (body.size() + static_cast<std::size_t>(n) > kMaxMemoryBody) {
      LOGA(kLog_Info, "ReadToString: body over %u bytes, dropped",
           static_cast<unsigned>(kMaxMemoryBody));
      body.clear();
      return false;
    }
    body.append(buffer, static_cast<std::size_t>(n));
  }
  if (announced >= 0 && static_cast<int64_t>(body.size()) != announced) {
    LOGA(kLog_Info, "ReadToString: body of %u bytes, %lld announced",
         static_cast<unsigned>(body.size()), static_cast<long long>(announced));
    body.clear();
    return false;
  }
  return true;
}

std::string CBaseRequest::ReadToString() {
  std::string body;
  ReadToString(body);
  return body;
}

bool CBaseRequest::ReadToFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ShowApiError("CreateFileW", static_cast<int>(GetLastError()), nullptr,
                 "CBaseRequest::ReadToFile");
    return false;
  }
  int64_t announced = -1;
  QueryContentLength(announced);
  int64_t written = 0;
  bool ok = true;
  std::vector<char> buffer(4096);
  for (;;) {
    int n = HttpRead(buffer.data(), static_cast<int>(buffer.size()));
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    DWORD done = 0;
    if (!WriteFile(file, buffer.data(), static_cast<DWORD>(n), &done, nullptr) ||
        done != static_cast<DWORD>(n)) {
      ShowApiError("WriteFile", static_cast<int>(GetLastError()), nullptr,
                   "CBaseRequest::ReadToFile");
      ok = false;
      break;
    }
    written += n;
  }
  CloseHandle(file);
  if (ok && announced >= 0 && written != announced) {
    LOGA(kLog_Info, "ReadToFile: body of %lld bytes, %lld announced",
         static_cast<long long>(written), static_cast<long long>(announced));
    ok = false;
  }
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

bool CBaseRequest::IsUseProxyConnect() {
  DWORD flags = 0;
  if (!InternetGetConnectedState(&flags, 0)) {
    LOGA(kLog_Info, "ERR:InternetGetConnectedState fail 0x%x",
         static_cast<unsigned>(GetLastError()));
    return false;
  }
  return (flags & INTERNET_CONNECTION_PROXY) != 0;
}

void ShowApiError(const char* api, int error, void* module, const char* caller) {
  // The module's message table first, then WinHTTP's (the internet error
  // codes of both libraries share one range), then the system's.
  char message[260] = {};
  HMODULE sources[] = {static_cast<HMODULE>(module), GetModuleHandleW(L"winhttp.dll"), nullptr};
  for (HMODULE source : sources) {
    DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS |
                  (source ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    if (FormatMessageA(flags, source, static_cast<DWORD>(error), 0x400, message,
                       sizeof(message) - 1, nullptr)) {
      break;
    }
  }
  if (caller && *caller) {
    LOGA(kLog_Info, "[Thread][%d] [%s]call %s fail %d, %s\n",
         static_cast<int>(GetCurrentThreadId()), caller, api, error, message);
  } else {
    LOGA(kLog_Info, "[Thread][%d] call %s fail %d, %s\n", static_cast<int>(GetCurrentThreadId()),
         api, error, message);
  }
}
