#include "engine/multi_download.h"

#include "engine/error.h"
#include "log/Log.h"
#include "system/FileOps.h"
#include "system/Strings.h"

#include <algorithm>

namespace engine {

namespace {

using clock = std::chrono::steady_clock;

constexpr std::size_t kReadBuffer = 256 * 1024;

std::string range_value(int64_t first, int64_t last) {
  return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

}  // namespace

multi_download::multi_download(asio::io_context& io) : io_(io), tick_timer_(io) {}

multi_download::~multi_download() { release_files(); }

int64_t multi_download::default_piece_size(int64_t file_size) {
  uint64_t q = static_cast<uint64_t>(file_size > 0 ? file_size : 0) / 2048;
  int64_t p = 16384;
  while (static_cast<uint64_t>(p) < q && p < 16 * 1024 * 1024) p *= 2;
  return p;
}

std::wstring multi_download::data_file_name() {
  if (data_file_name_.empty()) data_file_name_ = settings_.data_path;
  return data_file_name_;
}

int64_t multi_download::bytes_downloaded() {
  if (file_size_.load() >= 0) return downloaded_.total();
  std::lock_guard<std::mutex> guard(list_lock_);
  int64_t sum = 0;
  for (const auto& c : connections_) sum += c->bytes_total.load();
  return sum;
}

std::error_code multi_download::error() const {
  std::lock_guard<std::mutex> guard(error_lock_);
  return error_;
}

void multi_download::set_error(std::error_code ec) {
  std::lock_guard<std::mutex> guard(error_lock_);
  if (!error_) error_ = ec;
}

multi_download::conn_ptr multi_download::new_connection(std::size_t index) {
  auto c = std::make_shared<http_stream_object>();
  c->stream = http_stream::create(io_);
  c->stream->proxy(settings_.proxy);
  c->stream->ca_file(settings_.ca_file);
  c->buffer.resize(kReadBuffer);
  c->index = index;
  return c;
}

request_opts multi_download::range_headers(int64_t first, int64_t last) const {
  request_opts headers = settings_.request_headers;
  headers.set("Connection", keep_alive_ ? "keep-alive" : "close");
  headers.set("Range", range_value(first, last));
  // The bytes must come from the file the earlier ones came from: a server
  // whose file changed answers the whole new file instead.
  if (!validator_.empty()) headers.set("If-Range", validator_.if_range());
  return headers;
}

bool multi_download::allocate_range(int64_t& first, int64_t& last) {
  std::lock_guard<std::mutex> guard(allocation_lock_);
  int64_t a = 0, e = 0;
  if (!requested_.first_gap(0, a, e)) return false;
  int64_t max = static_cast<int64_t>(settings_.pieces_per_request) * settings_.piece_bytes;
  if (max > 0 && e - a > max) e = a + max;
  if (!requested_.add(a, e)) return false;
  first = a;
  last = e - 1;
  return last >= first;
}

// The part of a connection's range that has not arrived goes back to the
// pool, so that another connection fetches it.
void multi_download::give_back(const conn_ptr& c) {
  int64_t from = c->range_first + c->bytes_in_range;
  if (c->range_last >= from) {
    std::lock_guard<std::mutex> guard(allocation_lock_);
    requested_.remove(from, c->range_last + 1);
  }
  c->range_first = 0;
  c->range_last = -1;
  c->bytes_in_range = 0;
}

void multi_download::start(const std::string& address, const download_settings& settings) {
  stop_requested_ = false;
  ++run_id_;
  {
    std::lock_guard<std::mutex> guard(list_lock_);
    connections_.clear();
  }
  {
    std::lock_guard<std::mutex> guard(error_lock_);
    error_.clear();
  }
  file_size_ = -1;
  settings_ = settings;
  if (settings_.max_connections <= 0) settings_.max_connections = 5;
  if (settings_.max_connections > 16) settings_.max_connections = 16;
  if (settings_.idle_timeout <= 0) settings_.idle_timeout = 11;
  if (settings_.pieces_per_request <= 0) settings_.pieces_per_request = 10;
  if (settings_.max_failures <= 0) settings_.max_failures = 5;
  data_file_name_.clear();
  tick_count_ = 0;
  piece_size_ = 0;
  multi_ = false;
  keep_alive_ = false;
  abort_ = true;
  complete_ = false;
  stat_->bytes_since_tick = 0;
  stat_->rate = 0;

  std::error_code ec;
  final_url_ = url::parse(escape_url_text(address), ec);
  if (ec) throw std::system_error(ec, "invalid address");
  final_url_text_ = final_url_.text();

  if (settings_.meta_path.empty()) settings_.meta_path = data_file_name() + L".cfg";
  validator_ = {};
  changed_since_meta_.clear();

  // The first request; with "If-Range" when an earlier run recorded the
  // file's validator, so that an unchanged file is confirmed by its 206.
  auto open_first = [&](const resource_validator& if_range) {
    auto c = new_connection(0);
    request_opts first_headers = settings_.request_headers;
    first_headers.set("Range", "bytes=0-");
    first_headers.set("Connection", "keep-alive");
    if (!if_range.empty()) first_headers.set("If-Range", if_range.if_range());
    c->stream->request_options(first_headers);
    c->stream->blocking_timeout(settings_.idle_timeout);
    {
      std::lock_guard<std::mutex> guard(list_lock_);
      opening_ = c->stream;
    }
    if (!stop_requested_) c->stream->open(final_url_, ec);
    {
      std::lock_guard<std::mutex> guard(list_lock_);
      opening_.reset();
    }
    if (!ec && stop_requested_) ec = asio::error::operation_aborted;
    if (ec) {
      LOGA(kLog_Info, "engine: first open of %s failed: %s", final_url_text_.c_str(), ec.message().c_str());
      c->stream->close();
      throw std::system_error(ec, "open");
    }
    return c;
  };
  const resource_validator stored = stored_validator();
  auto c0 = open_first(stored);
  if (!stored.empty() && c0->stream->status() == 200) {
    // The whole file instead of the range: not the recorded file any more.
    // Asked again without the condition, so that ranges are used.
    changed_since_meta_ = "the server answered the whole file to If-Range " + stored.if_range();
    c0->stream->close();
    c0 = open_first({});
  }
  http_stream& s0 = *c0->stream;
  validator_ = validator_of(s0.response_options().get("ETag"), s0.response_options().get("Last-Modified"));
  final_url_ = s0.current_url();
  final_url_text_ = final_url_.text();

  // The file size: the total of Content-Range for a partial answer, the
  // body's length for a whole one.
  int status = s0.status();
  multi_ = status == 206 && !settings_.single_connection;
  int64_t size = -1;
  if (status == 206) {
    content_range r;
    if (!s0.content_range_of_response(r) || r.first != 0) {
      s0.close();
      throw std::system_error(make_error_code(kErr_RangeMismatch), "first range");
    }
    size = r.total;
    if (size < 0) multi_ = false;
  } else {
    size = s0.body_length();
    if (s0.chunked()) size = -1;
  }
  if (size >= 0) {
    file_size_ = size;
    requested_.reset(size);
    downloaded_.reset(size);
  }
  if (size == 0) multi_ = false;

  if (settings_.piece_bytes <= 0 && size > 0) settings_.piece_bytes = default_piece_size(size);
  if (settings_.piece_bytes <= 0) settings_.piece_bytes = 16384;
  piece_size_ = settings_.piece_bytes;

  bool resumed = false;
  if (multi_) {
    keep_alive_ = to_lower(s0.response_options().get("Connection")) == "keep-alive" ||
                  (s0.keep_alive() && s0.response_options().get("Connection").empty());
    if (validator_.empty())
      LOGA(kLog_Info, "engine: the server sends neither a strong ETag nor Last-Modified: "
                      "a resumed download is checked by its size only");
    int loaded = load_meta(settings_.meta_path);
    if (loaded < 0) {
      close_meta();
      std::error_code rm;
      RemoveFile(settings_.meta_path, rm);
    }
    resumed = loaded > 0;
    if (!resumed) {
      // Start over: no state of an earlier run is trusted.
      requested_.reset(size);
      downloaded_.reset(size);
    }
  }
  if (multi_ && downloaded_.is_full()) {
    LOGA(kLog_Info, "engine: %s is complete already", final_url_text_.c_str());
    s0.close();
    close_meta();
    complete_ = true;
    return;
  }

  // Storage: a fresh start truncates the data file, so that no stale tail of
  // an earlier file survives.
  storage_ = settings_.storage_factory ? settings_.storage_factory() : std::make_unique<default_storge>();
  storage_->open(data_file_name(), ec);
  std::error_code size_ec;
  if (!ec && !resumed && FileSize(data_file_name(), size_ec) != 0) {
    // Only a file with old bytes in it is cut: cutting an empty one changes
    // nothing and makes some file systems (ext4) write the whole file out
    // when it is closed.
    storage_->set_length(0, ec);
    if (ec == std::errc::function_not_supported) ec.clear();  // a storage of the caller's own
  }
  if (ec) {
    LOGA(kLog_Info, "engine: data file cannot be opened: %s", ec.message().c_str());
    storage_.reset();
    close_meta();
    s0.close();
    throw std::system_error(ec, "storage");
  }

  if (stop_requested_) {
    storage_.reset();
    close_meta();
    s0.close();
    throw std::system_error(asio::error::operation_aborted, "stopped");
  }
  // The meta file takes its room now: every later save rewrites the same
  // number of bytes, so a disk that fills up still keeps the resume state.
  if (multi_) save_meta();
  rate_budget_ = settings_.rate_limit;
  abort_ = false;
  complete_ = false;
  connection_count_ = 1;
  {
    std::lock_guard<std::mutex> guard(list_lock_);
    connections_.push_back(c0);
  }
  c0->last_activity = clock::now();

  if (multi_) {
    int64_t first = 0, last = -1;
    if (!allocate_range(first, last)) {
      c0->done = true;
      s0.close();
    } else {
      c0->range_first = first;
      c0->range_last = last;
      c0->stream->redirect_limit(0);
      if (first != 0) {
        // A resumed download: the open-ended answer of the first open is of
        // no use; ask for the allocated range instead.
        s0.close();
        c0->stream = http_stream::create(io_);
        c0->stream->proxy(settings_.proxy);
        c0->stream->ca_file(settings_.ca_file);
        c0->stream->redirect_limit(0);
        c0->stream->request_options(range_headers(first, last));
        open_async(c0);
      } else {
        c0->open_ended = true;
        read_next(c0);
      }
    }
    for (int i = 1; i < settings_.max_connections; ++i) {
      int64_t first_i = 0, last_i = -1;
      if (!allocate_range(first_i, last_i)) break;
      auto c = new_connection(static_cast<std::size_t>(i));
      c->range_first = first_i;
      c->range_last = last_i;
      c->stream->redirect_limit(0);
      c->stream->request_options(range_headers(first_i, last_i));
      {
        std::lock_guard<std::mutex> guard(list_lock_);
        connections_.push_back(c);
      }
      ++connection_count_;
      open_async(c);
    }
  } else {
    c0->range_first = 0;
    c0->range_last = size > 0 ? size - 1 : -1;
    read_next(c0);
  }
  LOGA(kLog_Info, "engine: %s, size %lld, %s, %d connection(s)%s", final_url_text_.c_str(),
       static_cast<long long>(size), multi_ ? "ranged" : "one body", connection_count_.load(),
       resumed ? ", resumed" : "");
  arm_tick();
}

void multi_download::stop() {
  stop_requested_ = true;
  abort_ = true;
  unsigned run = run_id_.load();
  asio::post(io_, [this, run]() {
    if (run != run_id_.load()) return;
    std::error_code ignored;
    tick_timer_.cancel();
    std::lock_guard<std::mutex> guard(list_lock_);
    if (opening_) opening_->close();
    for (auto& c : connections_) c->stream->close();
  });
}

void multi_download::release_files() {
  close_meta();
  storage_.reset();
}

void multi_download::open_async(const conn_ptr& c) {
  c->last_activity = clock::now();
  auto s = c->stream;
  s->async_open(final_url_, [this, c, s](std::error_code ec) { on_open(c, s, ec); });
}

std::error_code multi_download::check_range_answer(const conn_ptr& c, http_stream& s, std::string& why) const {
  if (!multi_) return {};
  if (s.status() == 200 && !validator_.empty()) {
    why = "the server answered the whole file to If-Range " + validator_.if_range();
    return make_error_code(kErr_FileChanged);
  }
  resource_validator served = validator_of(s.response_options().get("ETag"), s.response_options().get("Last-Modified"));
  if (!served.empty() && served != validator_) {
    why = validator_mismatch(validator_, served);
    return make_error_code(kErr_FileChanged);
  }
  content_range r;
  int64_t from = c->range_first + c->bytes_in_range;
  if (s.status() != 206 || !s.content_range_of_response(r) || r.first != from || r.total != file_size_.load() ||
      r.last < from) {
    LOGA(kLog_Info, "engine: connection %u asked bytes %lld-%lld and got status %d, %s", static_cast<unsigned>(c->index),
         static_cast<long long>(from), static_cast<long long>(c->range_last), s.status(),
         s.response_options().get("Content-Range").c_str());
    return make_error_code(kErr_RangeMismatch);
  }
  return {};
}

void multi_download::on_open(const conn_ptr& c, const std::shared_ptr<http_stream>& s, std::error_code ec) {
  if (c->stream != s) return;  // an old stream of a reopened connection
  if (!ec && abort_) ec = asio::error::operation_aborted;
  std::string why;
  if (!ec) ec = check_range_answer(c, *s, why);
  if (is_http_error(ec, kErr_FileChanged))
    return drop_changed_file(
        why, validator_of(s->response_options().get("ETag"), s->response_options().get("Last-Modified")));
  if (ec) return connection_failed(c, ec);
  if (!multi_ && s->content_length() != -1 && s->content_length() != file_size_.load()) {
    file_size_ = s->content_length();
    requested_.reset(file_size_);
    downloaded_.reset(file_size_);
  }
  c->last_activity = clock::now();
  read_next(c);
}

void multi_download::on_request(const conn_ptr& c, const std::shared_ptr<http_stream>& s, std::error_code ec) {
  ++c->request_count;
  on_open(c, s, ec);
}

void multi_download::read_next(const conn_ptr& c) {
  if (abort_) return;
  std::size_t n = c->buffer.size();
  if (multi_ || file_size_.load() >= 0) {
    int64_t left = c->range_last - (c->range_first + c->bytes_in_range) + 1;
    if (left > 0 && static_cast<int64_t>(n) > left) n = static_cast<std::size_t>(left);
  }
  if (rate_budget_ >= 0) {
    n = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(n), rate_budget_));
    rate_budget_ -= static_cast<int64_t>(n);
    if (n == 0) {
      // The budget of this second is spent: try again shortly.
      auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(20));
      auto s = c->stream;
      timer->async_wait([this, c, s, timer](std::error_code) {
        if (c->stream == s) read_next(c);
      });
      return;
    }
  }
  auto s = c->stream;
  s->async_read_some(asio::buffer(c->buffer.data(), n),
                     [this, c, s](std::error_code ec, std::size_t got) { on_read(c, s, ec, got); });
}

