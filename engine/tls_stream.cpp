#include "engine/tls_stream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

// Ciphertext taken from the socket in one read: sixteen full records.
constexpr std::size_t kInputBytes = 256 * 1024;

}  // namespace

// The connection's state. The handlers of a pending operation share it, so
// it outlives a stream destroyed while a cancelled operation finishes.
struct tls_stream::core : std::enable_shared_from_this<tls_stream::core> {
  struct op {
    op_kind kind;
    asio::mutable_buffer data;
    handler done;
    bool inside_start = true;  // still in the initiating call: complete through a post
  };
  enum outcome { kFinished, kWantInput };

  explicit core(asio::io_context& io) : socket(io), input(kInputBytes) {}
  ~core() {
    if (ssl) SSL_free(ssl);
  }

  asio::ip::tcp::socket socket;
  SSL* ssl = nullptr;
  std::vector<unsigned char> input;  // ciphertext received, not yet taken by OpenSSL
  std::size_t input_begin = 0, input_end = 0;
  std::string output;                // ciphertext OpenSSL produced, not yet sent
  std::string sending;               // the output being written to the socket
  std::error_code read_failure;      // the end or error a read met after handing over data

  // The error of a failed OpenSSL call, mapped as asio::ssl::stream does.
  static std::error_code error_of(int ssl_error) {
    unsigned long code = ERR_get_error();
#ifdef SSL_R_UNEXPECTED_EOF_WHILE_READING
    if (ssl_error == SSL_ERROR_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
      return asio::ssl::error::stream_truncated;
#endif
    if (ssl_error == SSL_ERROR_ZERO_RETURN) return asio::error::eof;
    if (code == 0) return asio::ssl::error::unspecified_system_error;
    return std::error_code(static_cast<int>(code), asio::error::get_ssl_category());
  }

  // The socket ended: cleanly only after the peer's close_notify.
  std::error_code end_of_input() const {
    if (SSL_get_shutdown(ssl) & SSL_RECEIVED_SHUTDOWN) return asio::error::eof;
    return asio::ssl::error::stream_truncated;
  }

  // One step of the operation with the input at hand.
  outcome attempt(op& o, std::error_code& ec, std::size_t& n) {
    ec.clear();
    n = 0;
    ERR_clear_error();
    if (o.kind == kHandshake) {
      int r = SSL_do_handshake(ssl);
      if (r == 1) return kFinished;
      int e = SSL_get_error(ssl, r);
      if (e == SSL_ERROR_WANT_READ) return kWantInput;
      ec = error_of(e);
      return kFinished;
    }
    if (o.kind == kWrite) {
      if (o.data.size() == 0) return kFinished;
      if (SSL_write_ex(ssl, o.data.data(), o.data.size(), &n) == 1) return kFinished;
      int e = SSL_get_error(ssl, 0);
      if (e == SSL_ERROR_WANT_READ) return kWantInput;
      ec = error_of(e);
      return kFinished;
    }
    if (read_failure) {
      ec = read_failure;
      return kFinished;
    }
    // Every record already received, up to the caller's buffer.
    auto* to = static_cast<char*>(o.data.data());
    while (n < o.data.size()) {
      std::size_t got = 0;
      if (SSL_read_ex(ssl, to + n, o.data.size() - n, &got) == 1) {
        n += got;
        continue;
      }
      int e = SSL_get_error(ssl, 0);
      if (e == SSL_ERROR_WANT_READ) return n > 0 ? kFinished : kWantInput;
      // Reported now when nothing came before it, else with the next read.
      read_failure = error_of(e);
      if (n == 0) ec = read_failure;
      return kFinished;
    }
    return kFinished;
  }

  void run(const std::shared_ptr<op>& o) {
    std::error_code ec;
    std::size_t n = 0;
    outcome next = attempt(*o, ec, n);
    if (!output.empty()) {
      // Send what OpenSSL wrote (handshake messages, records) first.
      sending.swap(output);
      output.clear();
      auto self = shared_from_this();
      asio::async_write(socket, asio::buffer(sending), [self, o, next, ec, n](std::error_code wec, std::size_t) {
        self->sending.clear();
        o->inside_start = false;
        if (wec) return self->complete(o, wec, 0);
        if (next == kWantInput) return self->read_input(o);
        self->complete(o, ec, n);
      });
      return;
    }
    if (next == kWantInput) return read_input(o);
    complete(o, ec, n);
  }

  void read_input(const std::shared_ptr<op>& o) {
    auto self = shared_from_this();
    socket.async_read_some(asio::buffer(input), [self, o](std::error_code ec, std::size_t got) {
      o->inside_start = false;
      if (ec == asio::error::eof) return self->complete(o, self->end_of_input(), 0);
      if (ec) return self->complete(o, ec, 0);
      self->input_begin = 0;
      self->input_end = got;
      self->run(o);
    });
  }

  void complete(const std::shared_ptr<op>& o, std::error_code ec, std::size_t n) {
    handler done = std::move(o->done);
    if (o->inside_start) {
      asio::post(socket.get_executor(), [done, ec, n]() { done(ec, n); });
      return;
    }
    done(ec, n);
  }
};

namespace {

// OpenSSL's transport: reads take ciphertext from the core's input buffer
// (retry when it is empty), writes append to its output.
int bio_read(BIO* bio, char* out, std::size_t size, std::size_t* got) {
  auto* c = static_cast<tls_stream::core*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  std::size_t available = c->input_end - c->input_begin;
  if (available == 0) {
    BIO_set_retry_read(bio);
    *got = 0;
    return 0;
  }
  std::size_t n = std::min(size, available);
  std::memcpy(out, c->input.data() + c->input_begin, n);
  c->input_begin += n;
  *got = n;
  return 1;
}

int bio_write(BIO* bio, const char* data, std::size_t size, std::size_t* put) {
  auto* c = static_cast<tls_stream::core*>(BIO_get_data(bio));
  c->output.append(data, size);
  *put = size;
  return 1;
}

long bio_ctrl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int bio_create(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* bio_method() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "engine tls transport");
    if (m) {
      BIO_meth_set_read_ex(m, bio_read);
      BIO_meth_set_write_ex(m, bio_write);
      BIO_meth_set_ctrl(m, bio_ctrl);
      BIO_meth_set_create(m, bio_create);
    }
    return m;
  }();
  return method;
}

