// A TCP relay on 127.0.0.1 that models a long, capped link: it holds every
// chunk for a fixed delay in each direction and caps every accepted
// connection's download direction at a fixed rate. The cap is a true
// per-connection limit: a connection never has sent more than the rate
// times its age plus 16 KiB, with no first-second allowance and no reset per
// request (nginx's limit_rate restarts with every request on a kept-alive
// connection); time a connection spends idle between requests may be made
// up later, but never beyond that bound, so n connections together never
// beat n times the rate. The delay is added to every byte in both
// directions, so a request and its answer take twice the delay longer, as
// across a link with that round trip; chunks in flight are queued, so the
// delay does not lower the rate.
//   zv_throttle_relay LISTEN_PORT TARGET_PORT BYTES_PER_SECOND [DELAY_MS]
#include <asio.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

namespace {

using asio::ip::tcp;
using clock_type = std::chrono::steady_clock;

constexpr std::size_t kBuffer = 64 * 1024;
constexpr double kSlack = 16384;
// Bytes held per direction before reading pauses: more than a capped
// connection has in flight over any delay used here.
constexpr std::size_t kMaxQueued = 16 * 1024 * 1024;

struct session {
  explicit session(asio::io_context& io) : client(io), server(io) {}
  tcp::socket client, server;
};

// One direction of a session; holds the session while it has work pending.
struct pipe_state : std::enable_shared_from_this<pipe_state> {
  struct chunk {
    std::vector<char> bytes;
    clock_type::time_point due;
  };

  pipe_state(std::shared_ptr<session> s, bool downstream, double rate, std::chrono::microseconds delay,
             asio::io_context& io)
      : owner(std::move(s)),
        from(downstream ? owner->server : owner->client),
        to(downstream ? owner->client : owner->server),
        rate(rate),
        delay(delay),
        read_timer(io),
        write_timer(io),
        start(clock_type::now()) {}
  std::shared_ptr<session> owner;
  tcp::socket& from;
  tcp::socket& to;
  double rate;  // bytes per second; 0 = unlimited
  std::chrono::microseconds delay;
  asio::steady_timer read_timer, write_timer;
  clock_type::time_point start;
  double sent = 0;  // bytes read from the source, counted against the cap
  std::array<char, kBuffer> buf;
  std::deque<chunk> queue;
  std::size_t queued = 0;
  bool reading = false, writing = false, source_ended = false;

  double elapsed() const { return std::chrono::duration<double>(clock_type::now() - start).count(); }

  // Bytes allowed now: the rate times the time since the start, less what
  // went out, plus 16 KiB of slack; nothing until 16 KiB are allowed, so the
  // data moves in segments of at least that size rather than in slivers
  // that wake the client for every few hundred bytes.
  std::size_t allowance() const {
    if (rate <= 0) return kBuffer;
    double left = rate * elapsed() + kSlack - sent;
    return left < kSlack ? 0 : static_cast<std::size_t>(std::min<double>(left, kBuffer));
  }

  void read() {
    if (reading || source_ended || queued >= kMaxQueued) return;
    std::size_t n = allowance();
    if (n == 0) {
      double wait = (sent - rate * elapsed()) / rate + 0.0005;
      reading = true;
      read_timer.expires_after(std::chrono::microseconds(static_cast<long long>(std::max(wait, 0.0005) * 1e6)));
      read_timer.async_wait([self = shared_from_this()](std::error_code) {
        self->reading = false;
        self->read();
      });
      return;
    }
    reading = true;
    from.async_read_some(asio::buffer(buf.data(), n), [self = shared_from_this()](std::error_code ec, std::size_t got) {
      self->reading = false;
      if (ec) {
        self->source_ended = true;
        return self->write();
      }
      self->sent += static_cast<double>(got);
      self->queue.push_back(chunk{std::vector<char>(self->buf.data(), self->buf.data() + got), clock_type::now() + self->delay});
      self->queued += got;
      self->write();
      self->read();
    });
  }

  void write() {
    if (writing) return;
    if (queue.empty()) {
      if (source_ended) {
        std::error_code ignored;
        to.shutdown(tcp::socket::shutdown_send, ignored);
      }
      return;
    }
    writing = true;
    if (queue.front().due > clock_type::now()) {
      write_timer.expires_at(queue.front().due);
      write_timer.async_wait([self = shared_from_this()](std::error_code) {
        self->writing = false;
        self->write();
      });
      return;
    }
    asio::async_write(to, asio::buffer(queue.front().bytes), [self = shared_from_this()](std::error_code ec, std::size_t put) {
      self->writing = false;
      if (ec) {
        std::error_code ignored;
        self->from.close(ignored);
        return;
      }
      self->queued -= put;
      self->queue.pop_front();
      self->write();
      self->read();
    });
  }
};

void accept_loop(tcp::acceptor& acceptor, asio::io_context& io, unsigned short target, double rate,
                 std::chrono::microseconds delay) {
  auto s = std::make_shared<session>(io);
  acceptor.async_accept(s->client, [&acceptor, &io, target, rate, delay, s](std::error_code ec) {
    if (ec) return;
    s->server.async_connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), target),
                            [s, rate, delay, &io](std::error_code ec) {
                              if (ec) return;
                              std::error_code ignored;
                              s->client.set_option(tcp::no_delay(true), ignored);
                              s->server.set_option(tcp::no_delay(true), ignored);
                              std::make_shared<pipe_state>(s, false, 0, delay, io)->read();
                              std::make_shared<pipe_state>(s, true, rate, delay, io)->read();
                            });
    accept_loop(acceptor, io, target, rate, delay);
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s LISTEN_PORT TARGET_PORT BYTES_PER_SECOND [DELAY_MS]\n", argv[0]);
    return 2;
  }
  auto listen = static_cast<unsigned short>(std::atoi(argv[1]));
  auto target = static_cast<unsigned short>(std::atoi(argv[2]));
  double rate = std::atof(argv[3]);
  double delay_ms = argc > 4 ? std::atof(argv[4]) : 0;
  auto delay = std::chrono::microseconds(static_cast<long long>(delay_ms * 1000));
  asio::io_context io;
  tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), listen));
  accept_loop(acceptor, io, target, rate, delay);
  std::printf("relay 127.0.0.1:%u -> %u at %.0f B/s per connection, %.1f ms each way\n", listen, target, rate,
              delay_ms);
  std::fflush(stdout);
  io.run();
  return 0;
}
