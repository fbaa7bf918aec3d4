// The engine's pure parts: URL parsing and reference resolution, the
// response-head parsers, the interval sets and their bitfields, the error
// category, the piece size, the cookie jar.
#include <doctest/doctest.h>

#include "engine/cookie_jar.h"
#include "engine/error.h"
#include "engine/http_message.h"
#include "engine/multi_download.h"
#include "engine/range_set.h"
#include "engine/url.h"

using namespace engine;

TEST_CASE("url parse and text forms") {
  std::error_code ec;
  url u = url::parse("HTTPS://user:pw@Example.com:8443/a/b.exe?x=1#frag", ec);
  REQUIRE_FALSE(ec);
  CHECK(u.scheme == "https");
  CHECK(u.user_info == "user:pw");
  CHECK(u.host == "Example.com");
  CHECK(u.port == "8443");
  CHECK(u.path == "/a/b.exe");
  CHECK(u.query == "x=1");
  CHECK(u.fragment == "frag");
  CHECK(u.text(url::kHostHeader) == "Example.com:8443");
  CHECK(u.text(url::kTarget) == "/a/b.exe?x=1#frag");
  CHECK(u.text() == "https://user:pw@Example.com:8443/a/b.exe?x=1#frag");

  url v6 = url::parse("http://[::1]:81", ec);
  REQUIRE_FALSE(ec);
  CHECK(v6.ipv6);
  CHECK(v6.host == "::1");
  CHECK(v6.path == "/");
  CHECK(v6.text(url::kHostHeader) == "[::1]:81");
  CHECK(url::parse("http://h", ec).port_number() == 80);
  CHECK(url::parse("https://h", ec).port_number() == 443);

  for (const char* bad : {"no-scheme", "http:/x", "http://", "http://h:port/", "http://h:99999/", "http://[::1]x/"}) {
    CAPTURE(bad);
    url b = url::parse(bad, ec);
    CHECK(ec);
    CHECK(b.host.empty());
  }
}

TEST_CASE("redirect references resolve as RFC 3986 says") {
  std::error_code ec;
  url base = url::parse("http://a/b/c/d;p?q", ec);
  // The normal and abnormal examples of RFC 3986 section 5.4.
  const std::pair<const char*, const char*> cases[] = {
      {"g", "http://a/b/c/g"},          {"./g", "http://a/b/c/g"},       {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},             {"//g", "http://g/"},             {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},      {"#s", "http://a/b/c/d;p?q#s"},  {"g#s", "http://a/b/c/g#s"},
      {";x", "http://a/b/c/;x"},        {"", "http://a/b/c/d;p?q"},      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},          {"..", "http://a/b/"},           {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},         {"../..", "http://a/"},          {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"},     {"/./g", "http://a/g"},          {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},        {"..g", "http://a/b/c/..g"},     {"./../g", "http://a/b/g"},
      {"g/./h", "http://a/b/c/g/h"},    {"g/../h", "http://a/b/c/h"},
      {"https://other:8443/x", "https://other:8443/x"},
  };
  for (const auto& c : cases) {
    CAPTURE(c.first);
    url r = resolve_reference(base, c.first, ec);
    CHECK_FALSE(ec);
    CHECK(r.text() == c.second);
  }
  // A slash and a name under a directory does not double the slash.
  url dir = url::parse("http://h/dir/file.exe", ec);
  CHECK(resolve_reference(dir, "/new.exe", ec).text() == "http://h/new.exe");
}

TEST_CASE("status line") {
  int status = 0;
  CHECK(parse_status_line("HTTP/1.1 206 Partial Content", status));
  CHECK(status == 206);
  CHECK(parse_status_line("HTTP/1.0 200 ", status));
  for (const char* bad : {"HTTP/1.1 200", "HTTP/1.1 20 OK", "HTTP/1.1 2000 OK", "HTTX/1.1 200 OK", "HTTP/1 200 OK",
                          "HTTP/1.1 200 O\x01K", "HTTP/1.1  200 OK"}) {
    CAPTURE(bad);
    CHECK_FALSE(parse_status_line(bad, status));
  }
}

TEST_CASE("header block") {
  request_opts h;
  REQUIRE(parse_header_block("Content-Length: 10\r\nX-Fold: a\r\n  b\r\nEmpty:", h));
  CHECK(h.get("content-length") == "10");
  CHECK(h.get("X-FOLD") == "a b");
  CHECK(h.get("Empty") == "");
  for (const char* bad : {"No colon", "Bad Name: x", ": novalue", " leading-fold: x", "X: a\x01", "{x}: 1"}) {
    CAPTURE(bad);
    request_opts o;
    CHECK_FALSE(parse_header_block(bad, o));
  }
}

