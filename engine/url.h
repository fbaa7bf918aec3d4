// A parsed absolute URL as the engine uses it, with the text forms that the
// request line, the "Host" header and the resume meta file need, and the
// resolution of a redirect's Location against it.
#pragma once

#include <string>
#include <system_error>

namespace engine {

struct url {
  // Component masks of text().
  enum {
    kScheme = 1, kUserInfo = 2, kHost = 4, kPort = 8, kPath = 16, kQuery = 32, kFragment = 64,
    kAll = 127, kHostHeader = 12, kTarget = 112,
  };

  std::string scheme;  // lower case
  std::string user_info;
  std::string host;  // IPv6 literal without brackets
  bool ipv6 = false;
  std::string port;  // digits as written, empty when none
  std::string path = "/";
  std::string query;
  std::string fragment;

  // Parses "scheme://authority/path?query#fragment". On failure every field
  // is left empty and EINVAL is returned.
  static url parse(const std::string& text, std::error_code& ec);

  bool empty() const { return scheme.empty() && host.empty(); }
  // The explicit port, else the scheme's default (80, 443, 21), else 0.
  int port_number() const;
  std::string text(int mask = kAll) const;
};

// Resolves a reference (absolute or relative, as in a "Location" header)
// against a base URL by the rules of RFC 3986 section 5.2.
url resolve_reference(const url& base, const std::string& reference, std::error_code& ec);

// Percent-encodes bytes of 0x80 and above and the characters that may not
// appear raw in a URL (space ^ ` { | }), as the engine does with the address
// it is given.
std::string escape_url_text(const std::string& text);

}  // namespace engine
