// The user's Internet Settings proxy, set in the prefix's registry, found by
// the system query and taken by the WinHTTP helper, the analytics client and
// the download engine: only the proxy can refuse a request without its
// credentials (tinyproxy with Basic authentication), so a refusal shows that
// the request went through it, and a success with the credentials of the
// setting that they were given.
#include <doctest/doctest.h>

#include <asio.hpp>
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "download/EngineProxy.h"
#include "download/HttpDownload.h"
#include "http/HttpBase.h"
#include "system/Strings.h"
#include "tests/peers/Peers.h"
#include "tests/support/TestSupport.h"
#include "tool/BaseRequest.h"
#include "tool/SystemProxy.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Sets the user's proxy values for the test and puts the old ones back.
class InternetSettings {
 public:
  InternetSettings() {
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                            nullptr) == ERROR_SUCCESS);
    for (Saved& s : saved_) {
      s.size = sizeof(s.data);
      s.present = RegQueryValueExW(key_, s.name, nullptr, &s.type, s.data, &s.size) == ERROR_SUCCESS;
    }
  }
  ~InternetSettings() {
    for (Saved& s : saved_) {
      if (s.present)
        RegSetValueExW(key_, s.name, 0, s.type, s.data, s.size);
      else
        RegDeleteValueW(key_, s.name);
    }
    RegCloseKey(key_);
  }
  void SetScript(const std::wstring& url) {
    DWORD off = 0;
    RegSetValueExW(key_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof(off));
    SetText(L"AutoConfigURL", url);
  }
  void Set(const std::wstring& server, const std::wstring& bypass) {
    DWORD on = 1;
    RegSetValueExW(key_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof(on));
    SetText(L"ProxyServer", server);
    SetText(L"ProxyOverride", bypass);
    RegDeleteValueW(key_, L"AutoConfigURL");
  }

 private:
  struct Saved {
    const wchar_t* name;
    bool present = false;
    DWORD type = 0;
    DWORD size = 0;
    BYTE data[4096] = {};
  };
  void SetText(const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  HKEY key_ = nullptr;
  Saved saved_[4] = {{L"ProxyEnable"}, {L"ProxyServer"}, {L"ProxyOverride"}, {L"AutoConfigURL"}};
};

// Serves one proxy auto-config script to every request until destroyed.
class ScriptServer {
 public:
  explicit ScriptServer(std::string script)
      : script_(std::move(script)),
        acceptor_(io_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptServer() {
    done_ = true;
    asio::error_code ec;
    asio::ip::tcp::socket wake(io_);
    wake.connect(acceptor_.local_endpoint(), ec);
    thread_.join();
  }
  std::wstring Url() const {
    return L"http://127.0.0.1:" + std::to_wstring(acceptor_.local_endpoint().port()) + L"/proxy.pac";
  }
  int Requests() const { return requests_; }

 private:
  void Serve() {
    while (!done_) {
      asio::ip::tcp::socket socket(io_);
      asio::error_code ec;
      acceptor_.accept(socket, ec);
      if (ec || done_) break;
      asio::streambuf head;
      asio::read_until(socket, head, "\r\n\r\n", ec);
      if (ec) continue;
      ++requests_;
      std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                           "Content-Length: " + std::to_string(script_.size()) +
                           "\r\nConnection: close\r\n\r\n" + script_;
      asio::write(socket, asio::buffer(answer), ec);
    }
  }
  std::string script_;
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::atomic<int> requests_{0};
};

std::wstring Nginx(const char* scheme, const char* key, const char* host, const std::string& path) {
  return Utf8ToWide(std::string(scheme) + "://" + host + ":" + std::to_string(zvpeers::Port("nginx", key)) + path);
}

std::wstring ProxyAddress(const char* key) {
  return L"127.0.0.1:" + std::to_wstring(zvpeers::Port("httpproxy", key));
}

std::wstring Credentials() {
  return Utf8ToWide(zvpeers::Value("httpproxy", "user") + ":" + zvpeers::Value("httpproxy", "password") + "@");
}

int AnalyticsGet(const std::wstring& url) {
  IHttpBase* base = nullptr;
  REQUIRE(CreateHttpInstance(&base, kHttpTransport_WinHttp));
  auto* client = static_cast<IWinHttp*>(base);
  client->RequestW(url.c_str(), 0, nullptr, nullptr);
  int code = client->GetHttpCode();
  client->FreeInstance();
  return code;
}

int EngineDownload(const std::wstring& url, const fs::path& target) {
  DownloadRequest request;
  request.url = url;
  request.path = target.wstring();
  request.proxy = InstallEngineProxy(url);
  StartHttpDownload(&request, nullptr, nullptr);
  CancelHttpDownload();  // nothing runs any more; only the last result matters
  return fs::exists(target) ? kDownload_Success : kDownload_Failed;
}

}  // namespace

TEST_CASE("the user's manual proxy and bypass list are found for the download address") {
  REQUIRE(zvpeers::Port("httpproxy", "proxy") > 0);
  InternetSettings settings;
  settings.Set(L"http=" + ProxyAddress("proxy") + L";https=" + ProxyAddress("proxy_auth"),
               L"<local>;*.inside.test");
  std::wstring url = Nginx("http", "http", "127.0.0.1", "/files/small.bin");
  ProxyConfig config = FindSystemProxy(url);
  MESSAGE("proxy setting found: " << WideToUtf8(config.source) << ": [" << WideToUtf8(config.proxyList) << "] bypass ["
                                  << WideToUtf8(config.bypassList) << "]");
  CHECK(config.proxyList.find(ProxyAddress("proxy")) != std::wstring::npos);
  CHECK(ChooseProxy(config, url).Address() == ProxyAddress("proxy"));
  CHECK(ChooseProxy(config, L"https://dl.example.test/x").Address() == ProxyAddress("proxy_auth"));
  CHECK(ChooseProxy(config, L"https://cdn.inside.test/x").IsDirect());
  CHECK(ChooseProxy(config, L"http://localhost:1/x").IsDirect());
}

