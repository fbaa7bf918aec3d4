// Which road a request takes: chosen from a proxy list and a bypass list in
// the form Windows keeps them, for one target address. Free of system calls,
// so that every platform tests it.
//
// Proxy list: entries separated by ";" or blanks. "host:port" serves every
// scheme; "http=host:port", "https=host:port", "ftp=host:port" serve one;
// "socks=host:port" serves every scheme that has no entry of its own. A value
// may carry "user:password@" (Basic or SOCKS credentials) and a scheme prefix:
// "http://" (the default), "socks://" or "socks5://" (SOCKS 5, the default
// for socks=), "socks4://" or "socks4a://" (SOCKS 4a).
//
// Bypass list: entries separated by ";", "," or blanks; "*" matches any run
// of characters, letter case does not count, "<local>" matches every host
// name without a dot. An entry may carry a scheme prefix ("http://") and a
// port (":8080"); then only that scheme or port is bypassed.
#pragma once

#include <mutex>
#include <string>

enum ProxyRoad {
  kProxyRoad_Direct = 0,
  kProxyRoad_Http = 1,     // absolute-form for http, CONNECT tunnel for https
  kProxyRoad_Socks5 = 2,   // the proxy resolves the target's name
  kProxyRoad_Socks4a = 3,
};

struct ProxyChoice {
  ProxyRoad road = kProxyRoad_Direct;
  std::wstring host;  // IPv6 literals without brackets
  int port = 0;
  std::wstring user;  // empty: no credentials
  std::wstring password;

  bool IsDirect() const { return road == kProxyRoad_Direct; }
  // "host:port" (IPv6 in brackets): how messages name the proxy.
  std::wstring Address() const;
  // The road and the address for the log; credentials only as "with credentials".
  std::wstring Describe() const;
};

// The proxy setting found for an install.
struct ProxyConfig {
  std::wstring proxyList;   // empty: every request goes direct
  std::wstring bypassList;
  std::wstring source;      // where it was found, for the log
};

// One proxy list value "[scheme://][user[:password]@]host[:port]"; `road`
// is the road when the value names no scheme. False for a malformed value.
bool ParseProxyServer(const std::wstring& value, ProxyRoad road, ProxyChoice& out);

// Whether the bypass list sends a request for scheme://host:port direct.
bool IsProxyBypassed(const std::wstring& bypassList, const std::wstring& scheme,
                     const std::wstring& host, int port);

// The road for a request to url. Malformed entries are passed over; an
// address that is no http(s) address goes direct.
ProxyChoice ChooseProxy(const ProxyConfig& config, const std::wstring& url);

// The one proxy answer of the running install, shared by every request the
// install makes. Begin names how to find it; the first Get finds it (once,
// logged without secrets) and every later Get returns the same answer.
class InstallProxy {
 public:
  using Finder = ProxyConfig (*)(const std::wstring& url);

  static InstallProxy& Instance();

  // A new install: the answer is found again, for this download address.
  void Begin(Finder finder, const std::wstring& downloadUrl);
  // Uses config as the answer (tests, or a caller that found it already).
  void Set(const ProxyConfig& config);
  // False while no install has begun: the caller keeps its own default.
  bool Get(ProxyConfig& config);
  // The road for url under the install's answer; false while none has begun.
  bool ChooseFor(const std::wstring& url, ProxyChoice& choice);

  // A proxy refused the credentials it was given (or asked for some while
  // none were set): the proxy's address, so that the user is told.
  void NoteAuthRefused(const std::wstring& address);
  // The address noted since the install began; empty when none.
  std::wstring AuthRefused();

 private:
  std::mutex m_lock;
  Finder m_finder = nullptr;
  std::wstring m_strUrl;
  bool m_bBegun = false;
  bool m_bFound = false;
  ProxyConfig m_config;
  std::wstring m_strRefused;
};
