#include "engine/cookie_jar.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>

#include "engine/http_message.h"

namespace engine {

namespace {

std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool all_digits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Seconds since 1970 of a UTC calendar time (days from civil date).
std::time_t utc_seconds(int year, int month, int day, int h, int m, int s) {
  year -= month <= 2;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int yoe = year - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
  return static_cast<std::time_t>(days * 86400 + h * 3600 + m * 60 + s);
}

int month_number(const std::string& name) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  std::string lower = to_lower(name.substr(0, 3));
  for (int i = 0; i < 12; ++i)
    if (name.size() == 3 && lower == kMonths[i]) return i + 1;
  return 0;
}

bool parse_clock(const std::string& text, int& h, int& m, int& s) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
  for (std::size_t i : {0u, 1u, 3u, 4u, 6u, 7u})
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  h = std::stoi(text.substr(0, 2));
  m = std::stoi(text.substr(3, 2));
  s = std::stoi(text.substr(6, 2));
  return h < 24 && m < 60 && s < 61;
}

std::vector<std::string> split_words(const std::string& text, const std::string& separators) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (separators.find(c) != std::string::npos) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// A domain attribute: lower case, the leading dot dropped.
std::string domain_attribute(std::string value) {
  value = to_lower(trim(value));
  if (!value.empty() && value[0] == '.') value.erase(0, 1);
  return value;
}

bool domain_matches(const std::string& host, const std::string& domain, bool host_only, bool ip_literal) {
  if (host == domain) return true;
  if (host_only || ip_literal || host.size() <= domain.size()) return false;
  return host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.';
}

bool is_ip_literal(const url& u) {
  if (u.ipv6) return true;
  return !u.host.empty() && u.host.find_first_not_of("0123456789.") == std::string::npos;
}

// The folder of a request path: what a cookie without a path attribute gets.
std::string default_path(const std::string& request_path) {
  if (request_path.empty() || request_path[0] != '/') return "/";
  std::size_t last = request_path.rfind('/');
  return last == 0 ? "/" : request_path.substr(0, last);
}

bool path_matches(const std::string& request_path, const std::string& cookie_path) {
  if (request_path.compare(0, cookie_path.size(), cookie_path) != 0) return false;
  return request_path.size() == cookie_path.size() || cookie_path.back() == '/' ||
         request_path[cookie_path.size()] == '/';
}

}  // namespace

bool parse_http_date(const std::string& text, std::time_t& out) {
  std::vector<std::string> w = split_words(trim(text), " ,-");
  int day = 0, month = 0, year = -1, h = 0, m = 0, s = 0;
  if (w.size() == 6 && iequals(w[5], "GMT")) {
    // "Sun, 06 Nov 1994 08:49:37 GMT" or "Sunday, 06-Nov-94 08:49:37 GMT"
    if (!all_digits(w[1]) || !all_digits(w[3]) || !parse_clock(w[4], h, m, s)) return false;
    day = std::stoi(w[1]);
    month = month_number(w[2]);
    year = std::stoi(w[3]);
    if (w[3].size() == 2) year += year < 70 ? 2000 : 1900;
    else if (w[3].size() != 4) return false;
  } else if (w.size() == 5) {
    // "Sun Nov  6 08:49:37 1994"
    if (!all_digits(w[2]) || !all_digits(w[4]) || w[4].size() != 4 || !parse_clock(w[3], h, m, s)) return false;
    month = month_number(w[1]);
    day = std::stoi(w[2].substr(0, 2));
    year = std::stoi(w[4]);
  } else {
    return false;
  }
  if (month == 0 || day < 1 || day > 31 || year < 1601) return false;
  out = utc_seconds(year, month, day, h, m, s);
  return true;
}

bool cookie_jar::store(const std::string& set_cookie, const url& from, std::time_t now) {
  if (set_cookie.find_first_of("\r\n") != std::string::npos) return false;
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t semi = set_cookie.find(';', start);
    parts.push_back(set_cookie.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
    if (semi == std::string::npos) break;
    start = semi + 1;
  }
  std::size_t eq = parts[0].find('=');
  if (eq == std::string::npos) return false;
  cookie c;
  c.name = trim(parts[0].substr(0, eq));
  c.value = trim(parts[0].substr(eq + 1));
  if (c.name.empty()) return false;
  const std::string host = to_lower(from.host);
  c.domain = host;
  c.path = default_path(from.path);
  bool have_max_age = false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    std::size_t at = parts[i].find('=');
    std::string name = to_lower(trim(parts[i].substr(0, at)));
    std::string value = at == std::string::npos ? std::string() : trim(parts[i].substr(at + 1));
    if (name == "domain") {
      std::string domain = domain_attribute(value);
      if (domain.empty()) continue;
      if (!domain_matches(host, domain, false, is_ip_literal(from))) return false;
      c.domain = domain;
      c.host_only = false;
    } else if (name == "path") {
      if (!value.empty() && value[0] == '/') c.path = value;
    } else if (name == "max-age") {
      bool negative = !value.empty() && value[0] == '-';
      std::string digits = negative ? value.substr(1) : value;
      if (!all_digits(digits)) continue;
      int64_t seconds = digits.size() > 12 ? std::numeric_limits<int32_t>::max() : std::stoll(digits);
      c.persistent = true;
      c.expires = negative || seconds == 0 ? 0 : now + static_cast<std::time_t>(seconds);
      have_max_age = true;
    } else if (name == "expires" && !have_max_age) {
      std::time_t when = 0;
      if (all_digits(value)) {
        int64_t seconds = value.size() > 12 ? std::numeric_limits<int32_t>::max() : std::stoll(value);
        when = now + static_cast<std::time_t>(seconds);
      } else if (!parse_http_date(value, when)) {
        continue;
      }
      c.persistent = true;
      c.expires = when;
    } else if (name == "secure") {
      c.secure = true;
    } else if (name == "httponly") {
      c.http_only = true;
    }
  }
  const auto same = [&](const cookie& o) {
    return o.name == c.name && o.domain == c.domain && o.path == c.path;
  };
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(), same), cookies_.end());
  if (c.persistent && c.expires <= now) return true;  // a deletion
  if (cookies_.size() < kMaxCookies) cookies_.push_back(c);
  return true;
}

std::string cookie_jar::line_for(const url& to, std::time_t now) const {
  const std::string host = to_lower(to.host);
  const bool ip = is_ip_literal(to);
  std::string line;
  for (const auto& c : cookies_) {
    if (c.secure && to.scheme != "https") continue;
    if (c.persistent && c.expires <= now) continue;
    if (!domain_matches(host, c.domain, c.host_only, ip)) continue;
    if (!path_matches(to.path.empty() ? "/" : to.path, c.path)) continue;
    if (!line.empty()) line += "; ";
    line += c.name + "=" + c.value;
  }
  return line;
}

}  // namespace engine
