#include "Window/RedirectProbe.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "Window/InstallLogic.h"
#include "log/Log.h"
#include "tool/SystemProxy.h"

namespace {

struct Handle {
  HINTERNET h = nullptr;
  ~Handle() {
    if (h) WinHttpCloseHandle(h);
  }
};

}  // namespace

bool GetRedirectUrl(const std::wstring& url, std::wstring& target) {
  if (!IsWebAddress(url)) return false;
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  wchar_t host[256] = {};
  std::vector<wchar_t> path(url.size() + 2);
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  std::vector<wchar_t> extra(url.size() + 2);
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
  bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                        std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = L"/";

  Handle session, connection, request;
  session.h = static_cast<HINTERNET>(OpenInstallSession(nullptr, url));
  if (!session.h) return false;
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  if (!WinHttpSetOption(session.h, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof(never))) return false;
  connection.h = WinHttpConnect(session.h, host, parts.nPort, 0);
  if (!connection.h) return false;
  request.h = WinHttpOpenRequest(connection.h, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
  if (!request.h) return false;
  ApplyInstallProxyCredentials(request.h, url);
  if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    LOGA(kLog_Info, "Error %lu has occurred.\n", GetLastError());
    return false;
  }
  if (!WinHttpReceiveResponse(request.h, nullptr)) {
    LOGA(kLog_Info, "Error %lu has occurred.\n", GetLastError());
    return true;
  }
  DWORD status = 0;
  DWORD length = sizeof(status);
  if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX))
    return false;
  NoteInstallProxyStatus(static_cast<int>(status), url);
  if (status != 302) return false;
  wchar_t location[2048] = {};
  length = sizeof(location) - sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, location,
                           &length, WINHTTP_NO_HEADER_INDEX))
    return false;
  std::wstring found(location, length / sizeof(wchar_t));
  // Only an absolute web address may replace the download address, and an
  // https address never gives way to plain http.
  if (!IsWebAddress(found) || (secure && found.compare(0, 8, L"https://") != 0)) {
    LOGW(kLog_Info, L"GetRedirectUrl: refused Location [%ls]", found.c_str());
    return false;
  }
  target = found;
  return true;
}
