#include "engine/url.h"

#include <algorithm>
#include <cctype>

#include "system/Strings.h"

namespace engine {

namespace {

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool all_digits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Splits a relative reference (no scheme) into its parts.
struct parts {
  bool has_authority = false;
  std::string authority, path, query, fragment;
  bool has_query = false, has_fragment = false;
};

parts split_reference(const std::string& ref) {
  parts p;
  std::string rest = ref;
  auto hash = rest.find('#');
  if (hash != std::string::npos) {
    p.has_fragment = true;
    p.fragment = rest.substr(hash + 1);
    rest.erase(hash);
  }
  auto q = rest.find('?');
  if (q != std::string::npos) {
    p.has_query = true;
    p.query = rest.substr(q + 1);
    rest.erase(q);
  }
  if (rest.compare(0, 2, "//") == 0) {
    p.has_authority = true;
    auto slash = rest.find('/', 2);
    p.authority = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    p.path = slash == std::string::npos ? "" : rest.substr(slash);
  } else {
    p.path = rest;
  }
  return p;
}

}  // namespace

url url::parse(const std::string& text, std::error_code& ec) {
  ec.clear();
  url u;
  const auto fail = [&]() {
    ec = std::make_error_code(std::errc::invalid_argument);
    url empty;
    empty.path.clear();
    return empty;
  };
  auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || text.compare(colon, 3, "://") != 0) return fail();
  u.scheme = lower(text.substr(0, colon));
  std::size_t pos = colon + 3;

  // User info: a "@" before the first of "/?#".
  auto auth_end = text.find_first_of("/?#", pos);
  auto at = text.rfind('@', auth_end == std::string::npos ? std::string::npos : auth_end);
  if (at != std::string::npos && at >= pos && (auth_end == std::string::npos || at < auth_end)) {
    u.user_info = text.substr(pos, at - pos);
    pos = at + 1;
  }
  if (pos < text.size() && text[pos] == '[') {
    auto close = text.find(']', pos);
    if (close == std::string::npos) return fail();
    u.host = text.substr(pos + 1, close - pos - 1);
    u.ipv6 = true;
    pos = close + 1;
    if (pos < text.size() && std::string(":/?#").find(text[pos]) == std::string::npos) return fail();
  } else {
    auto end = text.find_first_of(":/?#", pos);
    u.host = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? text.size() : end;
  }
  if (u.host.empty()) return fail();
  if (pos < text.size() && text[pos] == ':') {
    auto end = text.find_first_of("/?#", pos + 1);
    u.port = text.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1);
    if (!all_digits(u.port) || u.port.size() > 5 || std::stoi(u.port) > 65535) return fail();
    pos = end == std::string::npos ? text.size() : end;
  }
  auto path_end = text.find_first_of("?#", pos);
  std::string path = text.substr(pos, path_end == std::string::npos ? std::string::npos : path_end - pos);
  u.path = path.empty() ? "/" : path;
  pos = path_end == std::string::npos ? text.size() : path_end;
  if (pos < text.size() && text[pos] == '?') {
    auto end = text.find('#', pos);
    u.query = text.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1);
    pos = end == std::string::npos ? text.size() : end;
  }
  if (pos < text.size() && text[pos] == '#') u.fragment = text.substr(pos + 1);
  return u;
}

int url::port_number() const {
  if (!port.empty()) return std::stoi(port);
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  if (scheme == "ftp") return 21;
  return 0;
}

std::string url::text(int mask) const {
  std::string out;
  if ((mask & kScheme) && !scheme.empty()) out += scheme + "://";
  if ((mask & kUserInfo) && !user_info.empty()) out += user_info + "@";
  if (mask & kHost) out += ipv6 ? "[" + host + "]" : host;
  if ((mask & kPort) && !port.empty()) out += ":" + port;
  if ((mask & kPath) && !path.empty()) out += path;
  if ((mask & kQuery) && !query.empty()) out += "?" + query;
  if ((mask & kFragment) && !fragment.empty()) out += "#" + fragment;
  return out;
}

url resolve_reference(const url& base, const std::string& reference, std::error_code& ec) {
  ec.clear();
  // An absolute reference: it carries its own scheme.
  auto colon = reference.find(':');
  auto first_delim = reference.find_first_of("/?#");
  if (colon != std::string::npos && colon > 0 && (first_delim == std::string::npos || colon < first_delim)) {
    bool scheme_ok = std::isalpha(static_cast<unsigned char>(reference[0])) &&
                     std::all_of(reference.begin(), reference.begin() + static_cast<long>(colon), [](char c) {
                       return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
                     });
    if (scheme_ok) {
      url target = url::parse(reference, ec);
      if (!ec) target.path = RemoveDotSegments(target.path);
      return target;
    }
  }
  parts ref = split_reference(reference);
  url target;
  target.scheme = base.scheme;
  if (ref.has_authority) {
    target = url::parse(base.scheme + ":" + reference, ec);
    if (!ec) target.path = RemoveDotSegments(target.path);
    return target;
  }
  target.user_info = base.user_info;
  target.host = base.host;
  target.ipv6 = base.ipv6;
  target.port = base.port;
  if (ref.path.empty()) {
    target.path = base.path;
    target.query = ref.has_query ? ref.query : base.query;
  } else {
    if (ref.path[0] == '/') {
      target.path = RemoveDotSegments(ref.path);
    } else {
      // Merge: the base path up to its last "/", then the reference.
      auto slash = base.path.rfind('/');
      std::string merged = (slash == std::string::npos ? "/" : base.path.substr(0, slash + 1)) + ref.path;
      target.path = RemoveDotSegments(merged);
    }
    target.query = ref.query;
  }
  if (target.path.empty()) target.path = "/";
  target.fragment = ref.fragment;
  return target;
}

std::string escape_url_text(const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c >= 0x80 || c == ' ' || c == '^' || c == '`' || c == '{' || c == '|' || c == '}') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace engine
