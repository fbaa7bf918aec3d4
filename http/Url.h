// Parsing of the absolute http(s) addresses the HTTP clients accept, and
// resolution of redirect targets against them.
#pragma once

#include <cstdint>
#include <string>

struct HttpUrl {
  bool secure = false;  // from the scheme: "https" only
  std::string host;     // without brackets for IPv6 literals; user info dropped
  uint16_t port = 80;
  std::string target;   // path and query, starting with "/"; fragment dropped

  bool IsIpv6Literal() const { return host.find(':') != std::string::npos; }
  // host[:port] for the Host header: the port only when not the scheme's own.
  std::string Authority() const;
  // scheme://authority/target
  std::string ToString() const;
};

// Longest address accepted, in bytes.
constexpr size_t kMaxUrlLength = 8192;

// Parses an "http://" or "https://" address (scheme matched at the start,
// any letter case) or a bare "host[:port][/path]" taken as plain http.
// The scheme alone decides TLS and the default port (80 / 443). Rejects other
// schemes, an empty or malformed host, a port that is not 1-65535, control
// characters and blanks. Bytes outside the URL character set in the target
// are percent-encoded; the fragment is removed.
bool ParseHttpUrl(const std::string& url, HttpUrl& out);

// Resolves a reference (a redirect's Location) against `base` as RFC 3986
// section 5 does: absolute http(s), network-path, absolute-path, relative
// path with dot segments removed, query-only. Other schemes are refused.
bool ResolveHttpUrl(const HttpUrl& base, const std::string& reference, HttpUrl& out);

// The classic split used by the clients: host, request target and port of a
// narrow (UTF-8) or wide address; `secure` (optional) tells the scheme's TLS.
// False, with the outputs unchanged, when the address is not usable.
bool ParseUrlA(const std::string& url, std::string& host, std::string& path, uint16_t& port,
               bool* secure = nullptr);
bool ParseUrlW(const std::wstring& url, std::wstring& host, std::wstring& path, uint16_t& port,
               bool* secure = nullptr);

// 301, 302, 303, 307 and 308: the answers whose Location the clients follow.
bool IsRedirectStatus(int status);
// The address a redirect leads to: `location` resolved against `current`;
// false for an empty or unusable Location and for a step from https to http.
bool NextRedirectUrl(const HttpUrl& current, const std::string& location, HttpUrl& next);
