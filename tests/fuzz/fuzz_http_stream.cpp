// Any bytes as what a server or proxy sends back, through the real
// http_stream over a loopback connection: response heads, chunked bodies,
// redirects, SOCKS 4/4a/5 replies and the HTTP CONNECT answer. The first
// input byte picks the case; the rest is written to the client verbatim and
// then the server side closes, so every run ends.
#include "engine/http_stream.h"

#include <asio.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <cstdlib>
#include <memory>
#include <string>

// The engine logs every refusal; a fuzz run would spend its time there.
void WriteLogA(const char*, const char*, int, int, const char*, ...) {}
void WriteLogW(const wchar_t*, const wchar_t*, int, int, const wchar_t*, ...) {}

namespace {

using asio::ip::tcp;

struct harness {
  asio::io_context io;
  tcp::acceptor acceptor{io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  unsigned short port() const { return acceptor.local_endpoint().port(); }
};

harness& shared() {
  static harness* h = new harness();
  return *h;
}

// Server side of one connection: send the script, then drain until the
// client closes (so its writes never meet a reset).
void serve(harness& h, std::shared_ptr<std::string> script) {
  auto sock = std::make_shared<tcp::socket>(h.io);
  h.acceptor.async_accept(*sock, [sock, script](std::error_code ec) {
    if (ec) return;
    asio::async_write(*sock, asio::buffer(*script), [sock, script](std::error_code ec, std::size_t) {
      std::error_code ignored;
      sock->shutdown(tcp::socket::shutdown_send, ignored);
      if (ec) return;
      auto sink = std::make_shared<std::array<char, 4096>>();
      auto drain = std::make_shared<std::function<void()>>();
      *drain = [sock, sink, drain]() {
        sock->async_read_some(asio::buffer(*sink), [sock, sink, drain](std::error_code ec, std::size_t) {
          if (ec) {
            *drain = nullptr;  // breaks the cycle
            return;
          }
          (*drain)();
        });
      };
      (*drain)();
    });
  });
}

void read_body(const std::shared_ptr<engine::http_stream>& s, std::shared_ptr<std::array<char, 2048>> buf,
               std::shared_ptr<std::size_t> total) {
  s->async_read_some(asio::buffer(*buf), [s, buf, total](std::error_code ec, std::size_t n) {
    *total += n;
    if (ec || *total > (1u << 20) || (n == 0 && s->body_complete())) {
      s->close();
      return;
    }
    read_body(s, buf, total);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  harness& h = shared();
  const unsigned mode = data[0] % 8;
  auto script = std::make_shared<std::string>(reinterpret_cast<const char*>(data + 1), size - 1);
  if (mode == 1) script->insert(0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
  if (mode == 2) script->insert(0, "HTTP/1.1 206 Partial Content\r\nTransfer-Encoding: chunked\r\n"
                                   "Content-Range: bytes 0-99/100\r\n\r\n");

  engine::proxy_settings proxy;
  std::string target = "http://127.0.0.1:" + std::to_string(h.port()) + "/f";
  switch (mode) {
    case 3: proxy.kind = engine::kProxy_Socks4; break;
    case 4: proxy.kind = engine::kProxy_Socks4a; target = "http://peer.test/f"; break;
    case 5: proxy.kind = engine::kProxy_Socks5; target = "http://peer.test/f"; break;
    case 6: proxy.kind = engine::kProxy_Socks5Password; proxy.user_name = "u"; proxy.password = "p";
            target = "http://peer.test/f"; break;
    case 7: proxy.kind = engine::kProxy_HttpPassword; proxy.user_name = "u"; proxy.password = "p";
            target = "https://peer.test/f"; break;  // the CONNECT answer; TLS then meets garbage
    default: break;
  }
  if (proxy.kind != engine::kProxy_None) {
    proxy.host = "127.0.0.1";
    proxy.port = h.port();
  }
  std::error_code ec;
  engine::url u = engine::url::parse(target, ec);
  if (ec) std::abort();

  serve(h, script);
  auto s = engine::http_stream::create(h.io);
  s->proxy(proxy);
  s->redirect_limit(0);  // a redirect would need a second connection
  auto opened = std::make_shared<bool>(false);
  s->async_open(u, [s, opened](std::error_code ec) {
    *opened = true;
    if (ec) {
      s->close();
      return;
    }
    read_body(s, std::make_shared<std::array<char, 2048>>(), std::make_shared<std::size_t>(0));
  });
  h.io.restart();
  h.io.run_for(std::chrono::seconds(5));
  // The server closed after its script: an open still waiting is a hang.
  if (!*opened) std::abort();
  if (!h.io.stopped()) {
    h.acceptor.cancel();  // the client never connected (failed before)
    h.io.run_for(std::chrono::seconds(5));
    if (!h.io.stopped()) std::abort();
  }
  return 0;
}