TEST_CASE("numbers and ranges from the server are bounded") {
  int64_t v = 0;
  CHECK(parse_decimal("4295967297", v));
  CHECK(v == 4295967297LL);
  CHECK_FALSE(parse_decimal("99999999999999999999999", v));
  CHECK_FALSE(parse_decimal("-1", v));
  CHECK_FALSE(parse_decimal("12 ", v));
  CHECK_FALSE(parse_decimal("", v));

  content_range r;
  REQUIRE(parse_content_range("bytes 0-1023/5000", r));
  CHECK(r.first == 0);
  CHECK(r.last == 1023);
  CHECK(r.total == 5000);
  REQUIRE(parse_content_range("bytes 4294967296-4294968295/4295967297", r));
  CHECK(r.first == 4294967296LL);
  for (const char* bad : {"bytes 5-4/10", "bytes 0-10/10", "bytes 0-1/18446744073709551615", "items 0-1/2", "bytes 0-/2"}) {
    CAPTURE(bad);
    CHECK_FALSE(parse_content_range(bad, r));
  }

  uint64_t size = 0;
  CHECK(parse_chunk_size("1aF;ext=1", size));
  CHECK(size == 0x1af);
  CHECK_FALSE(parse_chunk_size("zz", size));
  CHECK_FALSE(parse_chunk_size("1111111111111111111111111111111111111111", size));
  CHECK_FALSE(parse_chunk_size("", size));
}

TEST_CASE("request option list") {
  request_opts o;
  o.insert("Range", "bytes=0-");
  o.insert("range", "second");
  std::string v;
  CHECK(o.find("RANGE", v));
  CHECK(v == "bytes=0-");
  o.set("Range", "bytes=1-2");
  CHECK(o.items().size() == 1);
  CHECK(o.get("range") == "bytes=1-2");
  CHECK(o.remove("Range"));
  CHECK_FALSE(o.find("Range", v));
}

TEST_CASE("interval sets") {
  range_set s;
  s.reset(100);
  CHECK_FALSE(s.add(-1, 5));
  CHECK_FALSE(s.add(5, 5));
  CHECK_FALSE(s.add(90, 101));
  CHECK(s.add(10, 20));
  CHECK(s.add(20, 30));
  CHECK(s.add(50, 60));
  CHECK(s.total() == 30);
  auto g = s.gaps();
  REQUIRE(g.size() == 3);
  CHECK(g[0] == std::make_pair<int64_t, int64_t>(0, 10));
  CHECK(g[1] == std::make_pair<int64_t, int64_t>(30, 50));
  CHECK(g[2] == std::make_pair<int64_t, int64_t>(60, 100));
  int64_t a = 0, e = 0;
  REQUIRE(s.first_gap(35, a, e));
  CHECK(a == 35);
  CHECK(e == 50);
  REQUIRE(s.first_gap(95, a, e));
  CHECK(a == 95);
  s.remove(15, 55);
  CHECK(s.total() == 10);
  CHECK_FALSE(s.is_full());
  s.add(0, 100);
  CHECK(s.is_full());
  CHECK_FALSE(s.first_gap(0, a, e));
}

TEST_CASE("bitfield round trip keeps only whole pieces") {
  range_set s;
  s.reset(1000);  // 10 pieces of 100 bytes... with 128-byte pieces: 8 pieces, last short
  s.add(0, 300);
  s.add(640, 1000);
  int64_t bits = 0;
  auto field = s.to_bitfield(128, bits);
  CHECK(bits == 8);
  REQUIRE(field.size() == 1);
  CHECK(field[0] == 0xC7);  // pieces 0,1 and 5,6,7 (the short last piece included)
  range_set back;
  back.reset(1000);
  back.from_bitfield(field, bits, 128);
  CHECK(back.total() == 256 + 360);
  auto gaps = back.gaps();
  REQUIRE(gaps.size() == 1);
  CHECK(gaps[0] == std::make_pair<int64_t, int64_t>(256, 640));

  // A size that is a multiple of the piece size: no extra piece.
  range_set exact;
  exact.reset(512);
  exact.add(0, 512);
  field = exact.to_bitfield(128, bits);
  CHECK(bits == 4);
  CHECK(field == std::vector<uint8_t>{0xF0});

  // Offsets past 4 GiB.
  range_set big;
  const int64_t size = 4LL * 1024 * 1024 * 1024 + 1000001;
  big.reset(size);
  big.add(size - 1000001, size);
  field = big.to_bitfield(16 * 1024 * 1024, bits);
  CHECK(bits == 257);
  CHECK(field.back() == 0x80);
}

TEST_CASE("error category") {
  CHECK(std::string(http_category().name()) == "HTTP");
  CHECK(make_error_code(404).message() == "Not found");
  CHECK(make_error_code(1006).message() == "SOCKS no identd running");
  CHECK(make_error_code(1007).message() == "SOCKS no identd running");
  CHECK(make_error_code(418).message() == "Unknown HTTP error");
  CHECK(make_error_code(407).message() == "Proxy authentication required");
  CHECK(make_error_code(403) == std::errc::permission_denied);
  CHECK(make_error_code(404) == std::errc::no_such_file_or_directory);
  CHECK(is_http_error(make_error_code(405), 405));
  CHECK_FALSE(is_http_error(std::error_code(405, std::generic_category()), 405));
}

