#include <doctest/doctest.h>

#include "tool/RequestUrl.h"

TEST_CASE("request addresses: the scheme at the start decides TLS and the default port") {
  struct Case {
    const wchar_t* url;
    bool ok;
    bool secure;
    const wchar_t* host;
    unsigned port;
    const wchar_t* path;
  };
  const Case cases[] = {
      {L"http://example.test/a/b.exe", true, false, L"example.test", 80, L"/a/b.exe"},
      {L"https://example.test/a?x=1&y=2", true, true, L"example.test", 443, L"/a?x=1&y=2"},
      {L"HTTPS://Example.test:8443/", true, true, L"Example.test", 8443, L"/"},
      {L"http://127.0.0.1:18080/files/x#frag", true, false, L"127.0.0.1", 18080, L"/files/x"},
      {L"https://[::1]:9443/p", true, true, L"::1", 9443, L"/p"},
      {L"http://[::1]/p", true, false, L"::1", 80, L"/p"},
      // no "/" after the host: refused before any traffic
      {L"http://example.test", false, false, L"", 0, L""},
      // the scheme only counts at the start
      {L"ftp://mirror/http://example.test/x", false, false, L"", 0, L""},
      {L"see http://example.test/x", false, false, L"", 0, L""},
      {L"https:/example.test/x", false, false, L"", 0, L""},
      {L"http:///x", false, false, L"", 0, L""},
      {L"http://user:pw@example.test/x", false, false, L"", 0, L""},
      {L"http://example.test:/x", false, false, L"", 0, L""},
      {L"http://example.test:0/x", false, false, L"", 0, L""},
      {L"http://example.test:65536/x", false, false, L"", 0, L""},
      {L"http://example.test:80a/x", false, false, L"", 0, L""},
      {L"http://[::1/x", false, false, L"", 0, L""},
      {L"http://exa mple.test/x", false, false, L"", 0, L""},
      {L"http://example.test/x\r\nHost: evil", false, false, L"", 0, L""},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.url, c.url + wcslen(c.url)));
    RequestUrl parsed;
    REQUIRE(ParseRequestUrl(c.url, parsed) == c.ok);
    if (!c.ok) continue;
    CHECK(parsed.secure == c.secure);
    CHECK(parsed.host == c.host);
    CHECK(parsed.port == c.port);
    CHECK(parsed.path == c.path);
  }
}

TEST_CASE("Content-Length values are whole 64-bit numbers or refused") {
  int64_t value = -7;
  CHECK(ParseContentLength(L"0", value));
  CHECK(value == 0);
  CHECK(ParseContentLength(L" 4294967297 ", value));
  CHECK(value == 4294967297LL);
  CHECK(ParseContentLength(L"9223372036854775807", value));
  CHECK(value == INT64_MAX);
  value = 5;
  for (const wchar_t* bad : {L"", L"  ", L"-1", L"+3", L"12x", L"1 2", L"0x10", L"9223372036854775808",
                             L"99999999999999999999999"}) {
    CHECK_FALSE(ParseContentLength(bad, value));
  }
  CHECK(value == 5);  // left alone on failure
}
