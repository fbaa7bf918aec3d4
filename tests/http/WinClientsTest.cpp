// CWinHttp and CWininetHttp on the real libraries (under Wine) against the
// local API peer and nginx: GET and POST over verified HTTPS, bad
// certificates refused, redirects, statuses, limits and time-outs.
#include <doctest/doctest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <rapidjson/document.h>

#include "common/JsonStruct.h"
#include "http/WinHttp.h"
#include "http/WininetHttp.h"
#include "system/Strings.h"
#include "tests/peers/Peers.h"
#include "tests/http/WineTestCa.h"
#include "tests/support/TestSupport.h"

namespace {


// Peer addresses by the name "localhost": the test certificate names it, and
// the system libraries match host names, not IP addresses, against it.
std::string PeerUrl(const std::string& service, const std::string& key, const std::string& path) {
  std::string url = zvpeers::Url(service, key, path);
  size_t at = url.find("127.0.0.1");
  return url.replace(at, 9, "localhost");
}

std::wstring ApiUrl(const std::string& key, const std::string& path) {
  return Utf8ToWide(PeerUrl("api", key, path));
}

// Both clients through the factory, as callers get them.
struct Client {
  explicit Client(int type) {
    REQUIRE(CreateHttpInstance(&base, type));
    text = static_cast<IWininetHttp*>(base);
  }
  ~Client() { base->FreeInstance(); }
  void Timeouts(int ms) {
    if (auto* win = dynamic_cast<CWinHttp*>(base)) win->SetTimeOut(ms, ms, ms);
    if (auto* inet = dynamic_cast<CWininetHttp*>(base)) inet->SetTimeOut(ms, ms, ms);
  }
  IHttpBase* base = nullptr;
  IWininetHttp* text = nullptr;
};

rapidjson::Document Json(const std::string& text) {
  rapidjson::Document d;
  d.Parse(text.c_str());
  return d;
}

const int kTypes[] = {kHttpTransport_Wininet, kHttpTransport_WinHttp};

}  // namespace

TEST_CASE("GET and POST over verified HTTPS reach the server as sent") {
  zvtest::TrustTestCaInPrefix();
  for (int type : kTypes) {
    CAPTURE(type);
    Client c(type);
    std::string got = c.text->RequestW(ApiUrl("https", "/echo?x=1").c_str(), 0, nullptr, nullptr);
    REQUIRE_MESSAGE(c.base->GetErrorCode() == kHttpErr_None,
                    "system error " << dynamic_cast<CSystemHttpClient*>(c.base)->GetSystemError());
    CHECK(c.base->GetHttpCode() == 200);
    rapidjson::Document echo = Json(got);
    REQUIRE(echo.IsObject());
    CHECK(std::string(echo["method"].GetString()) == "GET");
    CHECK(std::string(echo["path"].GetString()) == "/echo?x=1");
    CHECK(std::string(echo["headers"]["User-Agent"].GetString()).find("Chrome/80.0.4044.92") != std::string::npos);
    CHECK(std::string(echo["headers"]["Accept-Language"].GetString()) == "zh-CN,zh;q=0.9");

    const std::string body = "{\n    \"client_id\": \"caf\xc3\xa9\"\n}";
    std::string url = PeerUrl("api", "https", "/echo");
    got = c.text->RequestA(url.c_str(), 1, body.c_str(), "Content-Type: application/json; charset=utf-8");
    CHECK(c.base->GetHttpCode() == 200);
    echo = Json(got);
    REQUIRE(echo.IsObject());
    CHECK(std::string(echo["method"].GetString()) == "POST");
    CHECK(std::string(echo["body"].GetString()) == body);
    CHECK(std::string(echo["headers"]["Content-Type"].GetString()) == "application/json; charset=utf-8");

    got = c.text->RequestA(url.c_str(), 1, "", nullptr);
    echo = Json(got);
    REQUIRE(echo.IsObject());
    CHECK(std::string(echo["headers"]["Content-Length"].GetString()) == "0");
    // The plain listener with the same object: TLS follows the scheme alone.
    got = c.text->RequestW(ApiUrl("http", "/echo").c_str(), 0, nullptr, nullptr);
    CHECK(Json(got).IsObject());
  }
}

