#include <doctest/doctest.h>

#include "tool/ProxyChoice.h"

namespace {

ProxyChoice Choose(const wchar_t* list, const wchar_t* bypass, const wchar_t* url) {
  ProxyConfig config;
  config.proxyList = list;
  config.bypassList = bypass;
  return ChooseProxy(config, url);
}

}  // namespace

TEST_CASE("proxy lists: the scheme's own entry, then the common one, then socks=") {
  struct Case {
    const wchar_t* list;
    const wchar_t* url;
    ProxyRoad road;
    const wchar_t* address;
  };
  const Case cases[] = {
      {L"", L"https://dl.test/a.exe", kProxyRoad_Direct, L""},
      {L"proxy.corp:3128", L"https://dl.test/a.exe", kProxyRoad_Http, L"proxy.corp:3128"},
      {L"proxy.corp:3128", L"http://dl.test/a.exe", kProxyRoad_Http, L"proxy.corp:3128"},
      {L"proxy.corp", L"http://dl.test/a.exe", kProxyRoad_Http, L"proxy.corp:80"},
      {L"http=h1:8080;https=h2:8443", L"http://dl.test/a", kProxyRoad_Http, L"h1:8080"},
      {L"http=h1:8080;https=h2:8443", L"https://dl.test/a", kProxyRoad_Http, L"h2:8443"},
      {L"HTTPS=h2:8443 http=h1:8080", L"https://dl.test/a", kProxyRoad_Http, L"h2:8443"},
      // only an entry for the other scheme: direct
      {L"http=h1:8080", L"https://dl.test/a", kProxyRoad_Direct, L""},
      {L"ftp=f:21", L"http://dl.test/a", kProxyRoad_Direct, L""},
      // socks= serves the schemes without an entry of their own
      {L"http=h1:8080;socks=s:1080", L"https://dl.test/a", kProxyRoad_Socks5, L"s:1080"},
      {L"socks=s", L"http://dl.test/a", kProxyRoad_Socks5, L"s:1080"},
      {L"socks=socks4://s:9050", L"http://dl.test/a", kProxyRoad_Socks4a, L"s:9050"},
      {L"socks5://s:9050", L"http://dl.test/a", kProxyRoad_Socks5, L"s:9050"},
      {L"common:1;socks=s:2", L"https://dl.test/a", kProxyRoad_Http, L"common:1"},
      {L"http://p.corp:3128/", L"http://dl.test/a", kProxyRoad_Http, L"p.corp:3128"},
      {L"[::1]:3128", L"http://dl.test/a", kProxyRoad_Http, L"[::1]:3128"},
      // a PAC answer of several proxies: the first
      {L"first:1;second:2", L"http://dl.test/a", kProxyRoad_Http, L"first:1"},
      // malformed entries are passed over, the next usable one serves
      {L"https=h:99999;bad:port;p:3128", L"https://dl.test/a", kProxyRoad_Http, L"p:3128"},
      {L"https=https://tls.proxy:443;p:1", L"https://dl.test/a", kProxyRoad_Http, L"p:1"},
      {L"=;;  ;https=;x=y:1", L"https://dl.test/a", kProxyRoad_Direct, L""},
      {L"[::1:3128", L"http://dl.test/a", kProxyRoad_Direct, L""},
      {L"h:0", L"http://dl.test/a", kProxyRoad_Direct, L""},
      {L"h:", L"http://dl.test/a", kProxyRoad_Direct, L""},
      {L"@h:1", L"http://dl.test/a", kProxyRoad_Direct, L""},
      // a target that is no web address goes direct
      {L"p:3128", L"ftp://dl.test/a", kProxyRoad_Direct, L""},
      {L"p:3128", L"not an address", kProxyRoad_Direct, L""},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.list, c.list + wcslen(c.list)));
    CAPTURE(std::string(c.url, c.url + wcslen(c.url)));
    ProxyChoice choice = Choose(c.list, L"", c.url);
    CHECK(choice.road == c.road);
    CHECK(choice.Address() == c.address);
  }
}