TEST_CASE("the size query, GET requests, analytics and the engine take the install's proxy") {
  REQUIRE(zvpeers::Port("httpproxy", "proxy_auth") > 0);
  InternetSettings settings;
  zvtest::TempDir dir("wine-system-proxy");
  // Wine sends the request line in absolute form only when the target's
  // name differs from the proxy's: the targets are named "localhost".
  const std::wstring plain = Nginx("http", "http", "localhost", "/files/small.bin");
  const std::wstring secure = Nginx("https", "https", "localhost", "/files/medium.bin");

  SUBCASE("without the proxy's credentials every request is refused, and the proxy is named") {
    settings.Set(ProxyAddress("proxy_auth"), L"");
    BeginInstallProxy(plain);
    CHECK(GetFileSizeByHead(plain) == 0);
    CHECK(InstallProxy::Instance().AuthRefused() == ProxyAddress("proxy_auth"));
    CHECK(AnalyticsGet(plain) == 407);
    CHECK(EngineDownload(plain + L"?engine-refused", dir.path() / "refused.bin") == kDownload_Failed);
    CHECK(EngineDownload(secure + L"?engine-refused", dir.path() / "refused-tls.bin") == kDownload_Failed);
  }
  SUBCASE("with the credentials of the setting the requests go through") {
    settings.Set(Credentials() + ProxyAddress("proxy_auth"), L"");
    BeginInstallProxy(plain);
    CHECK(GetFileSizeByHead(plain) == 5000);
    CHECK(AnalyticsGet(plain) == 200);
    CHECK(InstallProxy::Instance().AuthRefused().empty());
    // The engine's CONNECT carries the credentials (Wine's WinHTTP does not:
    // it answers a 407 to its CONNECT with the TLS handshake).
    fs::path target = dir.path() / "through-proxy.bin";
    CHECK(EngineDownload(secure + L"?engine-proxy", target) == kDownload_Success);
    CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("medium.bin"));
  }
  SUBCASE("HTTPS requests tunnel through the proxy, and fail where it is gone") {
    settings.Set(ProxyAddress("proxy"), L"");
    BeginInstallProxy(secure);
    CHECK(GetFileSizeByHead(secure) == 1000003);
    CWinHttpRequest request;
    std::string body;
    CHECK((request.OpenUrl(secure) && request.ReadToString(body) && body.size() == 1000003));
    CHECK(AnalyticsGet(secure) == 200);

    // Direct, these would succeed.
    settings.Set(L"127.0.0.1:1", L"");
    BeginInstallProxy(secure);
    CHECK(GetFileSizeByHead(secure) == 0);
    CHECK(AnalyticsGet(secure) == 0);
  }
}

TEST_CASE("an auto-config script names the proxy of the install") {
  REQUIRE(zvpeers::Port("httpproxy", "proxy_auth") > 0);
  InternetSettings settings;
  const std::wstring plain = Nginx("http", "http", "localhost", "/files/small.bin");
  const std::string proxy = WideToUtf8(ProxyAddress("proxy_auth"));
  ScriptServer pac("function FindProxyForURL(url, host) {\n"
                   "  if (host == \"localhost\") return \"PROXY " + proxy + "; DIRECT\";\n"
                   "  return \"DIRECT\";\n}\n");
  settings.SetScript(pac.Url());
  ProxyConfig config = FindSystemProxy(plain);
  MESSAGE("auto-config answer: " << WideToUtf8(config.source) << ": [" << WideToUtf8(config.proxyList) << "]");
  CHECK(pac.Requests() > 0);
  CHECK(config.source == L"auto-config script");
  CHECK(ChooseProxy(config, plain).Address() == ProxyAddress("proxy_auth"));
  // The script's proxy is taken: it asks for credentials that were not given.
  BeginInstallProxy(plain);
  CHECK(GetFileSizeByHead(plain) == 0);
  CHECK(InstallProxy::Instance().AuthRefused() == ProxyAddress("proxy_auth"));
  // Another host goes direct by the script.
  CHECK(FindSystemProxy(L"http://127.0.0.1:1/x").proxyList.empty());
}

TEST_CASE("without a user setting the machine's WinHTTP default is the answer") {
  REQUIRE(zvpeers::Port("httpproxy", "proxy") > 0);
  InternetSettings settings;
  settings.SetScript(L"");
  // The machine default is shared with every WinHTTP program of the prefix:
  // it is set for a moment only, and bypasses loopback so that nothing else
  // changes its road meanwhile.
  WINHTTP_PROXY_INFO old = {};
  REQUIRE(WinHttpGetDefaultProxyConfiguration(&old));
  std::wstring server = ProxyAddress("proxy");
  std::wstring bypass = L"localhost;127.0.0.1;*.inside.test";
  WINHTTP_PROXY_INFO machine = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, &server[0], &bypass[0]};
  REQUIRE(WinHttpSetDefaultProxyConfiguration(&machine));
  ProxyConfig config = FindSystemProxy(L"https://dl.example.test/x");
  WinHttpSetDefaultProxyConfiguration(&old);
  if (old.lpszProxy) GlobalFree(old.lpszProxy);
  if (old.lpszProxyBypass) GlobalFree(old.lpszProxyBypass);
  CHECK(config.source == L"WinHTTP machine setting");
  CHECK(ChooseProxy(config, L"https://dl.example.test/x").Address() == server);
  CHECK(ChooseProxy(config, L"https://cdn.inside.test/x").IsDirect());
}
