#include "engine/proxy.h"

#include "engine/error.h"
#include "engine/http_message.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

namespace engine {

namespace {

using asio::ip::tcp;

// One exchange in flight: the socket, the bytes being sent or received and
// the handler to call at the end. Kept alive by the completion handlers.
struct exchange : std::enable_shared_from_this<exchange> {
  exchange(tcp::socket& s, proxy_settings p, proxy_handler h)
      : socket(s), settings(std::move(p)), handler(std::move(h)), resolver(s.get_executor()) {}

  tcp::socket& socket;
  proxy_settings settings;
  proxy_handler handler;
  tcp::resolver resolver;
  std::string host;
  int port = 0;
  std::vector<unsigned char> out, in;
  std::string head;

  void finish(std::error_code ec) {
    auto h = std::move(handler);
    h(ec);
  }

  template <class Next>
  void send_then_read(std::size_t reply_size, Next next) {
    auto self = shared_from_this();
    asio::async_write(socket, asio::buffer(out), [self, reply_size, next](std::error_code ec, std::size_t) {
      if (ec) return self->finish(ec);
      self->in.assign(reply_size, 0);
      asio::async_read(self->socket, asio::buffer(self->in), [self, next](std::error_code ec2, std::size_t) {
        if (ec2) return self->finish(ec2);
        next();
      });
    });
  }

  void push_port() {
    out.push_back(static_cast<unsigned char>((port >> 8) & 0xff));
    out.push_back(static_cast<unsigned char>(port & 0xff));
  }

  // SOCKS 4: the target's IPv4 address resolved here; 4a: the proxy resolves.
  void socks4(bool remote_resolve) {
    auto self = shared_from_this();
    if (remote_resolve) return socks4_send(asio::ip::address_v4(0x00000001u));
    resolver.async_resolve(tcp::v4(), host, std::to_string(port), tcp::resolver::address_configured,
                           [self](std::error_code ec, tcp::resolver::results_type results) {
                             if (ec) return self->finish(ec);
                             for (const auto& r : results)
                               if (r.endpoint().address().is_v4())
                                 return self->socks4_send(r.endpoint().address().to_v4());
                             self->finish(asio::error::address_family_not_supported);
                           });
  }

  void socks4_send(asio::ip::address_v4 address) {
    bool remote = address.to_uint() == 1;
    out = {0x04, 0x01};
    push_port();
    auto bytes = address.to_bytes();
    out.insert(out.end(), bytes.begin(), bytes.end());
    out.insert(out.end(), settings.user_name.begin(), settings.user_name.end());
    out.push_back(0);
    if (remote) {
      out.insert(out.end(), host.begin(), host.end());
      out.push_back(0);
    }
    auto self = shared_from_this();
    send_then_read(8, [self]() { self->finish(socks4_reply_error(self->in[1])); });
  }

  void socks5() {
    if (settings.user_name.size() > 255 || settings.password.size() > 255 || host.size() > 255)
      return finish(std::make_error_code(std::errc::invalid_argument));
    if (settings.user_name.empty())
      out = {0x05, 0x01, 0x00};
    else
      out = {0x05, 0x02, 0x00, 0x02};
    auto self = shared_from_this();
    send_then_read(2, [self]() {
      if (self->in[0] != 5) return self->finish(make_error_code(kErr_SocksUnsupportedVersion));
      if (self->in[1] == 0) return self->socks5_connect();
      if (self->in[1] != 2) return self->finish(make_error_code(kErr_SocksUnsupportedAuthVersion));
      if (self->settings.user_name.empty()) return self->finish(make_error_code(kErr_SocksUsernameRequired));
      const auto& u = self->settings.user_name;
      const auto& p = self->settings.password;
      self->out = {0x01, static_cast<unsigned char>(u.size())};
      self->out.insert(self->out.end(), u.begin(), u.end());
      self->out.push_back(static_cast<unsigned char>(p.size()));
      self->out.insert(self->out.end(), p.begin(), p.end());
      self->send_then_read(2, [self]() {
        if (self->in[0] != 1) return self->finish(make_error_code(kErr_SocksUnsupportedAuthVersion));
        if (self->in[1] != 0) return self->finish(make_error_code(kErr_SocksAuthError));
        self->socks5_connect();
      });
    });
  }

