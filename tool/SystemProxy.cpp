#include "SystemProxy.h"

#include <windows.h>
#include <winhttp.h>

#include "log/Log.h"

namespace {

// Owns a string WinHTTP allocated with GlobalAlloc.
struct GlobalText {
  LPWSTR text = nullptr;
  ~GlobalText() {
    if (text) GlobalFree(text);
  }
  std::wstring str() const { return text ? std::wstring(text) : std::wstring(); }
};

// The answer of a PAC script (given, or found by WPAD) for url; false when
// there is none.
bool AskAutoProxy(const std::wstring& url, bool detect, const std::wstring& script,
                  ProxyConfig& config) {
  HINTERNET session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return false;
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  if (detect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!script.empty()) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = script.c_str();
  }
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info = {};
  BOOL ok = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
  DWORD error = GetLastError();
  GlobalText proxy{info.lpszProxy}, bypass{info.lpszProxyBypass};
  WinHttpCloseHandle(session);
  if (!ok) {
    LOGW(kLog_Info, L"proxy: no answer from %ls (error %lu)",
         script.empty() ? L"automatic detection" : script.c_str(), static_cast<unsigned long>(error));
    return false;
  }
  config.source = script.empty() ? L"automatic detection" : L"auto-config script";
  if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
    config.proxyList = proxy.str();
    config.bypassList = bypass.str();
  }
  return true;
}

// The user's values as WinINet keeps them, for a system whose WinHTTP query
// does not read them.
bool ReadInternetSettings(std::wstring& proxy, std::wstring& bypass, std::wstring& script) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                    0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  auto text = [key](const wchar_t* name) {
    wchar_t buffer[2048] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return std::wstring();
    return std::wstring(buffer);
  };
  DWORD enabled = 0, size = sizeof(enabled), type = 0;
  bool on = RegQueryValueExW(key, L"ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && enabled != 0;
  if (on) {
    proxy = text(L"ProxyServer");
    bypass = text(L"ProxyOverride");
  }
  script = text(L"AutoConfigURL");
  RegCloseKey(key);
  return true;
}

}  // namespace

ProxyConfig FindSystemProxy(const std::wstring& url) {
  ProxyConfig config;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
  bool haveUser = WinHttpGetIEProxyConfigForCurrentUser(&ie) != FALSE;
  GlobalText script{ie.lpszAutoConfigUrl}, proxy{ie.lpszProxy}, bypass{ie.lpszProxyBypass};
  std::wstring userProxy = proxy.str(), userBypass = bypass.str(), userScript = script.str();
  bool detect = haveUser && ie.fAutoDetect;
  // Some systems (Wine) answer the query without the values the user set in
  // Internet Settings: those values are read where WinINet keeps them.
  if (userProxy.empty() || userScript.empty()) {
    std::wstring p, b, s;
    if (ReadInternetSettings(p, b, s)) {
      if (userProxy.empty()) {
        userProxy = p;
        userBypass = b;
      }
      if (userScript.empty()) userScript = s;
    }
  }
  LOGW(kLog_Info, L"proxy: user setting: automatic detection %d, auto-config [%ls], proxy list %ls",
       detect ? 1 : 0, userScript.c_str(), userProxy.empty() ? L"empty" : L"set");
  // Automatic configuration first, as Windows does; the manual list when it
  // gives no answer. Detection and the script are asked one at a time:
  // Wine refuses the two together.
  if (detect && AskAutoProxy(url, true, std::wstring(), config)) return config;
  if (!userScript.empty() && AskAutoProxy(url, false, userScript, config)) return config;
  if (!userProxy.empty()) {
    config.proxyList = userProxy;
    config.bypassList = userBypass;
    config.source = L"user proxy setting";
    return config;
  }
  WINHTTP_PROXY_INFO machine = {};
  if (WinHttpGetDefaultProxyConfiguration(&machine)) {
    GlobalText machineProxy{machine.lpszProxy}, machineBypass{machine.lpszProxyBypass};
    if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !machineProxy.str().empty()) {
      config.proxyList = machineProxy.str();
      config.bypassList = machineBypass.str();
      config.source = L"WinHTTP machine setting";
      return config;
    }
  }
  config.source = L"no proxy set";
  return config;
}

void BeginInstallProxy(const std::wstring& downloadUrl) {
  InstallProxy::Instance().Begin(&FindSystemProxy, downloadUrl);
}

void* OpenInstallSession(const wchar_t* agent, const std::wstring& url, unsigned long flags) {
  ProxyChoice choice;
  if (!InstallProxy::Instance().ChooseFor(url, choice)) {
    return WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS, flags);
  }
  if (choice.road != kProxyRoad_Http) {
    if (!choice.IsDirect())
      LOGW(kLog_Info, L"proxy: WinHTTP cannot use the %ls; %ls goes direct", choice.Describe().c_str(),
           url.c_str());
    return WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS, flags);
  }
  // The choice already applied the bypass list for this address.
  std::wstring name = choice.Address();
  return WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str(), WINHTTP_NO_PROXY_BYPASS,
                     flags);
}

void ApplyInstallProxyCredentials(void* request, const std::wstring& url) {
  ProxyChoice choice;
  if (!request || !InstallProxy::Instance().ChooseFor(url, choice) ||
      choice.road != kProxyRoad_Http || choice.user.empty())
    return;
  if (!WinHttpSetCredentials(static_cast<HINTERNET>(request), WINHTTP_AUTH_TARGET_PROXY,
                             WINHTTP_AUTH_SCHEME_BASIC, choice.user.c_str(), choice.password.c_str(),
                             nullptr)) {
    LOGA(kLog_Info, "proxy: WinHttpSetCredentials failed (%lu)", static_cast<unsigned long>(GetLastError()));
  }
}

void NoteInstallProxyStatus(int status, const std::wstring& url) {
  ProxyChoice choice;
  if (status != HTTP_STATUS_PROXY_AUTH_REQ || !InstallProxy::Instance().ChooseFor(url, choice) ||
      choice.IsDirect())
    return;
  InstallProxy::Instance().NoteAuthRefused(choice.Address());
}
