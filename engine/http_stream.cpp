#include "engine/http_stream.h"

#include "engine/error.h"
#include "engine/tls_trust.h"
#include "log/Log.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <optional>

namespace engine {

using asio::ip::tcp;

const char* const kDefaultAccept = "text/html, application/xhtml+xml, */*";
const char* const kDefaultUserAgent = "Mozilla/5.0 (Windows NT 6.1; Trident/7.0; rv:11.0) like Gecko";

std::shared_ptr<http_stream> http_stream::create(asio::io_context& io) {
  return std::shared_ptr<http_stream>(new http_stream(io));
}

http_stream::http_stream(asio::io_context& io) : io_(io), resolver_(io) {}

http_stream::~http_stream() = default;

asio::ip::tcp::socket* http_stream::lowest() {
  if (tls_) return &tls_->next_layer();
  return tcp_.get();
}

bool http_stream::is_open() const {
  if (tls_) return tls_->next_layer().is_open();
  return tcp_ && tcp_->is_open();
}

template <class Start>
std::error_code http_stream::run_blocking(Start start) {
  std::optional<std::error_code> result;
  asio::steady_timer deadline(io_);
  auto self = shared_from_this();
  if (blocking_timeout_ > 0) {
    deadline.expires_after(std::chrono::seconds(blocking_timeout_));
    deadline.async_wait([self, &result](std::error_code ec) {
      if (!ec && !result) {
        LOGA(kLog_Info, "engine: no answer within the deadline, closing the connection");
        self->close();
      }
    });
  }
  start([&result](std::error_code ec) { result = ec; });
  io_.restart();
  while (!result && io_.run_one()) {
  }
  deadline.cancel();
  // Let the cancelled timer's handler run while `result` still exists.
  while (io_.poll_one()) {
  }
  // Running out of work marks the service stopped; its owner runs it next.
  io_.restart();
  return result.value_or(asio::error::operation_aborted);
}

void http_stream::open(const url& target, std::error_code& ec) {
  ec = run_blocking([&](handler done) { async_open(target, std::move(done)); });
}

void http_stream::request(const request_opts& options, std::error_code& ec) {
  ec = run_blocking([&](handler done) { async_request(options, std::move(done)); });
}

std::size_t http_stream::read_some(asio::mutable_buffer buffer, std::error_code& ec) {
  std::size_t count = 0;
  ec = run_blocking([&](handler done) {
    async_read_some(buffer, [&count, done](std::error_code e, std::size_t n) {
      count = n;
      done(e);
    });
  });
  return count;
}

void http_stream::close(std::error_code& ec) {
  ec.clear();
  resolver_.cancel();
  if (auto* s = lowest()) {
    if (s->is_open()) {
      s->shutdown(tcp::socket::shutdown_both, ec);
      s->close(ec);
    }
  }
  buffer_.clear();
  content_type_.clear();
  location_.clear();
  scheme_.clear();
}

void http_stream::close() {
  std::error_code ignored;
  close(ignored);
}

void http_stream::reset_for_open(const url& target) {
  if (!has_first_) {
    first_ = target;
    has_first_ = true;
  }
  scheme_ = target.scheme;
  current_ = target;
  content_type_.clear();
  status_ = 0;
  content_length_ = -1;
  body_length_ = -1;
  body_bytes_ = 0;
  has_range_ = false;
  buffer_.clear();
  chunked_ = false;
  first_chunk_ = true;
  last_chunk_ = false;
  chunk_left_ = 0;
}

void http_stream::async_open(const url& target, handler done) {
  reset_for_open(target);
  auto self = shared_from_this();
  const auto fail = [this, self, done](std::error_code ec) {
    asio::post(io_, [this, self, done, ec]() { finish_open(ec, done); });
  };
  if (scheme_ != "http" && scheme_ != "https") return fail(asio::error::operation_not_supported);
  if (!is_known_proxy_kind(proxy_.kind)) return fail(asio::error::operation_not_supported);
  if (is_open()) return fail(asio::error::already_open);
  tls_.reset();
  tcp_.reset();
  if (scheme_ == "https") {
    std::error_code ec;
    tls_context_ = client_tls_context(ca_file_, ec);
    if (!tls_context_) return fail(ec ? ec : std::make_error_code(std::errc::invalid_argument));
    tls_ = std::make_unique<tls_stream>(io_, *tls_context_);
    bool ip_literal = false;
    asio::ip::make_address(current_.host, ec);
    ip_literal = !ec;
    if (!prepare_tls_connection(tls_->native_handle(), current_.host, ip_literal))
      return fail(asio::error::invalid_argument);
  } else {
    tcp_ = std::make_unique<tcp::socket>(io_);
  }
  start_connect(std::move(done));
}

void http_stream::start_connect(handler done) {
  auto self = shared_from_this();
  bool via_proxy = proxy_.kind != kProxy_None;
  std::string host = via_proxy ? proxy_.host : current_.host;
  std::string port = via_proxy ? std::to_string(proxy_.port) : std::to_string(current_.port_number());
  resolver_.async_resolve(
      host, port, tcp::resolver::address_configured,
      [this, self, done](std::error_code ec, tcp::resolver::results_type results) {
        if (ec) return finish_open(ec == asio::error::operation_aborted ? ec : asio::error::host_not_found, done);
        if (results.empty()) return finish_open(asio::error::host_not_found, done);
        asio::async_connect(*lowest(), results, [this, self, done](std::error_code ec2, const tcp::endpoint&) {
          if (ec2) return finish_open(ec2, done);
          std::error_code ignored;
          lowest()->set_option(tcp::no_delay(true), ignored);
          after_connect(done);
        });
      });
}

void http_stream::after_connect(handler done) {
  auto self = shared_from_this();
  // Through a SOCKS proxy always, through an HTTP proxy only as a tunnel.
  if (proxy_.kind != kProxy_None && !through_http_proxy()) {
    std::string accept = kDefaultAccept, agent = kDefaultUserAgent, credentials;
    given_.find("Accept", accept);
    given_.find("User-Agent", agent);
    if (proxy_.kind == kProxy_HttpPassword)
      credentials = basic_credentials(proxy_.user_name + ":" + proxy_.password);
    else if (proxy_.kind == kProxy_Http && !current_.user_info.empty())
      credentials = basic_credentials(current_.user_info);
    async_proxy_handshake(*lowest(), proxy_, current_.host, current_.port_number(),
                          current_.text(url::kHostHeader), accept, agent, credentials,
                          [this, self, done](std::error_code ec) {
                            if (ec) return finish_open(ec, done);
                            start_tls(done);
                          });
    return;
  }
  start_tls(done);
}

void http_stream::start_tls(handler done) {
  auto self = shared_from_this();
  const auto send = [this, self, done]() {
    send_request(given_, [this, self, done](std::error_code ec) { finish_open(ec, done); });
  };
  if (!tls_) return send();
  tls_->async_handshake([this, self, done, send](std::error_code ec) {
    if (ec) {
      long verify = SSL_get_verify_result(tls_->native_handle());
      if (verify != X509_V_OK)
        LOGA(kLog_Info, "engine: certificate of %s rejected: %s", current_.host.c_str(),
             X509_verify_cert_error_string(verify));
      return finish_open(ec, done);
    }
    send();
  });
}

void http_stream::finish_open(std::error_code ec, handler done) {
  if (is_http_error(ec, 301) || is_http_error(ec, 302)) {
    std::string target = location_;
    close();
    ++redirect_count_;
    if (redirect_count_ <= redirect_limit_) {
      std::error_code parse_ec;
      url next = resolve_reference(current_, target, parse_ec);
      if (parse_ec || target.empty()) {
        redirect_count_ = 0;
        return done(make_error_code(kErr_InvalidRedirect));
      }
      if (current_.scheme == "https" && next.scheme != "https") {
        LOGA(kLog_Info, "engine: redirect from https to %s refused", next.text().c_str());
        redirect_count_ = 0;
        return done(make_error_code(kErr_InsecureRedirect));
      }
      return async_open(next, std::move(done));
    }
  }
  redirect_count_ = 0;
  done(ec);
}

void http_stream::async_request(const request_opts& options, handler done) {
  auto self = shared_from_this();
  if (!is_open()) {
    asio::post(io_, [done]() { done(asio::error::network_reset); });
    return;
  }
  send_request(options, std::move(done));
}

void http_stream::send_request(const request_opts& options, handler done) {
  auto self = shared_from_this();
  sent_.clear();
  keep_alive_ = true;
  chunked_ = false;
  first_chunk_ = true;
  last_chunk_ = false;
  chunk_left_ = 0;
  body_bytes_ = 0;
  body_length_ = -1;
  has_range_ = false;

  request_opts work = options;
  std::string value;
  const auto take = [&](const std::string& name, const std::string& fallback) {
    std::string v = fallback;
    if (work.find(name, v)) {
      std::string ignored;
      // Remove every spelling of the name, so that it appears once.
      for (const auto& item : std::vector<std::pair<std::string, std::string>>(work.items()))
        if (iequals(item.first, name)) work.remove(item.first);
    }
    sent_.insert(name, v);
    return v;
  };
  std::string new_url = take("_url", "");
  if (!new_url.empty()) {
    std::error_code ec;
    url parsed = url::parse(new_url, ec);
    if (!ec) current_ = parsed;
  }
  method_ = take("_request_method", "GET");
  std::string version = take("_http_version", "HTTP/1.1");
  std::string host = take("Host", current_.text(url::kHostHeader));
  std::string accept = take("Accept", kDefaultAccept);
  std::string agent = take("User-Agent", kDefaultUserAgent);
  std::string cookies = cookie_line();
  std::string proxy_auth;
  if (through_http_proxy()) {
    if (proxy_.kind == kProxy_HttpPassword)
      proxy_auth = basic_credentials(proxy_.user_name + ":" + proxy_.password);
    else if (!current_.user_info.empty())
      proxy_auth = basic_credentials(current_.user_info);
  }
  std::string connection_name = through_http_proxy() ? "Proxy-Connection" : "Connection";
  std::string connection = take(connection_name, "close");
  std::string body = take("_request_body", "");
  std::string target = current_.text(through_http_proxy() ? url::kAll : url::kTarget);
  sent_.insert("_path", target);

  std::string& r = request_text_;
  r = method_ + " " + target + " " + version + "\r\n";
  r += "Host: " + host + "\r\n";
  r += "Accept: " + accept + "\r\n";
  r += "User-Agent: " + agent + "\r\n";
  if (!cookies.empty()) r += "Cookie: " + cookies + "\r\n";
  r += connection_name + ": " + connection + "\r\n";
  if (!proxy_auth.empty()) r += "Proxy-Authorization: " + proxy_auth + "\r\n";
  for (const auto& item : work.items()) {
    const auto& name = item.first;
    if (name == "_path" || name == "_url" || name == "_request_method" || name == "_http_version" ||
        name == "_request_body" || name == "_status_code")
      continue;
    // A header's name or value must not smuggle a line end into the request.
    if (item.first.find_first_of("\r\n") != std::string::npos ||
        item.second.find_first_of("\r\n") != std::string::npos)
      continue;
    r += name + ": " + item.second + "\r\n";
    sent_.insert(name, item.second);
  }
  r += "\r\n";
  r += body;
  if (iequals(connection, "close")) keep_alive_ = false;

  bool fake_continue = options.fake_continue;
  with_stream([&](auto& stream) {
    asio::async_write(stream, asio::buffer(request_text_),
                      [this, self, done, fake_continue](std::error_code ec, std::size_t) {
                        if (ec) return done(ec);
                        if (fake_continue) return done(make_error_code(kErr_FakeContinue));
                        read_head(done);
                      });
  });
}

void http_stream::read_head(handler done) {
  auto self = shared_from_this();
  with_stream([&](auto& stream) {
    asio::async_read_until(
        stream, asio::dynamic_buffer(buffer_, std::max(kMaxHeadBytes, buffer_.size())), "\r\n\r\n",
        [this, self, done](std::error_code ec, std::size_t n) {
          if (ec == asio::error::not_found) return done(make_error_code(kErr_LimitExceeded));
          if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated) {
            // The connection ended inside the head.
            bool has_line = buffer_.find("\r\n") != std::string::npos;
            return done(make_error_code(has_line ? kErr_MalformedHeaders : kErr_MalformedStatusLine));
          }
          if (ec) return done(ec);
          std::string head = buffer_.substr(0, n - 4);
          buffer_.erase(0, n);
          int status = 0;
          auto line_end = head.find("\r\n");
          if (!parse_status_line(head.substr(0, line_end), status)) return done(make_error_code(kErr_MalformedStatusLine));
          if (status == 100) {
            if (method_ == "POST") return done(make_error_code(kErr_Continue));
            return read_head(done);
          }
          done(parse_head(head));
        });
  });
}

