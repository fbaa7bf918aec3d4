#include "http/HttpHeader.h"

#include <cctype>
#include <cstring>

namespace {

const char* const kDefaultHeaders[][2] = {
    {"User-Agent",
     "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/80.0.4044.92 Safari/537.36"},
    {"Accept", "*/*"},
    {"Connection", "Keep-Alive"},
    {"Accept-Language", "zh-CN,zh;q=0.9"},
};

bool IsToken(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (std::isalnum(c)) continue;
    if (!std::strchr("!#$%&'*+-.^_`|~", c) || c == 0) return false;
  }
  return true;
}

bool IsSafeValue(const std::string& value) {
  for (unsigned char c : value)
    if (c == '\r' || c == '\n' || c == 0) return false;
  return true;
}

std::string TrimBlanks(const std::string& text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = text.find_last_not_of(" \t");
  return text.substr(b, e - b + 1);
}

}  // namespace

bool ParseContentLength(const std::string& text, long long& value) {
  if (text.empty() || text.size() > 18) return false;
  long long parsed = 0;
  for (unsigned char c : text) {
    if (!std::isdigit(c)) return false;
    parsed = parsed * 10 + (c - '0');
  }
  value = parsed;
  return true;
}

bool HeaderNameLess::operator()(const std::string& a, const std::string& b) const {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>(a[i]));
    int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

void CHttpHeader::AddHeader(const std::string& name, const std::string& value) {
  if (value.empty() || !IsToken(name) || !IsSafeValue(value)) return;
  m_mapHeaders.emplace(name, value);
}

void CHttpHeader::SetHeader(const std::string& name, const std::string& value) {
  if (value.empty() || !IsToken(name) || !IsSafeValue(value)) return;
  m_mapHeaders.erase(name);
  m_mapHeaders.emplace(name, value);
}

std::string CHttpHeader::GetHeader(const std::string& name) const {
  auto it = m_mapHeaders.find(name);
  return it == m_mapHeaders.end() ? std::string() : it->second;
}

bool CHttpHeader::HasHeader(const std::string& name) const {
  return m_mapHeaders.count(name) != 0;
}

void CHttpHeader::AddDefaultHeaders() {
  for (const auto& header : kDefaultHeaders) AddHeader(header[0], header[1]);
}

std::string CHttpHeader::BuildHeaderLines() {
  AddDefaultHeaders();
  std::string text;
  for (const auto& header : m_mapHeaders) text += header.first + ": " + header.second + "\r\n";
  return text;
}

std::string CHttpHeader::BuildGetRequest() {
  if (m_strVersion.empty()) m_strVersion = "HTTP/1.1";
  std::string path = m_strPath.empty() ? "/" : m_strPath;
  // One blank line ends the block; the extra CR LF after it is ignored by
  // servers as an empty line before a next request.
  return "GET " + path + " " + m_strVersion + "\r\n" + BuildHeaderLines() + "\r\n\r\n";
}

bool CHttpHeader::ParseResponse(const std::string& text) {
  std::map<std::string, std::string, HeaderNameLess> headers;
  size_t lineEnd = text.find("\r\n");
  std::string statusLine = text.substr(0, lineEnd);
  // HTTP-version SP 3DIGIT [SP reason-phrase]
  if (statusLine.size() < 12 || statusLine.compare(0, 5, "HTTP/") != 0 ||
      !std::isdigit(static_cast<unsigned char>(statusLine[5])) || statusLine[6] != '.' ||
      !std::isdigit(static_cast<unsigned char>(statusLine[7])) || statusLine[8] != ' ')
    return false;
  int status = 0;
  for (size_t i = 9; i < 12; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(statusLine[i]))) return false;
    status = status * 10 + (statusLine[i] - '0');
  }
  if (status < 100 || (statusLine.size() > 12 && statusLine[12] != ' ')) return false;
  std::string reason = statusLine.size() > 13 ? statusLine.substr(13) : std::string();

  size_t pos = lineEnd == std::string::npos ? text.size() : lineEnd + 2;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 2;
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;  // no usable header
    std::string name = line.substr(0, colon);
    if (!IsToken(name)) continue;
    std::string value = TrimBlanks(line.substr(colon + 1));
    auto it = headers.find(name);
    if (it == headers.end()) {
      headers.emplace(name, value);
    } else if (!HeaderNameLess()(name, "Content-Length") &&
               !HeaderNameLess()("Content-Length", name) && it->second != value) {
      return false;  // conflicting lengths: the body's end cannot be known
    }
  }
  m_strVersion = statusLine.substr(0, 8);
  m_nStatusCode = status;
  m_strReason = reason;
  m_mapHeaders.swap(headers);
  return true;
}