void multi_download::on_read(const conn_ptr& c, const std::shared_ptr<http_stream>& s, std::error_code ec,
                             std::size_t n) {
  if (c->stream != s) return;
  stat_->bytes_since_tick += static_cast<int64_t>(n);
  if (n > 0 && storage_ && !abort_) {
    int64_t offset = c->range_first + c->bytes_in_range;
    if (multi_ && offset + static_cast<int64_t>(n) > c->range_last + 1) n = static_cast<std::size_t>(c->range_last + 1 - offset);
    int64_t written = storage_->write(c->buffer.data(), offset, static_cast<int>(n));
    if (written != static_cast<int64_t>(n)) {
      std::error_code why = storage_->last_error();
      LOGA(kLog_Info, "engine: write of %u bytes at %lld failed: %s", static_cast<unsigned>(n),
           static_cast<long long>(offset), why.message().c_str());
      // A full disk has its own error, so that the user is told about the
      // storage and not the network; the bytes written so far stay counted.
      if (is_disk_full(why)) return end_fatal(make_error_code(kErr_DiskFull));
      return end_fatal(why ? why : std::make_error_code(std::errc::io_error));
    }
    // Counted only once it is on disk.
    if (file_size_.load() >= 0) downloaded_.add(offset, offset + static_cast<int64_t>(n));
    c->bytes_in_range += static_cast<int64_t>(n);
    c->bytes_total += static_cast<int64_t>(n);
    c->failures = 0;
  }
  if (abort_) return;
  c->last_activity = clock::now();

  if (multi_) {
    bool range_done = c->bytes_in_range >= c->range_last - c->range_first + 1;
    if (range_done) {
      if (!keep_alive_ || c->open_ended || !s->keep_alive()) {
        c->open_ended = false;
        return reopen_connection(c);
      }
      // Ask for the next range on the same connection.
      int64_t first = 0, last = -1;
      if (!allocate_range(first, last)) {
        c->done = true;
        c->range_first = 0;
        c->range_last = -1;
        c->bytes_in_range = 0;
        s->close();
        return end_if_complete();
      }
      c->range_first = first;
      c->range_last = last;
      c->bytes_in_range = 0;
      c->last_activity = clock::now();
      s->async_request(range_headers(first, last),
                       [this, c, s](std::error_code e) { on_request(c, s, e); });
      return;
    }
    if (ec) return connection_failed(c, ec == asio::error::eof ? make_error_code(kErr_ShortBody) : ec);
    return read_next(c);
  }

  // One connection reading the whole body.
  int64_t size = file_size_.load();
  if (size >= 0 && c->bytes_total.load() >= size) {
    complete_ = true;
    abort_ = true;
    s->close();
    tick_timer_.cancel();
    return;
  }
  if (ec) {
    if (ec == asio::error::eof && size < 0 && s->chunked() && s->body_complete()) {
      // A chunked body says where it ends: its length is the file size.
      int64_t total = c->bytes_total.load();
      downloaded_.reset(total);
      downloaded_.add(0, total);
      file_size_ = total;
      complete_ = true;
    } else if (ec == asio::error::eof && size < 0) {
      // A body without a length ends with the connection; its size is not
      // known, so the run cannot be called complete.
      LOGA(kLog_Info, "engine: body of unknown length ended after %lld bytes",
           static_cast<long long>(c->bytes_total.load()));
    } else {
      set_error(ec == asio::error::eof ? make_error_code(kErr_ShortBody) : ec);
    }
    abort_ = true;
    tick_timer_.cancel();
    return;
  }
  read_next(c);
}

