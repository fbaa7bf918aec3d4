// One HTTP/1.1 client connection over TCP or TLS, optionally through a
// proxy: open a URL (resolve, connect, proxy exchange, TLS handshake with
// certificate and host-name checks, request, response head, redirects),
// further requests on a kept-alive connection, and the response body with
// chunked transfer coding undone. Asynchronous operations complete on the
// stream's I/O service; the blocking forms run that service themselves and
// must only be used while no other thread runs it.
#pragma once

#include "engine/cookie_jar.h"
#include "engine/http_message.h"
#include "engine/proxy.h"
#include "engine/tls_stream.h"
#include "engine/url.h"

#include <asio.hpp>
#include <asio/ssl.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace engine {

// Defaults of the request headers every request carries.
extern const char* const kDefaultAccept;
extern const char* const kDefaultUserAgent;

class http_stream : public std::enable_shared_from_this<http_stream> {
 public:
  using handler = std::function<void(std::error_code)>;
  using read_handler = std::function<void(std::error_code, std::size_t)>;

  static std::shared_ptr<http_stream> create(asio::io_context& io);
  ~http_stream();
  http_stream(const http_stream&) = delete;
  http_stream& operator=(const http_stream&) = delete;

  void open(const url& target, std::error_code& ec);
  void async_open(const url& target, handler done);
  void request(const request_opts& options, std::error_code& ec);
  void async_request(const request_opts& options, handler done);
  std::size_t read_some(asio::mutable_buffer buffer, std::error_code& ec);
  // Completes with the bytes read; at the end of the body with
  // asio::error::eof, on a body that ends before its announced length
  // (connection closed early) with kErr_ShortBody.
  void async_read_some(asio::mutable_buffer buffer, read_handler done);
  void close(std::error_code& ec);
  void close();
  bool is_open() const;

  void request_options(const request_opts& options) { given_ = options; }
  const request_opts& request_options() const { return sent_; }
  const request_opts& response_options() const { return response_; }
  void proxy(const proxy_settings& settings) { proxy_ = settings; }
  const std::string& location() const { return location_; }
  // The largest of "Content-Length" and the "Content-Range" total seen since
  // the last open; -1 when none was seen.
  int64_t content_length() const { return content_length_; }
  // "Content-Length" of the last response, -1 when it had none.
  int64_t body_length() const { return body_length_; }
  // "Content-Range" of the last response, when it had a valid one.
  bool content_range_of_response(content_range& out) const {
    if (has_range_) out = range_;
    return has_range_;
  }
  void redirect_limit(int n) { redirect_limit_ = n; }
  int status() const { return status_; }
  bool keep_alive() const { return keep_alive_; }
  bool chunked() const { return chunked_; }
  // The body's end was seen: the last chunk, or all of "Content-Length".
  bool body_complete() const {
    return chunked_ ? last_chunk_ : (body_length_ >= 0 && body_bytes_ >= body_length_);
  }
  const url& current_url() const { return current_; }
  const std::string& content_type() const { return content_type_; }
  // Extra CA file trusted besides the platform's roots (tests).
  void ca_file(const std::string& path) { ca_file_ = path; }
  // Deadline of the blocking forms, in seconds (0 = none).
  void blocking_timeout(int seconds) { blocking_timeout_ = seconds; }

 private:
  explicit http_stream(asio::io_context& io);

  template <class Start>
  std::error_code run_blocking(Start start);

  void reset_for_open(const url& target);
  void start_connect(handler done);
  void after_connect(handler done);
  void start_tls(handler done);
  void send_request(const request_opts& options, handler done);
  void read_head(handler done);
  std::error_code parse_head(const std::string& head);
  void finish_open(std::error_code ec, handler done);
  void read_body_plain(asio::mutable_buffer buffer, read_handler done);
  void read_body_chunked(asio::mutable_buffer buffer, read_handler done);
  void read_chunk_line(read_handler done, asio::mutable_buffer buffer);
  void read_trailers(read_handler done);
  std::size_t take_buffered(asio::mutable_buffer buffer);
  void store_cookie(const std::string& set_cookie);
  std::string cookie_line() const;
  bool through_http_proxy() const { return is_http_proxy(proxy_.kind) && scheme_ != "https"; }

  template <class F>
  void with_stream(F&& f) {
    if (tls_) f(*tls_);
    else f(*tcp_);
  }
  asio::ip::tcp::socket* lowest();

  asio::io_context& io_;
  asio::ip::tcp::resolver resolver_;
  std::unique_ptr<asio::ip::tcp::socket> tcp_;
  std::unique_ptr<tls_stream> tls_;
  std::shared_ptr<asio::ssl::context> tls_context_;
  request_opts given_, sent_, response_;
  proxy_settings proxy_;
  std::string scheme_;
  url current_, first_;
  bool has_first_ = false;
  bool keep_alive_ = true;
  int status_ = -1;
  int redirect_count_ = 0;
  int redirect_limit_ = 5;
  std::string content_type_;
  int64_t content_length_ = -1;
  int64_t body_length_ = -1;
  int64_t body_bytes_ = 0;
  bool has_range_ = false;
  content_range range_;
  std::string location_;
  std::string request_text_;
  std::string buffer_;  // received bytes not yet consumed
  bool chunked_ = false;
  bool first_chunk_ = true;
  bool last_chunk_ = false;
  uint64_t chunk_left_ = 0;
  std::string ca_file_;
  int blocking_timeout_ = 60;
  std::string method_;
  cookie_jar cookies_;
};

}  // namespace engine
