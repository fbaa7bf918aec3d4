// Address parsing, redirect resolution and the header builder/parser.
#include <doctest/doctest.h>

#include "http/HttpHeader.h"
#include "http/Url.h"

namespace {

struct UrlCase {
  const char* url;
  bool ok;
  bool secure = false;
  const char* host = "";
  int port = 0;
  const char* target = "";
};

}  // namespace

TEST_CASE("ParseHttpUrl: scheme decides TLS and default port; bad input is refused") {
  const UrlCase cases[] = {
      {"http://example.com/a/b?x=1", true, false, "example.com", 80, "/a/b?x=1"},
      {"https://example.com", true, true, "example.com", 443, "/"},
      {"HTTPS://Example.com:8443/a", true, true, "Example.com", 8443, "/a"},
      {"http://host:443/x", true, false, "host", 443, "/x"},  // port does not make it TLS
      {"bare-host", true, false, "bare-host", 80, "/"},
      {"bare-host:8080/p", true, false, "bare-host", 8080, "/p"},
      {"http://h?q=1", true, false, "h", 80, "/?q=1"},
      {"http://h/p#frag", true, false, "h", 80, "/p"},
      {"http://h/p?q#frag", true, false, "h", 80, "/p?q"},
      {"http://user:pw@h:81/p", true, false, "h", 81, "/p"},
      {"http://good.com@evil.com/p", true, false, "evil.com", 80, "/p"},
      {"http://[::1]:8080/p", true, false, "::1", 8080, "/p"},
      {"https://[2001:db8::1]/", true, true, "2001:db8::1", 443, "/"},
      {"http://h:/p", true, false, "h", 80, "/p"},
      {"http://h/caf\xc3\xa9", true, false, "h", 80, "/caf%C3%A9"},
      {"http://h/a\"b", true, false, "h", 80, "/a%22b"},
      // An inner address in the query does not take over.
      {"https://api.example/r?next=http://other/x", true, true, "api.example", 443,
       "/r?next=http://other/x"},
      {"", false},
      {"http://", false},
      {"http:///path", false},
      {"https://:443/", false},
      {"http://h:x/", false},
      {"http://h:0/", false},
      {"http://h:65536/", false},
      {"http://h:123456/", false},
      {"ftp://h/file", false},
      {"file:///etc/passwd", false},
      {"/relative/only", false},
      {"http://h p/", false},
      {"http://h/p q", false},
      {"http://h/p\r\nX: y", false},
      {"http://[::1/p", false},
      {"http://[::1]x/p", false},
      {"http://[zz::1]/", false},
      {"http://h\\evil/", false},
  };
  for (const auto& c : cases) {
    CAPTURE(c.url);
    HttpUrl url;
    REQUIRE(ParseHttpUrl(c.url, url) == c.ok);
    if (!c.ok) continue;
    CHECK(url.secure == c.secure);
    CHECK(url.host == c.host);
    CHECK(url.port == c.port);
    CHECK(url.target == c.target);
  }
  HttpUrl url;
  CHECK_FALSE(ParseHttpUrl("http://h/" + std::string(kMaxUrlLength, 'a'), url));
  CHECK_FALSE(ParseHttpUrl("http://" + std::string(254, 'a') + "/", url));
}

TEST_CASE("Authority carries brackets and non-default ports only") {
  HttpUrl url;
  REQUIRE(ParseHttpUrl("http://[::1]:8080/p", url));
  CHECK(url.Authority() == "[::1]:8080");
  CHECK(url.ToString() == "http://[::1]:8080/p");
  REQUIRE(ParseHttpUrl("https://h:443/p", url));
  CHECK(url.Authority() == "h");
  REQUIRE(ParseHttpUrl("https://h:80/p", url));
  CHECK(url.Authority() == "h:80");
}

TEST_CASE("ParseUrlW/ParseUrlA leave outputs alone on failure") {
  std::wstring host = L"keep", path = L"keep";
  uint16_t port = 7;
  bool secure = false;
  CHECK_FALSE(ParseUrlW(L"gopher://x/", host, path, port, &secure));
  CHECK(host == L"keep");
  CHECK(port == 7);
  REQUIRE(ParseUrlW(L"https://h:9443/a?b", host, path, port, &secure));
  CHECK(host == L"h");
  CHECK(path == L"/a?b");
  CHECK(port == 9443);
  CHECK(secure);
}

