// CWinHttpRequest against the local nginx peer, under Wine. The test CA is
// trusted in the prefix's root store (fixture wine.test_ca); HTTPS uses the
// host name "localhost" because Wine's certificate check matches host names,
// not IP addresses.
#include <doctest/doctest.h>

#include <filesystem>
#include <string>

#include "tests/peers/Peers.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"
#include "tool/WinHttpRequest.h"

namespace {

std::wstring Address(const char* scheme, const char* key, const std::string& path) {
  int port = zvpeers::Port("nginx", key);
  REQUIRE(port > 0);
  return Utf8ToWide(std::string(scheme) + "://localhost:" + std::to_string(port) + path);
}

std::wstring Plain(const std::string& path) { return Address("http", "http", path); }
std::wstring Secure(const std::string& path) { return Address("https", "https", path); }

std::string Served(const std::string& name) {
  return zvtest::ReadFile(zvpeers::FilesDir() / name);
}

bool Get(const std::wstring& url, std::string& body) {
  CWinHttpRequest request;
  return request.OpenUrl(url) && request.ReadToString(body);
}

}  // namespace

TEST_CASE("HEAD size query gives the served length over HTTP and HTTPS") {
  CHECK(GetFileSizeByHead(Plain("/files/medium.bin")) == 1000003);
  CHECK(GetFileSizeByHead(Secure("/files/medium.bin")) == 1000003);
  CHECK(GetFileSizeByHead(Secure("/files/empty.bin")) == 0);
  // redirects are followed to the file
  CHECK(GetFileSizeByHead(Secure("/redirect/small.bin")) == 5000);
  // an error page's length is no file size
  CHECK(GetFileSizeByHead(Plain("/status/404")) == 0);
  CHECK(GetFileSizeByHead(Plain("/status/500")) == 0);

  CWinHttpRequest request;
  request.SetMethod(L"HEAD");
  REQUIRE(request.OpenUrl(Plain("/files/small.bin")));
  int64_t size = -1;
  CHECK(request.GetUrlFileSize(size));
  CHECK(size == 5000);
  CHECK(std::string(request.name()) == "WinHttp");
}

TEST_CASE("GET into memory returns the exact body and refuses oversized ones") {
  std::string body;
  REQUIRE(Get(Plain("/files/small.bin"), body));
  CHECK(body == Served("small.bin"));
  REQUIRE(Get(Secure("/files/medium.bin"), body));
  CHECK(body == Served("medium.bin"));
  REQUIRE(Get(Secure("/files/empty.bin"), body));
  CHECK(body.empty());

  // a chunked answer has no length to compare; the body is still whole
  REQUIRE(Get(Plain("/chunked/small.bin"), body));
  CHECK(body == Served("small.bin"));

  // over the in-memory cap (8 MiB + 17 bytes), announced or chunked
  CHECK_FALSE(Get(Plain("/files/large.bin"), body));
  CHECK(body.empty());
  CHECK_FALSE(Get(Plain("/chunked/large.bin"), body));
  CHECK(body.empty());

  CWinHttpRequest request;
  REQUIRE(request.OpenUrl(Plain("/files/small.bin")));
  CHECK(request.ReadToString() == Served("small.bin"));
}

TEST_CASE("GET into a file writes the body and leaves nothing behind on failure") {
  zvtest::TempDir dir("winhttp");
  std::filesystem::path target = dir.path() / "banner.bin";

  CWinHttpRequest request;
  REQUIRE(request.OpenUrl(Secure("/files/large.bin")));
  REQUIRE(request.ReadToFile(target.wstring()));
  CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("large.bin"));

  // a file that cannot be created
  CWinHttpRequest again;
  REQUIRE(again.OpenUrl(Plain("/files/small.bin")));
  CHECK_FALSE(again.ReadToFile((dir.path() / "missing" / "x.bin").wstring()));
}

TEST_CASE("only a 200 answer opens") {
  std::string body = "untouched";
  for (const char* path : {"/status/404", "/status/403", "/status/500", "/files/none.bin"}) {
    CAPTURE(path);
    CWinHttpRequest request;
    CHECK_FALSE(request.OpenUrl(Plain(path)));
  }
}

TEST_CASE("certificate problems fail the request and never fall back to plain HTTP") {
  for (const char* key : {"https_untrusted", "https_wronghost", "https_expired"}) {
    CAPTURE(key);
    std::string body;
    CHECK_FALSE(Get(Address("https", key, "/files/small.bin"), body));
    CHECK(GetFileSizeByHead(Address("https", key, "/files/small.bin")) == 0);
  }
  // https to a plain-HTTP listener: the TLS attempt fails and nothing else is tried
  std::string body;
  CHECK_FALSE(Get(Address("https", "http", "/files/small.bin"), body));
  // an http address is fetched in the clear, never upgraded or retried
  CHECK_FALSE(Get(Address("http", "https", "/files/small.bin"), body));
  // a redirect from https down to http is refused
  CHECK_FALSE(Get(Secure("/to-http/small.bin"), body));
}

TEST_CASE("addresses that cannot be requested fail before any traffic") {
  CWinHttpRequest request;
  CHECK_FALSE(request.OpenUrl(L"http://localhost"));
  CHECK_FALSE(request.OpenUrl(L"ftp://localhost/x"));
  CHECK_FALSE(request.OpenUrl(L""));
  CHECK(GetFileSizeByHead(L"localhost/files/small.bin") == 0);
}
