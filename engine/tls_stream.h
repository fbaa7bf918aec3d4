// A TLS client connection over one TCP socket, built for bulk downloads.
// Socket reads fill a large buffer that OpenSSL takes its records from, and
// one read hands over every record that has arrived, up to the caller's
// buffer: a download costs one system call and one completion per buffer
// rather than per 16 KiB record, and OpenSSL's buffers are kept between
// records instead of being freed and allocated again.
//
// It meets Asio's AsyncReadStream and AsyncWriteStream, so the composed
// operations (async_write, async_read_until) work on it. Its errors are
// those of asio::ssl::stream: OpenSSL's codes in the SSL category,
// stream_truncated when the connection ends without a close_notify, eof
// after one. One read and one write may not be pending at the same time
// (HTTP/1.1 alternates them anyway).
#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace engine {

class tls_stream {
 public:
  using executor_type = asio::ip::tcp::socket::executor_type;
  using handler = std::function<void(std::error_code, std::size_t)>;

  tls_stream(asio::io_context& io, asio::ssl::context& context);
  ~tls_stream();
  tls_stream(const tls_stream&) = delete;
  tls_stream& operator=(const tls_stream&) = delete;

  executor_type get_executor();
  // The TCP socket below (const: the stream's state is shared, see core).
  asio::ip::tcp::socket& next_layer() const;
  SSL* native_handle();

  void async_handshake(std::function<void(std::error_code)> done);

  template <class MutableBuffers, class Handler>
  void async_read_some(const MutableBuffers& buffers, Handler&& done) {
    start(kRead, first_buffer<asio::mutable_buffer>(buffers), handler(std::forward<Handler>(done)));
  }
  template <class ConstBuffers, class Handler>
  void async_write_some(const ConstBuffers& buffers, Handler&& done) {
    auto b = first_buffer<asio::const_buffer>(buffers);
    start(kWrite, asio::mutable_buffer(const_cast<void*>(b.data()), b.size()), handler(std::forward<Handler>(done)));
  }

  struct core;

 private:
  enum op_kind { kHandshake, kRead, kWrite };

  template <class Buffer, class Sequence>
  static Buffer first_buffer(const Sequence& buffers) {
    for (auto it = asio::buffer_sequence_begin(buffers); it != asio::buffer_sequence_end(buffers); ++it) {
      Buffer b(*it);
      if (b.size() != 0) return b;
    }
    return Buffer();
  }
  void start(op_kind kind, asio::mutable_buffer data, handler done);

  std::shared_ptr<core> core_;  // shared with the pending operation's handlers
};

}  // namespace engine
