// Proxy settings and the exchanges that turn a TCP connection to a proxy
// into a connection to the target: SOCKS 4, SOCKS 4a, SOCKS 5 (with or
// without user name and password) and the HTTP CONNECT tunnel.
#pragma once

#include <asio.hpp>

#include <functional>
#include <string>
#include <system_error>

namespace engine {

enum proxy_kind {
  kProxy_None = 0,
  kProxy_Socks4 = 1,
  kProxy_Socks5 = 2,
  kProxy_Socks5Password = 3,
  kProxy_Http = 4,          // credentials from the target URL's user info
  kProxy_HttpPassword = 5,  // credentials from the settings
  kProxy_Socks4a = 6,       // SOCKS 4 with the host name resolved by the proxy
};

struct proxy_settings {
  std::string host;
  int port = 0;
  std::string user_name;
  std::string password;
  int kind = kProxy_None;
};

inline bool is_http_proxy(int kind) { return kind == kProxy_Http || kind == kProxy_HttpPassword; }
inline bool is_known_proxy_kind(int kind) { return kind >= kProxy_None && kind <= kProxy_Socks4a; }

// "Basic " + Base64(user ":" password) for a "Proxy-Authorization" value.
std::string basic_credentials(const std::string& user_and_password);

using proxy_handler = std::function<void(std::error_code)>;

// Runs the exchange of settings.kind on `socket`, already connected to the
// proxy, to reach target_host:target_port. For the HTTP kinds this is the
// CONNECT tunnel (used for https targets); `accept` and `user_agent` are the
// values the tunnel request carries, `credentials` the Base64 part of its
// authorization (empty: none). The handler gets success or the error.
void async_proxy_handshake(asio::ip::tcp::socket& socket, const proxy_settings& settings,
                           const std::string& target_host, int target_port, const std::string& host_header,
                           const std::string& accept, const std::string& user_agent,
                           const std::string& credentials, proxy_handler handler);

// Maps a SOCKS 5 reply code to the error the engine reports.
std::error_code socks5_reply_error(unsigned reply);
// Maps a SOCKS 4 reply code (second byte of the answer).
std::error_code socks4_reply_error(unsigned reply);

}  // namespace engine