TEST_CASE("proxy lists: credentials in the setting, never in the log text") {
  ProxyChoice choice = Choose(L"https=zv:s3cr%t:x@p.corp:3128", L"", L"https://dl.test/a");
  CHECK(choice.road == kProxyRoad_Http);
  CHECK(choice.user == L"zv");
  CHECK(choice.password == L"s3cr%t:x");
  CHECK(choice.Address() == L"p.corp:3128");
  CHECK(choice.Describe() == L"http proxy p.corp:3128 with credentials");
  CHECK(choice.Describe().find(L"s3cr") == std::wstring::npos);

  choice = Choose(L"socks=user@s:1080", L"", L"http://dl.test/a");
  CHECK(choice.user == L"user");
  CHECK(choice.password.empty());
  CHECK(Choose(L"", L"", L"http://dl.test/a").Describe() == L"direct");
}

TEST_CASE("bypass lists: names, wildcards, <local>, schemes and ports") {
  struct Case {
    const wchar_t* bypass;
    const wchar_t* url;
    bool bypassed;
  };
  const Case cases[] = {
      {L"", L"http://dl.test/a", false},
      {L"<local>", L"http://intranet/a", true},
      {L"<local>", L"http://dl.test/a", false},
      {L"<LOCAL>", L"http://[::1]/a", false},
      {L"<local>", L"http://127.0.0.1/a", false},
      {L"dl.test", L"http://DL.Test/a", true},
      {L"dl.test", L"http://cdn.dl.test/a", false},
      {L"*.dl.test", L"https://cdn.dl.test/a", true},
      {L"*.dl.test", L"https://dl.test/a", false},
      {L"*dl.test", L"https://dl.test/a", true},
      {L"10.*", L"http://10.1.2.3/a", true},
      {L"10.*", L"http://110.1.2.3/a", false},
      {L"a.test; b.test , c.test", L"http://c.test/a", true},
      {L"*.corp;<local>", L"http://host/a", true},
      {L"http://dl.test", L"http://dl.test/a", true},
      {L"http://dl.test", L"https://dl.test/a", false},
      {L"dl.test:8080", L"http://dl.test:8080/a", true},
      {L"dl.test:8080", L"http://dl.test/a", false},
      {L"[::1]", L"http://[::1]:81/a", true},
      {L"[::1]:81", L"http://[::1]:82/a", false},
      {L"::1", L"http://[::1]/a", true},
      // malformed entries bypass nothing
      {L"dl.test:port", L"http://dl.test/a", false},
      {L"[::1", L"http://[::1]/a", false},
      {L":80", L"http://dl.test/a", false},
      {L"*", L"http://anything.test/a", true},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.bypass, c.bypass + wcslen(c.bypass)));
    CAPTURE(std::string(c.url, c.url + wcslen(c.url)));
    ProxyChoice choice = Choose(L"p:3128", c.bypass, c.url);
    CHECK(choice.IsDirect() == c.bypassed);
  }
}

namespace {
int g_finds = 0;
ProxyConfig CountingFinder(const std::wstring& url) {
  ++g_finds;
  ProxyConfig config;
  config.proxyList = L"p:3128";
  config.bypassList = L"*.inside";
  config.source = url;
  return config;
}
}  // namespace

TEST_CASE("install proxy: found once per install, the same answer for every request") {
  InstallProxy& proxy = InstallProxy::Instance();
  ProxyChoice choice;
  g_finds = 0;
  proxy.Begin(&CountingFinder, L"https://dl.test/a.exe");
  CHECK(g_finds == 0);
  REQUIRE(proxy.ChooseFor(L"https://api.test/carousel", choice));
  CHECK(choice.Address() == L"p:3128");
  REQUIRE(proxy.ChooseFor(L"https://cdn.inside/x", choice));
  CHECK(choice.IsDirect());
  ProxyConfig config;
  REQUIRE(proxy.Get(config));
  CHECK(config.source == L"https://dl.test/a.exe");
  CHECK(g_finds == 1);

  proxy.NoteAuthRefused(L"p:3128");
  proxy.NoteAuthRefused(L"other:1");
  CHECK(proxy.AuthRefused() == L"p:3128");
  // the next install finds the answer again and forgets the refusal
  proxy.Begin(&CountingFinder, L"https://dl.test/b.exe");
  CHECK(proxy.AuthRefused().empty());
  REQUIRE(proxy.Get(config));
  CHECK(g_finds == 2);
}