void multi_download::connection_failed(const conn_ptr& c, std::error_code ec) {
  c->last_error = ec;
  if (abort_) return;
  if (!multi_) {
    set_error(ec);
    abort_ = true;
    tick_timer_.cancel();
    return;
  }
  c->stream->close();
  ++c->failures;
  bool refused = is_http_error(ec, 403) || is_http_error(ec, 404) || is_http_error(ec, 405);
  LOGA(kLog_Info, "engine: connection %u failed (%d in a row): %s", static_cast<unsigned>(c->index), c->failures,
       ec.message().c_str());
  if (refused || c->failures >= settings_.max_failures) {
    // This connection gives up; what it had not fetched goes to the others.
    give_back(c);
    c->done = true;
    c->retired = true;
    --connection_count_;
    return;
  }
  c->failed = true;
  if (c->failures == 1) {
    // The first failure after progress is retried at once; further ones in
    // a row wait a growing number of ticks.
    auto s = c->stream;
    asio::post(io_, [this, c, s]() {
      if (!abort_ && c->stream == s && c->failed && !c->done) reopen_connection(c);
    });
    return;
  }
  c->retry_at = clock::now() + std::chrono::seconds(std::min(c->failures - 1, settings_.idle_timeout));
}

// Opens a fresh stream for a connection, for the rest of its range or, when
// that is finished, for a new one.
void multi_download::reopen_connection(const conn_ptr& c) {
  c->stream->close();
  c->failed = false;
  c->reopen = false;
  int64_t position = c->range_first + c->bytes_in_range;
  if (position > c->range_last) {
    int64_t first = 0, last = -1;
    if (!allocate_range(first, last)) {
      c->done = true;
      c->range_first = 0;
      c->range_last = -1;
      c->bytes_in_range = 0;
      // Checked once the caller is through: the tick calls this holding the
      // connection-list lock.
      asio::post(io_, [this, run = run_id_.load()]() {
        if (run == run_id_.load()) end_if_complete();
      });
      return;
    }
    c->range_first = first;
    c->range_last = last;
    c->bytes_in_range = 0;
    position = first;
  }
  c->stream = http_stream::create(io_);
  c->stream->proxy(settings_.proxy);
  c->stream->ca_file(settings_.ca_file);
  c->stream->redirect_limit(0);
  c->stream->request_options(range_headers(position, c->range_last));
  open_async(c);
}

