// Address and header parsing for the request helper, kept free of WinHTTP so
// that it is tested on every platform.
#pragma once

#include <cstdint>
#include <string>

// The parts of an "http://" or "https://" address a request needs.
struct RequestUrl {
  bool secure = false;      // the scheme alone decides TLS
  std::wstring host;        // without brackets for IPv6 literals
  unsigned short port = 0;  // explicit port, else 443 / 80 by scheme
  std::wstring path;        // object name with its leading "/" and query, no fragment
};

// Fails for any other scheme, a missing "/" after the host, an empty host,
// credentials in the address, a bad port or control characters.
bool ParseRequestUrl(const std::wstring& url, RequestUrl& out);

// A Content-Length value: decimal digits only (surrounding blanks allowed),
// no sign, no overflow of 63 bits.
bool ParseContentLength(const std::wstring& text, int64_t& value);