TEST_CASE("Certificates the system cannot verify stop the request") {
  zvtest::TrustTestCaInPrefix();
  for (int type : kTypes) {
    for (const char* key : {"https_untrusted", "https_wronghost", "https_expired"}) {
      CAPTURE(type);
      CAPTURE(std::string(key));
      Client c(type);
      std::wstring url = Utf8ToWide(PeerUrl("nginx", key, "/files/small.bin"));
      CHECK(c.text->RequestW(url.c_str(), 0, nullptr, nullptr).empty());
      CHECK(c.base->GetErrorCode() == kHttpErr_Send);
      void* buffer = nullptr;
      size_t length = 0;
      CHECK_FALSE(c.base->DownloadToMemory(url, &buffer, &length));
      CHECK(buffer == nullptr);
    }
  }
}

TEST_CASE("Statuses, redirects, framing and size limits") {
  zvtest::TrustTestCaInPrefix();
  const struct {
    const char* path;
    HttpInterfaceError error;
    int status;
  } cases[] = {
      {"/status/404", kHttpErr_Status, 404},
      {"/status/500", kHttpErr_Status, 500},
      {"/status/403", kHttpErr_Status, 403},
      {"/redirect/5", kHttpErr_None, 200},
      {"/redirect/6", kHttpErr_Redirect, 302},
      {"/to-http", kHttpErr_Redirect, 302},  // never from https down to http
      {"/big", kHttpErr_Size, 200},
      {"/chunked", kHttpErr_None, 200},
      {"/short", kHttpErr_Read, 200},
  };
  for (int type : kTypes) {
    for (const auto& t : cases) {
      CAPTURE(type);
      CAPTURE(std::string(t.path));
      Client c(type);
      c.Timeouts(5000);
      std::string got = c.text->RequestW(ApiUrl("https", t.path).c_str(), 0, nullptr, nullptr);
      CHECK(c.base->GetErrorCode() == t.error);
      CHECK(c.base->GetHttpCode() == t.status);
      if (t.error != kHttpErr_None) CHECK(got.empty());
    }
    Client c(type);
    std::string chunked = c.text->RequestW(ApiUrl("https", "/chunked").c_str(), 0, nullptr, nullptr);
    CHECK(chunked.size() == 890);  // "chunk-0 " ... "chunk-99 "
    CHECK(chunked.rfind("chunk-0 chunk-1 ", 0) == 0);
  }
}

TEST_CASE("DownloadToMemory and DownloadFile over HTTPS") {
  zvtest::TrustTestCaInPrefix();
  zvtest::TempDir dir("win_clients");
  for (int type : kTypes) {
    CAPTURE(type);
    Client c(type);
    void* buffer = nullptr;
    size_t length = 0;
    REQUIRE(c.base->DownloadToMemory(Utf8ToWide(PeerUrl("nginx", "https", "/files/exact.bin")), &buffer, &length));
    CHECK(std::string(static_cast<char*>(buffer), length) == zvtest::ReadFile(zvpeers::FilesDir() / "exact.bin"));
    std::free(buffer);
    CHECK_FALSE(c.base->DownloadToMemory(Utf8ToWide(PeerUrl("nginx", "https", "/files/large.bin")), &buffer, &length));
    CHECK(c.base->GetErrorCode() == kHttpErr_Size);
    REQUIRE(c.base->DownloadToMemory(Utf8ToWide(PeerUrl("nginx", "https", "/files/empty.bin")), &buffer, &length));
    CHECK(length == 0);
    std::free(buffer);

    std::filesystem::path target = dir.path() / ("t" + std::to_string(type)) / "sub" / "medium.bin";
    if (type == kHttpTransport_WinHttp) std::filesystem::create_directories(target.parent_path());
    REQUIRE(c.base->DownloadFile(Utf8ToWide(PeerUrl("nginx", "https", "/files/medium.bin")), target.wstring()));
    CHECK(zvtest::ReadFile(target) == zvtest::ReadFile(zvpeers::FilesDir() / "medium.bin"));
    CHECK_FALSE(c.base->DownloadFile(ApiUrl("https", "/short"), target.wstring()));
    CHECK(c.base->GetErrorCode() == kHttpErr_Read);
    CHECK_FALSE(std::filesystem::exists(target));
  }
}

