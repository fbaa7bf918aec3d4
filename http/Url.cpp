#include "http/Url.h"

#include <cctype>

#include "system/Strings.h"

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size() ||
        std::tolower(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(prefix[i]))
      return false;
  }
  return true;
}

bool IsUnreservedOrSubDelim(unsigned char c) {
  if (std::isalnum(c)) return true;
  switch (c) {
    case '-': case '.': case '_': case '~':
    case '!': case '$': case '&': case '\'': case '(': case ')':
    case '*': case '+': case ',': case ';': case '=':
      return true;
  }
  return false;
}

bool IsRegNameChar(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// Request targets keep the URL character set; anything else is percent-encoded.
std::string EncodeTarget(const std::string& raw) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(raw.size());
  for (unsigned char c : raw) {
    if (IsUnreservedOrSubDelim(c) || c == ':' || c == '@' || c == '/' || c == '?' || c == '%') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool HasForbiddenBytes(const std::string& text) {
  for (unsigned char c : text)
    if (c <= 0x20 || c == 0x7F) return true;
  return false;
}

// authority = [userinfo "@"] host [":" port]
bool ParseAuthority(const std::string& authority, bool secure, HttpUrl& out) {
  std::string hostPort = authority;
  size_t at = hostPort.rfind('@');
  if (at != std::string::npos) hostPort = hostPort.substr(at + 1);
  std::string host, portText;
  if (!hostPort.empty() && hostPort[0] == '[') {
    size_t close = hostPort.find(']');
    if (close == std::string::npos) return false;
    host = hostPort.substr(1, close - 1);
    std::string rest = hostPort.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      portText = rest.substr(1);
    }
    if (host.empty() || host.find(':') == std::string::npos) return false;
    for (unsigned char c : host)
      if (!std::isxdigit(c) && c != ':' && c != '.') return false;
  } else {
    size_t colon = hostPort.find(':');
    host = hostPort.substr(0, colon);
    if (colon != std::string::npos) portText = hostPort.substr(colon + 1);
    if (host.empty() || host.size() > 253) return false;
    for (unsigned char c : host)
      if (!IsRegNameChar(c)) return false;
  }
  uint32_t port = secure ? 443 : 80;
  if (!portText.empty()) {
    if (portText.size() > 5) return false;
    port = 0;
    for (unsigned char c : portText) {
      if (!std::isdigit(c)) return false;
      port = port * 10 + (c - '0');
    }
    if (port == 0 || port > 65535) return false;
  }
  out.host = host;
  out.port = static_cast<uint16_t>(port);
  out.secure = secure;
  return true;
}

void SplitTarget(const std::string& target, std::string& path, std::string& query) {
  size_t q = target.find('?');
  path = target.substr(0, q);
  query = q == std::string::npos ? std::string() : target.substr(q);
}

}  // namespace

std::string HttpUrl::Authority() const {
  std::string text = IsIpv6Literal() ? "[" + host + "]" : host;
  if (port != (secure ? 443 : 80)) text += ":" + std::to_string(port);
  return text;
}

std::string HttpUrl::ToString() const {
  return std::string(secure ? "https://" : "http://") + Authority() + target;
}

bool ParseHttpUrl(const std::string& url, HttpUrl& out) {
  if (url.empty() || url.size() > kMaxUrlLength || HasForbiddenBytes(url)) return false;
  bool secure = false;
  std::string rest;
  if (StartsWithNoCase(url, "http://")) {
    rest = url.substr(7);
  } else if (StartsWithNoCase(url, "https://")) {
    secure = true;
    rest = url.substr(8);
  } else if (url.find("://") != std::string::npos || url[0] == '/') {
    return false;  // another scheme, or no host at all
  } else {
    rest = url;
  }
  size_t end = rest.find_first_of("/?#");
  std::string authority = rest.substr(0, end);
  std::string tail = end == std::string::npos ? std::string() : rest.substr(end);
  if (authority.find('\\') != std::string::npos) return false;
  HttpUrl parsed;
  if (!ParseAuthority(authority, secure, parsed)) return false;
  size_t hash = tail.find('#');
  if (hash != std::string::npos) tail.erase(hash);
  if (tail.empty() || tail[0] != '/') tail.insert(0, "/");
  parsed.target = EncodeTarget(tail);
  out = parsed;
  return true;
}

bool ResolveHttpUrl(const HttpUrl& base, const std::string& reference, HttpUrl& out) {
  if (reference.size() > kMaxUrlLength || HasForbiddenBytes(reference)) return false;
  std::string ref = reference.substr(0, reference.find('#'));
  // A scheme is letters, digits, "+", "-", "." before the first ":" that comes
  // ahead of any "/", "?" or "#".
  size_t colon = ref.find(':');
  size_t delim = ref.find_first_of("/?");
  if (colon != std::string::npos && colon > 0 && (delim == std::string::npos || colon < delim)) {
    bool isScheme = std::isalpha(static_cast<unsigned char>(ref[0])) != 0;
    for (size_t i = 0; i < colon && isScheme; ++i) {
      unsigned char c = ref[i];
      isScheme = std::isalnum(c) || c == '+' || c == '-' || c == '.';
    }
    if (isScheme) {
      if (!StartsWithNoCase(ref, "http://") && !StartsWithNoCase(ref, "https://")) return false;
      return ParseHttpUrl(ref, out);
    }
  }
  if (ref.compare(0, 2, "//") == 0)
    return ParseHttpUrl((base.secure ? "https:" : "http:") + ref, out);

  std::string basePath, baseQuery;
  SplitTarget(base.target, basePath, baseQuery);
  std::string target;
  if (ref.empty()) {
    target = base.target;
  } else if (ref[0] == '?') {
    target = basePath + ref;
  } else {
    std::string refPath, refQuery;
    SplitTarget(ref, refPath, refQuery);
    std::string merged;
    if (refPath[0] == '/') {
      merged = refPath;
    } else {
      size_t slash = basePath.rfind('/');
      merged = (slash == std::string::npos ? "/" : basePath.substr(0, slash + 1)) + refPath;
    }
    merged = RemoveDotSegments(merged);
    if (merged.empty() || merged[0] != '/') merged.insert(0, "/");
    target = merged + refQuery;
  }
  HttpUrl resolved = base;
  resolved.target = EncodeTarget(target);
  out = resolved;
  return true;
}

bool ParseUrlA(const std::string& url, std::string& host, std::string& path, uint16_t& port,
               bool* secure) {
  HttpUrl parsed;
  if (!ParseHttpUrl(url, parsed)) return false;
  host = parsed.host;
  path = parsed.target;
  port = parsed.port;
  if (secure) *secure = parsed.secure;
  return true;
}

bool ParseUrlW(const std::wstring& url, std::wstring& host, std::wstring& path, uint16_t& port,
               bool* secure) {
  std::string h, p;
  if (!ParseUrlA(WideToUtf8(url), h, p, port, secure)) return false;
  host = Utf8ToWide(h);
  path = Utf8ToWide(p);
  return true;
}

bool IsRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool NextRedirectUrl(const HttpUrl& current, const std::string& location, HttpUrl& next) {
  HttpUrl resolved;
  if (location.empty() || !ResolveHttpUrl(current, location, resolved)) return false;
  if (current.secure && !resolved.secure) return false;
  next = resolved;
  return true;
}