std::error_code http_stream::parse_head(const std::string& head) {
  auto line_end = head.find("\r\n");
  int status = 0;
  parse_status_line(head.substr(0, line_end), status);
  status_ = status;
  response_.clear();
  response_.insert("_status_code", std::to_string(status));
  if (line_end != std::string::npos && !parse_header_block(head.substr(line_end + 2), response_))
    return make_error_code(kErr_MalformedHeaders);
  std::error_code result = (status == 200 || status == 206) ? std::error_code() : make_error_code(status);
  location_.clear();
  int length_headers = 0;
  for (const auto& item : response_.items()) {
    const std::string name = to_lower(item.first);
    const std::string& value = item.second;
    if (name == "content-type") {
      content_type_ = value;
    } else if (name == "content-length") {
      int64_t n = 0;
      if (!parse_decimal(value, n) || (++length_headers > 1 && n != body_length_))
        return make_error_code(kErr_MalformedHeaders);
      body_length_ = n;
      content_length_ = std::max(content_length_, n);
    } else if (name == "location") {
      location_ = value;
    } else if (name == "content-range") {
      content_range r;
      if (parse_content_range(value, r)) {
        has_range_ = true;
        range_ = r;
        content_length_ = std::max(content_length_, r.total);
      }
    } else if (name == "set-cookie") {
      store_cookie(value);
    }
  }
  std::string te = response_.get("Transfer-Encoding");
  chunked_ = iequals(te, "chunked");
  if (chunked_) body_length_ = -1;  // the coding decides where the body ends
  if (iequals(response_.get("Connection"), "close")) keep_alive_ = false;
  if (!result && status_ == 206 && !has_range_) return make_error_code(kErr_RangeMismatch);
  return result;
}

