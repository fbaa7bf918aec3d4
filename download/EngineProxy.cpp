#include "EngineProxy.h"

#include "engine/error.h"
#include "system/Strings.h"

engine::proxy_settings ToEngineProxy(const ProxyChoice& choice) {
  engine::proxy_settings settings;
  if (choice.IsDirect()) return settings;
  settings.host = WideToUtf8(choice.host);
  settings.port = choice.port;
  settings.user_name = WideToUtf8(choice.user);
  settings.password = WideToUtf8(choice.password);
  bool credentials = !choice.user.empty();
  switch (choice.road) {
    case kProxyRoad_Http:
      settings.kind = credentials ? engine::kProxy_HttpPassword : engine::kProxy_Http;
      break;
    case kProxyRoad_Socks5:
      settings.kind = credentials ? engine::kProxy_Socks5Password : engine::kProxy_Socks5;
      break;
    case kProxyRoad_Socks4a:
      settings.kind = engine::kProxy_Socks4a;
      break;
    default:
      return engine::proxy_settings();
  }
  return settings;
}

engine::proxy_settings InstallEngineProxy(const std::wstring& url) {
  ProxyChoice choice;
  if (!InstallProxy::Instance().ChooseFor(url, choice)) return engine::proxy_settings();
  return ToEngineProxy(choice);
}

void NoteEngineProxyError(const std::error_code& error, const engine::proxy_settings& proxy) {
  if (proxy.kind == engine::kProxy_None) return;
  // 407 from an HTTP proxy; 1001 / 1002 / 1003: a SOCKS proxy that wants a
  // user name, accepts none of the methods offered, or refused the one given.
  bool refused = engine::is_http_error(error, 407);
  for (int socks : {1001, 1002, 1003}) refused = refused || engine::is_http_error(error, socks);
  if (!refused) return;
  ProxyChoice named;
  named.road = kProxyRoad_Http;
  named.host = Utf8ToWide(proxy.host);
  named.port = proxy.port;
  InstallProxy::Instance().NoteAuthRefused(named.Address());
}