TEST_CASE("A silent server is given up after the time-outs; a closed port fails at once") {
  zvtest::TrustTestCaInPrefix();
  for (int type : kTypes) {
    CAPTURE(type);
    Client c(type);
    c.Timeouts(1500);
    auto start = std::chrono::steady_clock::now();
    CHECK(c.text->RequestW(ApiUrl("https", "/slow?ms=8000").c_str(), 0, nullptr, nullptr).empty());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    CHECK(c.base->GetErrorCode() != kHttpErr_None);
    // The server answers after 8 s: an empty result means the 1.5 s limits held.
    MESSAGE("gave up after " << seconds << " s with code " << c.base->GetErrorCode());
    CHECK(c.text->RequestW(L"https://127.0.0.1:1/", 0, nullptr, nullptr).empty());
    CHECK(c.base->GetErrorCode() != kHttpErr_None);
    CHECK(c.text->RequestW(L"", 0, nullptr, nullptr).empty());
    CHECK(c.base->GetErrorCode() == kHttpErr_NoRequestUrl);
    CHECK(c.text->RequestW(L"ftp://127.0.0.1/x", 0, nullptr, nullptr).empty());
    CHECK(c.base->GetErrorCode() == kHttpErr_BadUrl);
  }
}

TEST_CASE("The carousel answer of the API peer reads as three banners") {
  zvtest::TrustTestCaInPrefix();
  Client c(kHttpTransport_WinHttp);
  std::string text = c.text->RequestW(ApiUrl("https", "/carousel/good").c_str(), 0, nullptr, nullptr);
  ApiResult result;
  std::vector<ImageInfo> images;
  REQUIRE(ParseApiResponse(text, result, images));
  CHECK(result.code == 1);
  REQUIRE(images.size() == 3);
  void* buffer = nullptr;
  size_t length = 0;
  REQUIRE(c.base->DownloadToMemory(Utf8ToWide(images[0].url), &buffer, &length));
  CHECK(std::string(static_cast<char*>(buffer), 8) == "\x89PNG\r\n\x1a\n");
  std::free(buffer);
}

TEST_CASE("Broken carousel answers served over HTTPS never yield usable banners") {
  zvtest::TrustTestCaInPrefix();
  const struct {
    const char* mode;
    bool parses;
    int code;
    size_t images;
  } cases[] = {
      {"one", true, 1, 1},       {"twelve", true, 1, 12},   {"empty", true, 1, 0},
      {"code0", true, 0, 1},     {"typed", true, -1, 0},    {"malformed", false, -1, 0},
      {"truncated", false, -1, 0}, {"deep", false, -1, 0}, {"badimages", true, 1, 4},
  };
  for (const auto& t : cases) {
    CAPTURE(std::string(t.mode));
    Client c(kHttpTransport_WinHttp);
    std::string text = c.text->RequestW(ApiUrl("https", std::string("/carousel/") + t.mode).c_str(), 0, nullptr, nullptr);
    ApiResult result;
    std::vector<ImageInfo> images;
    CHECK(ParseApiResponse(text, result, images) == t.parses);
    CHECK(result.code == t.code);
    CHECK(images.size() == t.images);
  }
  // Larger than any answer may be: refused while reading, nothing parsed.
  Client c(kHttpTransport_WinHttp);
  CHECK(c.text->RequestW(ApiUrl("https", "/carousel/huge").c_str(), 0, nullptr, nullptr).empty());
  CHECK(c.base->GetErrorCode() == kHttpErr_Size);
  // Images that are no images, missing, or changed: the fetch tells them apart.
  std::string text = c.text->RequestW(ApiUrl("https", "/carousel/badimages").c_str(), 0, nullptr, nullptr);
  ApiResult result;
  std::vector<ImageInfo> images;
  REQUIRE(ParseApiResponse(text, result, images));
  REQUIRE(images.size() == 4);
  void* buffer = nullptr;
  size_t length = 0;
  REQUIRE(c.base->DownloadToMemory(Utf8ToWide(images[1].url), &buffer, &length));
  CHECK(std::string(static_cast<char*>(buffer), length) == "not an image\n");
  std::free(buffer);
  CHECK_FALSE(c.base->DownloadToMemory(Utf8ToWide(images[2].url), &buffer, &length));
  CHECK(c.base->GetHttpCode() == 404);
}
