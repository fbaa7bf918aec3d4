// The cookies one HTTP stream receives, and the "Cookie" line a request on
// it carries back. A "Set-Cookie" value is read with its attributes domain,
// path, expires, max-age, secure and httponly; a request carries the
// cookies whose domain and path match its URL, that have not expired, and
// the secure ones only over https.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "engine/url.h"

namespace engine {

struct cookie {
  std::string name, value;
  std::string domain;      // lower case, without a leading dot
  bool host_only = true;   // set without a domain attribute: its host only
  std::string path = "/";
  bool secure = false;
  bool http_only = false;  // recorded; every request of the engine is HTTP
  bool persistent = false; // has an expiry time
  std::time_t expires = 0;
};

class cookie_jar {
 public:
  static constexpr std::size_t kMaxCookies = 50;

  // Reads one Set-Cookie value received in answer to a request for `from`.
  // False when it is refused: no name, a line break, or a domain attribute
  // that `from`'s host does not belong to. A cookie that has already expired
  // removes the stored one of the same name, domain and path.
  bool store(const std::string& set_cookie, const url& from, std::time_t now);
  // "name=value; name=value" of the cookies a request for `to` carries.
  std::string line_for(const url& to, std::time_t now) const;
  const std::vector<cookie>& cookies() const { return cookies_; }

 private:
  std::vector<cookie> cookies_;
};

// An HTTP date in any of its three forms ("Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994") as seconds
// since 1970 (UTC); false for anything else.
bool parse_http_date(const std::string& text, std::time_t& out);

}  // namespace engine
