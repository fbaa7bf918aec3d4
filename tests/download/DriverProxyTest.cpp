// The driver's requests carry the install's proxy to every engine connection:
// through the real tinyproxy, with Basic credentials from the setting, and a
// refusal that names the proxy.
#include <doctest/doctest.h>

#include <asio.hpp>

#include <filesystem>

#include "DriverHelpers.h"
#include "download/EngineProxy.h"
#include "tests/support/TestSupport.h"
#include "tool/ProxyChoice.h"

namespace fs = std::filesystem;
using namespace drivertest;

namespace {

// A loopback port with nothing listening on it.
int DeadPort() {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  int port = acceptor.local_endpoint().port();
  acceptor.close();
  return port;
}

int Download(const std::wstring& proxyList, const std::wstring& url, const fs::path& target) {
  ProxyConfig config;
  config.proxyList = proxyList;
  config.source = L"test setting";
  InstallProxy::Instance().Set(config);
  Recorder recorder;
  DownloadRequest request;
  request.context = &recorder;
  request.url = url;
  request.path = target.wstring();
  request.proxy = InstallEngineProxy(url);
  StartHttpDownload(&request, &Recorder::Callback, nullptr);
  return recorder.Last().value;
}

std::wstring ProxyEntry(const char* key, bool credentials) {
  std::string entry = "http=";
  if (credentials)
    entry += zvpeers::Value("httpproxy", "user") + ":" + zvpeers::Value("httpproxy", "password") + "@";
  return Utf8ToWide(entry + "127.0.0.1:" + std::to_string(zvpeers::Port("httpproxy", key)));
}

std::wstring SocksEntry(const char* key, bool credentials) {
  std::string entry = "socks=";
  if (credentials)
    entry += zvpeers::Value("socks", "user") + ":" + zvpeers::Value("socks", "password") + "@";
  return Utf8ToWide(entry + "127.0.0.1:" + std::to_string(zvpeers::Port("socks", key)));
}

}  // namespace

TEST_CASE("the install's proxy carries every engine connection, credentials included") {
  REQUIRE(zvpeers::Port("httpproxy", "proxy_auth") > 0);
  REQUIRE(zvpeers::Port("socks", "socks_auth") > 0);
  zvtest::TempDir dir("driver-proxy");
  struct Case {
    const char* name;
    std::wstring list;
    const char* file;
    int result;
    bool refused;
  };
  const std::string auth = "127.0.0.1:" + std::to_string(zvpeers::Port("httpproxy", "proxy_auth"));
  const Case cases[] = {
      {"open proxy", ProxyEntry("proxy", false), "medium.bin", kDownload_Success, false},
      {"Basic credentials from the setting", ProxyEntry("proxy_auth", true), "large.bin", kDownload_Success,
       false},
      // Only the proxy can refuse: a direct request would have succeeded.
      {"no credentials: 407", ProxyEntry("proxy_auth", false), "small.bin", kDownload_Failed, true},
      {"dead proxy", L"127.0.0.1:" + std::to_wstring(DeadPort()), "small.bin", kDownload_Failed, false},
      {"socks= entry: SOCKS 5", SocksEntry("socks", false), "medium.bin", kDownload_Success, false},
      {"socks= entry with user name and password", SocksEntry("socks_auth", true), "medium.bin",
       kDownload_Success, false},
      {"socks= entry without the user name the proxy wants", SocksEntry("socks_auth", false), "small.bin",
       kDownload_Failed, true},
  };
  for (const Case& c : cases) {
    SUBCASE(c.name) {
      fs::path target = dir.path() / (std::string(c.name).substr(0, 4) + c.file);
      std::wstring url = NginxUrl(std::string("/files/") + c.file + "?proxy-" + c.name[0]);
      CHECK(Download(c.list, url, target) == c.result);
      if (c.result == kDownload_Success)
        CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256(c.file));
      std::wstring refused = InstallProxy::Instance().AuthRefused();
      if (!c.refused) CHECK(refused.empty());
      if (c.refused) CHECK(refused == (c.list.find(L"socks=") == 0 ? c.list.substr(6) : Utf8ToWide(auth)));
    }
  }
}

TEST_CASE("engine proxy settings follow the road and the credentials of the choice") {
  ProxyChoice choice;
  CHECK(ToEngineProxy(choice).kind == engine::kProxy_None);
  REQUIRE(ParseProxyServer(L"u:p@h:1", kProxyRoad_Http, choice));
  engine::proxy_settings s = ToEngineProxy(choice);
  CHECK(s.kind == engine::kProxy_HttpPassword);
  CHECK((s.host == "h" && s.port == 1 && s.user_name == "u" && s.password == "p"));
  REQUIRE(ParseProxyServer(L"h:1", kProxyRoad_Http, choice));
  CHECK(ToEngineProxy(choice).kind == engine::kProxy_Http);
  REQUIRE(ParseProxyServer(L"h", kProxyRoad_Socks5, choice));
  CHECK((ToEngineProxy(choice).kind == engine::kProxy_Socks5 && ToEngineProxy(choice).port == 1080));
  REQUIRE(ParseProxyServer(L"u:p@h", kProxyRoad_Socks5, choice));
  CHECK(ToEngineProxy(choice).kind == engine::kProxy_Socks5Password);
  REQUIRE(ParseProxyServer(L"socks4a://h:9", kProxyRoad_Http, choice));
  CHECK(ToEngineProxy(choice).kind == engine::kProxy_Socks4a);
}