std::size_t http_stream::take_buffered(asio::mutable_buffer buffer) {
  std::size_t n = std::min(buffer.size(), buffer_.size());
  std::memcpy(buffer.data(), buffer_.data(), n);
  buffer_.erase(0, n);
  return n;
}

void http_stream::async_read_some(asio::mutable_buffer buffer, read_handler done) {
  if (!is_open() && buffer_.empty()) {
    asio::post(io_, [done]() { done(asio::error::not_connected, 0); });
    return;
  }
  if (chunked_) return read_body_chunked(buffer, std::move(done));
  read_body_plain(buffer, std::move(done));
}

void http_stream::read_body_plain(asio::mutable_buffer buffer, read_handler done) {
  auto self = shared_from_this();
  if (body_length_ >= 0) {
    int64_t left = body_length_ - body_bytes_;
    if (left <= 0) {
      asio::post(io_, [done]() { done(asio::error::eof, 0); });
      return;
    }
    if (static_cast<int64_t>(buffer.size()) > left) buffer = asio::buffer(buffer.data(), static_cast<std::size_t>(left));
  }
  if (!buffer_.empty()) {
    std::size_t n = take_buffered(buffer);
    body_bytes_ += static_cast<int64_t>(n);
    asio::post(io_, [done, n]() { done(std::error_code(), n); });
    return;
  }
  with_stream([&](auto& stream) {
    stream.async_read_some(buffer, [this, self, done](std::error_code ec, std::size_t n) {
      body_bytes_ += static_cast<int64_t>(n);
      if ((ec == asio::error::eof || ec == asio::ssl::error::stream_truncated) && body_length_ >= 0 &&
          body_bytes_ < body_length_)
        ec = make_error_code(kErr_ShortBody);
      else if (ec == asio::ssl::error::stream_truncated && body_length_ < 0)
        ec = asio::error::eof;  // end of a body delimited by the connection's end
      done(ec, n);
    });
  });
}