TEST_CASE("default piece size") {
  CHECK(multi_download::default_piece_size(300000000) == 262144);
  CHECK(multi_download::default_piece_size(200000000) == 131072);
  CHECK(multi_download::default_piece_size(1000) == 16384);
  CHECK(multi_download::default_piece_size(1LL << 40) == 16 * 1024 * 1024);
}

TEST_CASE("HTTP dates in their three forms") {
  std::time_t t = 0;
  for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                           "Sun Nov  6 08:49:37 1994"}) {
    INFO(text);
    REQUIRE(parse_http_date(text, t));
    CHECK(t == 784111777);
  }
  for (const char* bad : {"", "yesterday", "Sun, 06 Nov 1994 25:49:37 GMT", "Sun, 06 Foo 1994 08:49:37 GMT",
                          "Sun, 06 Nov 1994 08:49:37 CET"}) {
    INFO(bad);
    CHECK_FALSE(parse_http_date(bad, t));
  }
}

TEST_CASE("cookie jar reads the attributes and sends back what matches") {
  const std::time_t now = 1700000000;  // 2023-11-14
  std::error_code ec;
  auto at = [&](const char* text) { return url::parse(text, ec); };
  const url from = at("https://dl.example.com/files/app/setup.exe");

  struct Case {
    const char* set_cookie;
    const char* request;  // where the cookie must go (empty: nowhere it is asked for below)
    const char* not_to;   // where it must not go
  };
  const Case cases[] = {
      // The old reader took any "secure" in the attributes as the flag.
      {"a=1; Path=/secure", "http://dl.example.com/secure/x", "http://dl.example.com/other"},
      {"b=2; Secure", "https://dl.example.com/files/app/y", "http://dl.example.com/files/app/y"},
      {"c=3; Domain=.example.com; Path=/", "https://cdn.example.com/z", "https://example.org/z"},
      {"d=4", "https://dl.example.com/files/app/more", "https://cdn.example.com/files/app/more"},
      {"e=5", "https://dl.example.com/files/app", "https://dl.example.com/files/application"},
      {"f=6; Expires=Wed, 21 Oct 2099 07:28:00 GMT; HttpOnly", "https://dl.example.com/files/app/q", ""},
      {"g=7; Expires=Wed, 21 Oct 2015 07:28:00 GMT", "", "https://dl.example.com/files/app/q"},
      {"h=8; Max-Age=0; Expires=Wed, 21 Oct 2099 07:28:00 GMT", "", "https://dl.example.com/files/app/q"},
      {"i=9; expires=60", "https://dl.example.com/files/app/q", ""},
  };
  for (const Case& c : cases) {
    INFO(c.set_cookie);
    cookie_jar jar;
    REQUIRE(jar.store(c.set_cookie, from, now));
    std::string name = std::string(c.set_cookie).substr(0, std::string(c.set_cookie).find(';'));
    if (*c.request) CHECK(jar.line_for(at(c.request), now) == name);
    if (*c.not_to) CHECK(jar.line_for(at(c.not_to), now).empty());
  }

  cookie_jar jar;
  REQUIRE(jar.store("f=6; Expires=Wed, 21 Oct 2099 07:28:00 GMT; HttpOnly; Secure", from, now));
  REQUIRE(jar.cookies().size() == 1);
  CHECK(jar.cookies()[0].http_only);
  CHECK(jar.cookies()[0].secure);
  CHECK(jar.cookies()[0].persistent);
  CHECK(jar.cookies()[0].path == "/files/app");
  CHECK(jar.line_for(at("https://dl.example.com/files/app/q"), now + 100 * 365 * 86400LL).empty());
  // "i=9; expires=60" lives a minute.
  REQUIRE(jar.store("i=9; expires=60", from, now));
  CHECK(jar.line_for(at("https://dl.example.com/files/app/q"), now + 61) == "f=6");
  // An expired cookie of the same name, domain and path deletes the stored one.
  REQUIRE(jar.store("f=gone; Max-Age=-1; Path=/files/app", from, now));
  CHECK(jar.line_for(at("https://dl.example.com/files/app/q"), now) == "i=9");

  // Refused: no name, a domain the host does not belong to, a line break.
  for (const char* bad : {"=v", "novalue", "x=1; Domain=example.org", "x=1; Domain=ample.com", "x=\r\n1"}) {
    INFO(bad);
    CHECK_FALSE(jar.store(bad, from, now));
  }
  // An address given by number takes no domain wider than itself.
  CHECK_FALSE(jar.store("x=1; Domain=0.1", at("http://127.0.0.1/"), now));
}