[[noreturn]] void throw_ssl_error(const char* what) {
  throw std::system_error(std::error_code(static_cast<int>(ERR_get_error()), asio::error::get_ssl_category()), what);
}

}  // namespace

tls_stream::tls_stream(asio::io_context& io, asio::ssl::context& context) : core_(std::make_shared<core>(io)) {
  core_->ssl = SSL_new(context.native_handle());
  if (!core_->ssl) throw_ssl_error("SSL_new");
  BIO* bio = bio_method() ? BIO_new(bio_method()) : nullptr;
  if (!bio) throw_ssl_error("BIO_new");
  BIO_set_data(bio, core_.get());
  SSL_set_bio(core_->ssl, bio, bio);
  SSL_set_connect_state(core_->ssl);
  // Whole buffers of input per call rather than a record header, then its body.
  SSL_set_read_ahead(core_->ssl, 1);
}

tls_stream::~tls_stream() {
  // A pending operation ends with operation_aborted; its handlers hold the core.
  std::error_code ignored;
  core_->socket.close(ignored);
}

tls_stream::executor_type tls_stream::get_executor() { return core_->socket.get_executor(); }

asio::ip::tcp::socket& tls_stream::next_layer() const { return core_->socket; }

SSL* tls_stream::native_handle() { return core_->ssl; }

void tls_stream::async_handshake(std::function<void(std::error_code)> done) {
  start(kHandshake, asio::mutable_buffer(), [done](std::error_code ec, std::size_t) { done(ec); });
}

void tls_stream::start(op_kind kind, asio::mutable_buffer data, handler done) {
  core_->run(std::make_shared<core::op>(core::op{kind, data, std::move(done)}));
}

}  // namespace engine