void multi_download::arm_tick() {
  tick_timer_.expires_after(std::chrono::seconds(1));
  tick_timer_.async_wait([this](std::error_code ec) { on_tick(ec); });
}

void multi_download::on_tick(std::error_code ec) {
  ++tick_count_;
  if (multi_) save_meta();
  if (abort_ || ec) {
    finish_run();
    return;
  }
  int64_t since = stat_->bytes_since_tick.exchange(0);
  stat_->rate = static_cast<int>((static_cast<double>(stat_->rate.load()) * 7 + static_cast<double>(since)) * 0.125);
  rate_budget_ = settings_.rate_limit;

  const auto now = clock::now();
  const auto idle_limit = std::chrono::seconds(settings_.idle_timeout);
  bool gaps_left = false;
  {
    std::lock_guard<std::mutex> guard(list_lock_);
    for (auto& c : connections_) {
      if (c->done) continue;
      bool stalled = now - c->last_activity > idle_limit;
      bool retry = c->failed && now >= c->retry_at;
      if (!stalled && !retry && !c->reopen) continue;
      if (stalled && !c->failed) {
        LOGA(kLog_Info, "engine: connection %u silent for %d s, reopening", static_cast<unsigned>(c->index),
             settings_.idle_timeout);
        if (!multi_) {
          set_error(asio::error::timed_out);
          abort_ = true;
          c->done = true;
          c->stream->close();
          --connection_count_;
          continue;
        }
        connection_failed(c, asio::error::timed_out);
        if (c->done) continue;
      }
      reopen_connection(c);
    }
    // Ranges given back by retired connections: a connection that finished
    // its work picks them up.
    std::lock_guard<std::mutex> alloc(allocation_lock_);
    int64_t a = 0, e = 0;
    gaps_left = requested_.first_gap(0, a, e);
  }
  if (gaps_left && multi_ && !abort_) {
    std::lock_guard<std::mutex> guard(list_lock_);
    for (auto& c : connections_) {
      if (!c->done || c->retired) continue;
      c->done = false;
      c->failures = 0;
      c->range_first = 0;
      c->range_last = -1;
      c->bytes_in_range = 0;
      ++connection_count_;
      reopen_connection(c);
      if (c->done) --connection_count_;
      break;
    }
  }

  bool all_done = true;
  {
    std::lock_guard<std::mutex> guard(list_lock_);
    for (auto& c : connections_) all_done = all_done && c->done;
  }
  if (all_done || abort_) {
    abort_ = true;
    complete_ = file_size_.load() >= 0 && downloaded_.is_full();
    if (!complete_) {
      std::error_code last;
      std::lock_guard<std::mutex> guard(list_lock_);
      for (auto& c : connections_)
        if (c->last_error) last = c->last_error;
      set_error(last ? last : make_error_code(kErr_ShortBody));
      LOGA(kLog_Info, "engine: no connection left for the missing bytes: %s", error().message().c_str());
    }
    finish_run();
    return;
  }
  arm_tick();
}