TEST_CASE("ResolveHttpUrl follows RFC 3986 reference resolution") {
  HttpUrl base;
  REQUIRE(ParseHttpUrl("http://a/b/c/d;p?q", base));
  const struct {
    const char* ref;
    const char* expect;  // null: refused
  } cases[] = {
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g/"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q"},
      {"g#s", "http://a/b/c/g"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"g/../h", "http://a/b/c/h"},
      {"https://other:8443/x", "https://other:8443/x"},
      {"HTTP://other/x", "http://other/x"},
      {"ftp://other/x", nullptr},
      {"javascript:alert(1)", nullptr},
      {"g\r\nSet-Cookie: x", nullptr},
  };
  for (const auto& c : cases) {
    CAPTURE(c.ref);
    HttpUrl out;
    bool ok = ResolveHttpUrl(base, c.ref, out);
    REQUIRE(ok == (c.expect != nullptr));
    if (ok) CHECK(out.ToString() == c.expect);
  }
  HttpUrl secureBase;
  REQUIRE(ParseHttpUrl("https://s/x/y", secureBase));
  HttpUrl out;
  REQUIRE(ResolveHttpUrl(secureBase, "//t/z", out));
  CHECK(out.ToString() == "https://t/z");
}

TEST_CASE("CHttpHeader: first value wins, unsafe pairs are refused") {
  CHttpHeader header;
  header.AddHeader("X-One", "1");
  header.AddHeader("x-one", "2");
  header.AddHeader("", "v");
  header.AddHeader("X-Empty", "");
  header.AddHeader("X-Inject", "a\r\nEvil: 1");
  header.AddHeader("Bad Name", "v");
  header.AddHeader("Bad:Name", "v");
  CHECK(header.GetHeader("X-ONE") == "1");
  CHECK(header.Headers().size() == 1);
  header.SetHeader("X-One", "3");
  CHECK(header.GetHeader("x-one") == "3");
  CHECK(header.Headers().size() == 1);
}

TEST_CASE("BuildGetRequest: request line, defaults in name order, closing CR LFs") {
  CHttpHeader header;
  header.SetPath("/x");
  std::string text = header.BuildGetRequest();
  const std::string expected =
      "GET /x HTTP/1.1\r\n"
      "Accept: */*\r\n"
      "Accept-Language: zh-CN,zh;q=0.9\r\n"
      "Connection: Keep-Alive\r\n"
      "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
      "Gecko) Chrome/80.0.4044.92 Safari/537.36\r\n"
      "\r\n\r\n";
  CHECK(text == expected);
  // A header added by the caller keeps its value over the default.
  CHttpHeader custom;
  custom.AddHeader("User-Agent", "mine");
  CHECK(custom.BuildHeaderLines().find("User-Agent: mine\r\n") != std::string::npos);
}

TEST_CASE("ParseResponse: status line, headers, conflicts and garbage") {
  CHttpHeader header;
  REQUIRE(header.ParseResponse(
      "HTTP/1.1 302 Found\r\nLocation: /next\r\ncontent-length:  12 \r\nLocation: /second\r\n"
      "no colon here\r\nX-Empty:"));
  CHECK(header.Version() == "HTTP/1.1");
  CHECK(header.StatusCode() == 302);
  CHECK(header.Reason() == "Found");
  CHECK(header.GetHeader("Location") == "/next");
  CHECK(header.GetHeader("Content-Length") == "12");
  CHECK(header.HasHeader("X-Empty"));

  REQUIRE(header.ParseResponse("HTTP/1.0 204"));
  CHECK(header.StatusCode() == 204);
  CHECK(header.Reason().empty());

  CHttpHeader kept;
  REQUIRE(kept.ParseResponse("HTTP/1.1 200 OK"));
  const char* bad[] = {
      "",
      "garbage",
      "HTTP/1.1 20 OK",
      "HTTP/1.1 2000 OK",
      "HTTP/1.1 abc OK",
      "HTTP/1.1 099 Low",
      "ICY 200 OK",
      "HTTP/1.1 200OK",
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6",
  };
  for (const char* text : bad) {
    CAPTURE(text);
    CHECK_FALSE(kept.ParseResponse(text));
    CHECK(kept.StatusCode() == 200);
  }
  CHECK(kept.ParseResponse("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5"));
}