  void socks5_connect() {
    out = {0x05, 0x01, 0x00, 0x03, static_cast<unsigned char>(host.size())};
    out.insert(out.end(), host.begin(), host.end());
    push_port();
    auto self = shared_from_this();
    send_then_read(10, [self]() {
      if (self->in[0] != 5) return self->finish(make_error_code(kErr_SocksUnsupportedVersion));
      if (self->in[1] != 0) return self->finish(socks5_reply_error(self->in[1]));
      if (self->in[3] == 1) return self->finish({});
      if (self->in[3] != 3) return self->finish(asio::error::address_family_not_supported);
      // Domain name: 5 + length + 2 bytes in all, 10 of them read.
      std::size_t rest = self->in[4] >= 3 ? self->in[4] - 3u : 0u;
      if (rest == 0) return self->finish({});
      self->in.assign(rest, 0);
      asio::async_read(self->socket, asio::buffer(self->in),
                       [self](std::error_code ec, std::size_t) { self->finish(ec); });
    });
  }

  void http_connect(const std::string& host_header, const std::string& accept, const std::string& user_agent,
                    const std::string& credentials) {
    std::string request = "CONNECT " + host + ":" + std::to_string(port) + " HTTP/1.1\r\n";
    request += "Host: " + host_header + "\r\n";
    if (!credentials.empty()) request += "Proxy-Authorization: " + credentials + "\r\n";
    request += "Accept: " + accept + "\r\n";
    request += "User-Agent: " + user_agent + "\r\n\r\n";
    out.assign(request.begin(), request.end());
    auto self = shared_from_this();
    asio::async_write(socket, asio::buffer(out), [self](std::error_code ec, std::size_t) {
      if (ec) return self->finish(ec);
      self->read_connect_head();
    });
  }

  void read_connect_head() {
    auto self = shared_from_this();
    asio::async_read_until(socket, asio::dynamic_buffer(head, kMaxHeadBytes), "\r\n\r\n",
                           [self](std::error_code ec, std::size_t n) {
                             if (ec == asio::error::not_found) return self->finish(make_error_code(kErr_LimitExceeded));
                             if (ec == asio::error::eof) return self->finish(make_error_code(kErr_MalformedHeaders));
                             if (ec) return self->finish(ec);
                             std::string block = self->head.substr(0, n - 4);
                             self->head.erase(0, n);
                             auto line_end = block.find("\r\n");
                             std::string line = block.substr(0, line_end);
                             int status = 0;
                             if (!parse_status_line(line, status))
                               return self->finish(make_error_code(kErr_MalformedStatusLine));
                             if (status == 100) return self->read_connect_head();
                             if (status != 200) return self->finish(make_error_code(status));
                             request_opts headers;
                             if (line_end != std::string::npos &&
                                 !parse_header_block(block.substr(line_end + 2), headers))
                               return self->finish(make_error_code(kErr_MalformedHeaders));
                             // Nothing may follow the head before TLS starts.
                             if (!self->head.empty()) return self->finish(make_error_code(kErr_MalformedHeaders));
                             self->finish({});
                           });
  }
};

}  // namespace

std::string basic_credentials(const std::string& user_and_password) {
  std::string out(4 * ((user_and_password.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                          reinterpret_cast<const unsigned char*>(user_and_password.data()),
                          static_cast<int>(user_and_password.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return "Basic " + out;
}

std::error_code socks4_reply_error(unsigned reply) {
  switch (reply) {
    case 90: return {};
    case 91: return make_error_code(kErr_SocksAuthError);
    case 92: return make_error_code(kErr_SocksNoIdentd);
    case 93: return make_error_code(kErr_SocksIdentdMismatch);
    default: return make_error_code(kErr_SocksGeneralFailure);
  }
}

std::error_code socks5_reply_error(unsigned reply) {
  switch (reply) {
    case 0: return {};
    case 1: return make_error_code(kErr_SocksGeneralFailure);
    case 2: return asio::error::access_denied;
    case 3: return asio::error::network_unreachable;
    case 4: return asio::error::host_unreachable;
    case 5: return asio::error::connection_refused;
    case 6: return asio::error::timed_out;
    case 7: return make_error_code(kErr_SocksCommandNotSupported);
    case 8: return asio::error::address_family_not_supported;
    default: return make_error_code(kErr_SocksGeneralFailure);
  }
}

void async_proxy_handshake(asio::ip::tcp::socket& socket, const proxy_settings& settings,
                           const std::string& target_host, int target_port, const std::string& host_header,
                           const std::string& accept, const std::string& user_agent,
                           const std::string& credentials, proxy_handler handler) {
  auto ex = std::make_shared<exchange>(socket, settings, std::move(handler));
  ex->host = target_host;
  ex->port = target_port;
  switch (settings.kind) {
    case kProxy_Socks4: return ex->socks4(false);
    case kProxy_Socks4a: return ex->socks4(true);
    case kProxy_Socks5:
    case kProxy_Socks5Password: return ex->socks5();
    case kProxy_Http:
    case kProxy_HttpPassword: return ex->http_connect(host_header, accept, user_agent, credentials);
    default: return ex->finish(asio::error::operation_not_supported);
  }
}

}  // namespace engine
