#include "ProxyChoice.h"

#include <cwctype>
#include <vector>

#include "RequestUrl.h"
#include "log/Log.h"

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::vector<std::wstring> Split(const std::wstring& text, const wchar_t* separators) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(separators, start);
    if (end == std::wstring::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool ParsePortNumber(const std::wstring& digits, int& port) {
  if (digits.empty() || digits.size() > 5) return false;
  int value = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + (c - L'0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

// host[:port] or [v6][:port]; port stays as given when absent.
bool SplitHostPort(const std::wstring& text, std::wstring& host, int& port) {
  std::wstring rest;
  if (!text.empty() && text[0] == L'[') {
    std::size_t close = text.find(L']');
    if (close == std::wstring::npos || close == 1) return false;
    host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (!rest.empty() && rest[0] != L':') return false;
  } else {
    std::size_t colon = text.find(L':');
    host = text.substr(0, colon);
    if (colon != std::wstring::npos) rest = text.substr(colon);
  }
  if (host.empty() || host.find_first_of(L"/?#@[] \t") != std::wstring::npos) return false;
  if (!rest.empty() && !ParsePortNumber(rest.substr(1), port)) return false;
  return true;
}

// '*' matches any run; both sides already lower case.
bool WildcardMatch(const wchar_t* pattern, const wchar_t* text) {
  const wchar_t* star = nullptr;
  const wchar_t* resume = nullptr;
  while (*text) {
    if (*pattern == L'*') {
      star = pattern++;
      resume = text;
    } else if (*pattern == *text) {
      ++pattern;
      ++text;
    } else if (star) {
      pattern = star + 1;
      text = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == L'*') ++pattern;
  return *pattern == 0;
}

bool IsSchemeKey(const std::wstring& key) {
  return key == L"http" || key == L"https" || key == L"ftp" || key == L"socks";
}

}  // namespace

std::wstring ProxyChoice::Address() const {
  if (IsDirect()) return std::wstring();
  bool v6 = host.find(L':') != std::wstring::npos;
  return (v6 ? L"[" + host + L"]" : host) + L":" + std::to_wstring(port);
}

std::wstring ProxyChoice::Describe() const {
  const wchar_t* names[] = {L"direct", L"http proxy ", L"socks5 proxy ", L"socks4a proxy "};
  if (IsDirect()) return names[0];
  return names[road] + Address() + (user.empty() ? L"" : L" with credentials");
}

bool ParseProxyServer(const std::wstring& value, ProxyRoad road, ProxyChoice& out) {
  std::wstring text = value;
  std::size_t sep = text.find(L"://");
  if (sep != std::wstring::npos) {
    std::wstring scheme = Lower(text.substr(0, sep));
    if (scheme == L"http") {
      road = kProxyRoad_Http;
    } else if (scheme == L"socks" || scheme == L"socks5") {
      road = kProxyRoad_Socks5;
    } else if (scheme == L"socks4" || scheme == L"socks4a") {
      road = kProxyRoad_Socks4a;
    } else {
      return false;  // a proxy spoken to over TLS, or no proxy scheme at all
    }
    text = text.substr(sep + 3);
  }
  if (!text.empty() && text.back() == L'/') text.pop_back();
  if (road == kProxyRoad_Direct) return false;
  ProxyChoice choice;
  choice.road = road;
  std::size_t at = text.rfind(L'@');
  if (at != std::wstring::npos) {
    std::wstring credentials = text.substr(0, at);
    std::size_t colon = credentials.find(L':');
    choice.user = credentials.substr(0, colon);
    if (colon != std::wstring::npos) choice.password = credentials.substr(colon + 1);
    if (choice.user.empty()) return false;
    text = text.substr(at + 1);
  }
  choice.port = road == kProxyRoad_Http ? 80 : 1080;
  if (!SplitHostPort(text, choice.host, choice.port)) return false;
  out = choice;
  return true;
}

bool IsProxyBypassed(const std::wstring& bypassList, const std::wstring& scheme,
                     const std::wstring& host, int port) {
  const std::wstring lowHost = Lower(host);
  const std::wstring lowScheme = Lower(scheme);
  for (std::wstring entry : Split(bypassList, L"; \t\r\n,")) {
    entry = Lower(entry);
    if (entry == L"<local>") {
      if (lowHost.find_first_of(L".:") == std::wstring::npos) return true;
      continue;
    }
    std::size_t sep = entry.find(L"://");
    if (sep != std::wstring::npos) {
      if (entry.substr(0, sep) != lowScheme) continue;
      entry = entry.substr(sep + 3);
    }
    std::wstring pattern = entry;
    int entryPort = 0;
    std::wstring portText;
    bool hasPort = false;
    if (!entry.empty() && entry[0] == L'[') {  // [v6] or [v6]:port
      std::size_t close = entry.find(L']');
      if (close == std::wstring::npos) continue;
      pattern = entry.substr(1, close - 1);
      if (close + 1 < entry.size()) {
        if (entry[close + 1] != L':') continue;
        portText = entry.substr(close + 2);
        hasPort = true;
      }
    } else if (entry.find(L':') == entry.rfind(L':') && entry.find(L':') != std::wstring::npos) {
      std::size_t colon = entry.find(L':');  // one colon: name or v4 with a port
      pattern = entry.substr(0, colon);
      portText = entry.substr(colon + 1);
      hasPort = true;
    }
    if (hasPort && !ParsePortNumber(portText, entryPort)) continue;
    if (pattern.empty()) continue;
    if (entryPort != 0 && entryPort != port) continue;
    if (WildcardMatch(pattern.c_str(), lowHost.c_str())) return true;
  }
  return false;
}

ProxyChoice ChooseProxy(const ProxyConfig& config, const std::wstring& url) {
  RequestUrl target;
  if (config.proxyList.empty() || !ParseRequestUrl(url, target)) return ProxyChoice();
  const std::wstring scheme = target.secure ? L"https" : L"http";
  if (IsProxyBypassed(config.bypassList, scheme, target.host, target.port)) return ProxyChoice();

  // Preference: the scheme's own entry, then an entry for every scheme, then socks=.
  ProxyChoice own, generic, socks;
  bool haveOwn = false, haveGeneric = false, haveSocks = false;
  for (const std::wstring& entry : Split(config.proxyList, L"; \t\r\n")) {
    std::size_t eq = entry.find(L'=');
    ProxyChoice parsed;
    if (eq == std::wstring::npos) {
      if (!haveGeneric && ParseProxyServer(entry, kProxyRoad_Http, parsed)) {
        generic = parsed;
        haveGeneric = true;
      }
      continue;
    }
    std::wstring key = Lower(entry.substr(0, eq));
    if (!IsSchemeKey(key)) continue;
    std::wstring value = entry.substr(eq + 1);
    if (key == L"socks") {
      if (!haveSocks && ParseProxyServer(value, kProxyRoad_Socks5, parsed)) {
        socks = parsed;
        haveSocks = true;
      }
    } else if (key == scheme && !haveOwn && ParseProxyServer(value, kProxyRoad_Http, parsed)) {
      own = parsed;
      haveOwn = true;
    }
  }
  if (haveOwn) return own;
  if (haveGeneric) return generic;
  if (haveSocks) return socks;
  return ProxyChoice();
}

InstallProxy& InstallProxy::Instance() {
  static InstallProxy* instance = new InstallProxy();  // lives as long as the process
  return *instance;
}

void InstallProxy::Begin(Finder finder, const std::wstring& downloadUrl) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_finder = finder;
  m_strUrl = downloadUrl;
  m_bBegun = true;
  m_bFound = false;
  m_config = ProxyConfig();
  m_strRefused.clear();
}

void InstallProxy::Set(const ProxyConfig& config) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_finder = nullptr;
  m_bBegun = true;
  m_bFound = true;
  m_config = config;
  m_strRefused.clear();
}

bool InstallProxy::Get(ProxyConfig& config) {
  // The lock is held while the finder runs: every request of the install
  // waits for the one answer rather than finding its own.
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_bBegun) return false;
  if (!m_bFound) {
    if (m_finder) m_config = m_finder(m_strUrl);
    m_bFound = true;
    ProxyChoice choice = ChooseProxy(m_config, m_strUrl);
    LOGW(kLog_Info, L"proxy for this install: %ls (%ls)", choice.Describe().c_str(),
         m_config.source.empty() ? L"no setting" : m_config.source.c_str());
  }
  config = m_config;
  return true;
}

bool InstallProxy::ChooseFor(const std::wstring& url, ProxyChoice& choice) {
  ProxyConfig config;
  if (!Get(config)) return false;
  choice = ChooseProxy(config, url);
  return true;
}

void InstallProxy::NoteAuthRefused(const std::wstring& address) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_strRefused.empty()) {
    m_strRefused = address;
    LOGW(kLog_Info, L"proxy %ls refused the request: authentication required", address.c_str());
  }
}

std::wstring InstallProxy::AuthRefused() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_strRefused;
}
