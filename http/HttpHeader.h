// Request header store and builder, and parser of response header blocks.
#pragma once

#include <map>
#include <string>

// Header names compare without regard to letter case, as HTTP defines them.
struct HeaderNameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

// A Content-Length value: decimal digits only, at most 18 (no overflow).
bool ParseContentLength(const std::string& text, long long& value);

class CHttpHeader {
 public:
  virtual ~CHttpHeader() = default;

  // Adds the pair when both are non-empty, the name is a valid token, the
  // value holds no line break or NUL, and the name is not present yet
  // (the first value of a name stays).
  void AddHeader(const std::string& name, const std::string& value);
  // Replaces (or adds) the value of a name, under the same checks.
  void SetHeader(const std::string& name, const std::string& value);
  std::string GetHeader(const std::string& name) const;
  bool HasHeader(const std::string& name) const;

  // "GET <path> <version>\r\n", the header lines, then the closing CR LFs.
  std::string BuildGetRequest();
  // The header lines alone ("Name: value\r\n" each), defaults included.
  std::string BuildHeaderLines();
  // Fills status, version, reason and headers from a response's header block
  // (without its closing blank line). False when the status line is not
  // "HTTP/x.y NNN [reason]" or a header repeats Content-Length with another value.
  bool ParseResponse(const std::string& text);

  void SetPath(const std::string& path) { m_strPath = path; }
  int StatusCode() const { return m_nStatusCode; }
  const std::string& Version() const { return m_strVersion; }
  const std::string& Reason() const { return m_strReason; }
  const std::map<std::string, std::string, HeaderNameLess>& Headers() const { return m_mapHeaders; }

 private:
  void AddDefaultHeaders();

  int m_nStatusCode = 0;
  std::string m_strVersion;
  std::string m_strReason;
  std::string m_strPath;
  std::map<std::string, std::string, HeaderNameLess> m_mapHeaders;
};