// Called when a connection found no range left: once every connection is
// done and every byte is on disk, the run ends now rather than at the next
// tick, up to a second later. Cancelling the tick timer lets its handler
// close the files, as a single connection's last byte does.
void multi_download::end_if_complete() {
  if (abort_ || file_size_.load() < 0 || !downloaded_.is_full()) return;
  {
    std::lock_guard<std::mutex> guard(list_lock_);
    for (auto& c : connections_)
      if (!c->done) return;
  }
  complete_ = true;
  abort_ = true;
  tick_timer_.cancel();
}

void multi_download::drop_changed_file(const std::string& why, const resource_validator& served) {
  // Every connection may meet the new file; the first one ends the run and
  // the others find it aborted, so this happens once and writes nothing more.
  if (abort_.exchange(true)) return;
  LOGA(kLog_Info, "engine: the file on the server has changed (%s); dropping %lld downloaded bytes, starting over",
       why.c_str(), static_cast<long long>(downloaded_.total()));
  set_error(make_error_code(kErr_FileChanged));
  validator_ = served;
  {
    std::lock_guard<std::mutex> guard(allocation_lock_);
    requested_.reset(file_size_.load());
    downloaded_.reset(file_size_.load());
  }
  if (storage_) {
    std::error_code ec;
    storage_->set_length(0, ec);
  }
  tick_timer_.cancel();
  std::lock_guard<std::mutex> guard(list_lock_);
  for (auto& c : connections_) c->stream->close();
}