void http_stream::read_body_chunked(asio::mutable_buffer buffer, read_handler done) {
  auto self = shared_from_this();
  if (chunk_left_ > 0) {
    if (buffer.size() > chunk_left_) buffer = asio::buffer(buffer.data(), static_cast<std::size_t>(chunk_left_));
    if (!buffer_.empty()) {
      std::size_t n = take_buffered(buffer);
      chunk_left_ -= n;
      body_bytes_ += static_cast<int64_t>(n);
      asio::post(io_, [done, n]() { done(std::error_code(), n); });
      return;
    }
    with_stream([&](auto& stream) {
      stream.async_read_some(buffer, [this, self, done](std::error_code ec, std::size_t n) {
        chunk_left_ -= n;
        body_bytes_ += static_cast<int64_t>(n);
        if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated) ec = make_error_code(kErr_ShortBody);
        done(ec, n);
      });
    });
    return;
  }
  if (last_chunk_) {
    asio::post(io_, [done]() { done(asio::error::eof, 0); });
    return;
  }
  read_chunk_line(std::move(done), buffer);
}

// Reads the end of the previous chunk (when there was one) and the next size
// line, then continues with the chunk's data or the trailers.
void http_stream::read_chunk_line(read_handler done, asio::mutable_buffer buffer) {
  auto self = shared_from_this();
  with_stream([&](auto& stream) {
    std::size_t limit = buffer_.size() + kMaxChunkLine + 2;
    asio::async_read_until(
        stream, asio::dynamic_buffer(buffer_, limit), "\r\n",
        [this, self, done, buffer](std::error_code ec, std::size_t n) {
          if (ec == asio::error::not_found) return done(make_error_code(kErr_InvalidChunkedEncoding), 0);
          if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated)
            return done(make_error_code(kErr_ShortBody), 0);
          if (ec) return done(ec, 0);
          std::string line = buffer_.substr(0, n - 2);
          buffer_.erase(0, n);
          if (!first_chunk_) {
            // The line that ends the previous chunk's data must be empty.
            if (!line.empty()) return done(make_error_code(kErr_InvalidChunkedEncoding), 0);
            first_chunk_ = true;  // the size line follows
            return read_chunk_line(done, buffer);
          }
          uint64_t size = 0;
          if (line.size() > kMaxChunkLine || !parse_chunk_size(line, size))
            return done(make_error_code(kErr_InvalidChunkedEncoding), 0);
          first_chunk_ = false;
          if (size == 0) {
            last_chunk_ = true;
            return read_trailers(done);
          }
          chunk_left_ = size;
          read_body_chunked(buffer, done);
        });
  });
}

void http_stream::read_trailers(read_handler done) {
  auto self = shared_from_this();
  with_stream([&](auto& stream) {
    asio::async_read_until(stream, asio::dynamic_buffer(buffer_, buffer_.size() + kMaxHeadBytes), "\r\n",
                           [this, self, done](std::error_code ec, std::size_t n) {
                             if (ec == asio::error::not_found)
                               return done(make_error_code(kErr_InvalidChunkedEncoding), 0);
                             if (ec) return done(asio::error::eof, 0);  // trailers cut off: the body is whole
                             bool empty_line = n == 2;
                             buffer_.erase(0, n);
                             if (!empty_line) return read_trailers(done);
                             done(asio::error::eof, 0);
                           });
  });
}

void http_stream::store_cookie(const std::string& set_cookie) {
  cookies_.store(set_cookie, current_, std::time(nullptr));
}

std::string http_stream::cookie_line() const { return cookies_.line_for(current_, std::time(nullptr)); }

}  // namespace engine
