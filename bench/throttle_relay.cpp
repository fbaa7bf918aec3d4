// A TCP relay on 127.0.0.1 that caps every accepted connection's download
// direction at a fixed rate: a connection never has sent more than the rate
// times its age plus 16 KiB. That is a true per-connection limit, with no
// first-second allowance and no reset per request (nginx's limit_rate
// restarts with every request on a kept-alive connection); time a connection
// spends idle between requests may be made up later, but never beyond that
// bound, so n connections together never beat n times the rate.
//   zv_throttle_relay LISTEN_PORT TARGET_PORT BYTES_PER_SECOND
#include <asio.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using asio::ip::tcp;
using clock_type = std::chrono::steady_clock;

constexpr std::size_t kBuffer = 64 * 1024;

struct session {
  explicit session(asio::io_context& io) : client(io), server(io) {}
  tcp::socket client, server;
};

// One direction of a session; holds the session while it has work pending.
struct pipe_state : std::enable_shared_from_this<pipe_state> {
  pipe_state(std::shared_ptr<session> s, bool downstream, double rate, asio::io_context& io)
      : owner(std::move(s)),
        from(downstream ? owner->server : owner->client),
        to(downstream ? owner->client : owner->server),
        rate(rate),
        timer(io),
        start(clock_type::now()) {}
  std::shared_ptr<session> owner;
  tcp::socket& from;
  tcp::socket& to;
  double rate;  // bytes per second; 0 = unlimited
  asio::steady_timer timer;
  clock_type::time_point start;
  double sent = 0;
  std::array<char, kBuffer> buf;

  double elapsed() const { return std::chrono::duration<double>(clock_type::now() - start).count(); }

  // Bytes allowed now: the rate times the time since the start, less what
  // went out, plus 16 KiB of slack.
  std::size_t allowance() const {
    if (rate <= 0) return kBuffer;
    double left = rate * elapsed() + 16384 - sent;
    return left <= 0 ? 0 : static_cast<std::size_t>(std::min<double>(left, kBuffer));
  }

  void end() {
    std::error_code ignored;
    to.shutdown(tcp::socket::shutdown_send, ignored);
  }

  void read() {
    std::size_t n = allowance();
    if (n == 0) {
      double wait = (sent - 16384 - rate * elapsed()) / rate + 0.0005;
      timer.expires_after(std::chrono::microseconds(static_cast<long long>(std::max(wait, 0.0005) * 1e6)));
      timer.async_wait([self = shared_from_this()](std::error_code) { self->read(); });
      return;
    }
    from.async_read_some(asio::buffer(buf.data(), n), [self = shared_from_this()](std::error_code ec, std::size_t got) {
      if (ec) return self->end();
      asio::async_write(self->to, asio::buffer(self->buf.data(), got), [self](std::error_code ec, std::size_t put) {
        if (ec) {
          std::error_code ignored;
          self->from.close(ignored);
          return;
        }
        self->sent += static_cast<double>(put);
        self->read();
      });
    });
  }
};

void accept_loop(tcp::acceptor& acceptor, asio::io_context& io, unsigned short target, double rate) {
  auto s = std::make_shared<session>(io);
  acceptor.async_accept(s->client, [&acceptor, &io, target, rate, s](std::error_code ec) {
    if (ec) return;
    s->server.async_connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), target),
                            [s, rate, &io](std::error_code ec) {
                              if (ec) return;
                              std::error_code ignored;
                              s->client.set_option(tcp::no_delay(true), ignored);
                              s->server.set_option(tcp::no_delay(true), ignored);
                              std::make_shared<pipe_state>(s, false, 0, io)->read();
                              std::make_shared<pipe_state>(s, true, rate, io)->read();
                            });
    accept_loop(acceptor, io, target, rate);
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s LISTEN_PORT TARGET_PORT BYTES_PER_SECOND\n", argv[0]);
    return 2;
  }
  auto listen = static_cast<unsigned short>(std::atoi(argv[1]));
  auto target = static_cast<unsigned short>(std::atoi(argv[2]));
  double rate = std::atof(argv[3]);
  asio::io_context io;
  tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), listen));
  accept_loop(acceptor, io, target, rate);
  std::printf("relay 127.0.0.1:%u -> %u at %.0f B/s per connection\n", listen, target, rate);
  std::fflush(stdout);
  io.run();
  return 0;
}