void multi_download::end_fatal(std::error_code ec) {
  set_error(ec);
  abort_ = true;
  tick_timer_.cancel();
  std::lock_guard<std::mutex> guard(list_lock_);
  for (auto& c : connections_) c->stream->close();
}

void multi_download::finish_run() {
  if (multi_) save_meta();
  close_meta();
  if (complete_ && storage_ && file_size_.load() >= 0) {
    // The data file is exactly the file: nothing past its end.
    std::error_code ec;
    storage_->set_length(file_size_.load(), ec);
    if (ec && ec != std::errc::function_not_supported) {
      LOGA(kLog_Info, "engine: data file length cannot be set: %s", ec.message().c_str());
      complete_ = false;
      set_error(ec);
    }
  }
  storage_.reset();
  {
    std::lock_guard<std::mutex> guard(list_lock_);
    for (auto& c : connections_) c->stream->close();
  }
  LOGA(kLog_Info, "engine: run ended %s after %d ticks, %lld of %lld bytes", complete_ ? "complete" : "incomplete",
       tick_count_, static_cast<long long>(bytes_downloaded()), static_cast<long long>(file_size_.load()));
  std::lock_guard<std::mutex> guard(completion_lock_);
  completion_.notify_all();
}

void multi_download::close_meta() {
  if (meta_.is_open()) meta_.close();
}


resource_validator multi_download::stored_validator() const {
  resume_meta meta;
  if (settings_.meta_path.empty() || !read_resume_meta_file(settings_.meta_path, meta)) return {};
  return meta.validator;
}

int multi_download::load_meta(const std::wstring& path) {
  std::error_code ec;
  close_meta();
  if (!meta_.open(path, ec)) {
    LOGA(kLog_Info, "engine: resume file cannot be opened: %s", ec.message().c_str());
    return -1;
  }
  resume_meta meta;
  std::string why;
  auto loaded = meta_.load(meta, &why);
  if (loaded == resume_meta_file::kMeta_Empty) return 0;
  if (loaded == resume_meta_file::kMeta_Rejected) {
    LOGA(kLog_Info, "engine: resume file rejected (%s), starting over", why.c_str());
    return -1;
  }
  std::error_code size_ec;
  uintmax_t data_size = FileSize(data_file_name(), size_ec);
  why = check_resume_meta(meta, file_size_.load(), size_ec ? 0 : static_cast<int64_t>(data_size));
  if (!why.empty()) {
    LOGA(kLog_Info, "engine: resume file does not fit (%s), starting over", why.c_str());
    return -1;
  }
  if (changed_since_meta_.empty()) changed_since_meta_ = validator_mismatch(meta.validator, validator_);
  if (!changed_since_meta_.empty()) {
    LOGA(kLog_Info, "engine: the file on the server has changed (%s); dropping the stored pieces, starting over",
         changed_since_meta_.c_str());
    return -1;
  }
  if (settings_.trust_meta_url && !meta.final_url.empty()) {
    url stored = url::parse(meta.final_url, ec);
    bool downgrade = final_url_.scheme == "https" && stored.scheme != "https";
    if (!ec && (stored.scheme == "http" || stored.scheme == "https") && !downgrade) {
      final_url_ = stored;
      final_url_text_ = stored.text();
    }
  }
  piece_size_ = meta.piece_size;
  settings_.piece_bytes = meta.piece_size;
  requested_.reset(meta.file_size);
  downloaded_.reset(meta.file_size);
  std::vector<uint8_t> bits(meta.bitfield.begin(), meta.bitfield.end());
  requested_.from_bitfield(bits, meta.piece_num, meta.piece_size);
  downloaded_.from_bitfield(bits, meta.piece_num, meta.piece_size);
  LOGA(kLog_Info, "engine: resuming with %lld of %lld bytes, %s", static_cast<long long>(downloaded_.total()),
       static_cast<long long>(meta.file_size),
       validator_.empty() ? "judged by size only" : ("the server's file unchanged (" + validator_.describe() + ")").c_str());
  return 1;
}

void multi_download::save_meta() {
  if (file_size_.load() < 0 || piece_size_ <= 0 || settings_.meta_path.empty()) return;
  std::error_code ec;
  if (!meta_.is_open() && !meta_.open(settings_.meta_path, ec)) return;  // tried again next tick
  resume_meta meta;
  meta.final_url = final_url_text_;
  meta.file_size = file_size_.load();
  meta.piece_size = piece_size_;
  meta.piece_num = (meta.file_size + piece_size_ - 1) / piece_size_;
  int64_t bit_count = 0;
  auto bits = downloaded_.to_bitfield(piece_size_, bit_count);
  meta.bitfield.assign(bits.begin(), bits.end());
  meta.validator = validator_;
  if (!meta_.save(meta, ec)) LOGA(kLog_Info, "engine: resume file not written: %s", ec.message().c_str());
}

}  // namespace engine
