// The multi-connection downloader: fetches one file over HTTP(S) with up to
// `max_connections` parallel ranged connections, writes every chunk at its
// offset through a storage object, keeps the resume meta file up to date
// once a second and resumes from it on a later start. Falls back to one
// connection reading the whole body when the server does not serve ranges.
//
// All work runs as handlers on the I/O service given at construction; the
// caller runs that service after `start` returns until it runs dry. `stop`
// and the counters may be called from any thread.
#pragma once

#include "engine/http_stream.h"
#include "engine/range_set.h"
#include "engine/storage.h"

#include <asio.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace engine {

struct download_settings {
  int rate_limit = -1;              // bytes per second for the whole download; -1 = none
  int max_connections = 5;          // -1 = 5
  int64_t piece_bytes = -1;         // -1 = chosen from the file size
  int idle_timeout = 11;            // seconds without progress before a connection is reopened
  int pieces_per_request = 10;      // largest range of one request, in pieces
  std::wstring meta_path;           // empty = data path + ".cfg"
  bool trust_meta_url = true;       // resume from the address stored in the meta file
  bool single_connection = false;   // never use ranges
  std::wstring data_path;
  std::function<std::unique_ptr<storage_interface>()> storage_factory;  // empty = default_storge
  request_opts request_headers;     // extra headers of every request
  proxy_settings proxy;
  std::string ca_file;              // extra CA trusted besides the platform's (tests)
  int max_failures = 5;             // failed opens/reads in a row before a connection gives up
};

// One connection's bookkeeping, shared between the list and its handlers.
struct http_stream_object {
  std::shared_ptr<http_stream> stream;
  std::vector<char> buffer;
  int64_t range_first = 0, range_last = -1;  // inclusive
  int64_t bytes_in_range = 0;
  std::atomic<int64_t> bytes_total{0};
  int request_count = 0;
  std::chrono::steady_clock::time_point last_activity{};
  std::error_code last_error;
  int failures = 0;                          // consecutive failed opens or reads
  std::chrono::steady_clock::time_point retry_at{};
  bool failed = false;                       // waits to be reopened by a tick
  bool done = false;
  bool retired = false;                      // gave up; its range went back to the others
  bool reopen = false;
  bool open_ended = false;                   // serves the "bytes=0-" answer of the first open
  std::size_t index = 0;
};

struct download_stat {
  std::atomic<int64_t> bytes_since_tick{0};
  std::atomic<int> rate{0};
};

class multi_download {
 public:
  explicit multi_download(asio::io_context& io);
  ~multi_download();
  multi_download(const multi_download&) = delete;
  multi_download& operator=(const multi_download&) = delete;

  // Opens the first connection and queues the rest. Throws std::system_error.
  void start(const std::string& url, const download_settings& settings);
  void stop();
  void release_files();

  int64_t total_size() const { return file_size_.load(); }
  int64_t bytes_downloaded();
  int download_rate() const { return stat_->rate.load(); }
  std::wstring data_file_name();
  // True once every byte has arrived and been written.
  bool complete() const { return complete_.load(); }
  // The run has ended (complete, failed or stopped).
  bool finished() const { return abort_.load(); }
  // Why the run ended without completing: a write failure, a fatal error of
  // the single connection, or the last error of the connections when none
  // is left to fetch the missing bytes. Success while running or complete.
  std::error_code error() const;
  const std::string& final_url() const { return final_url_text_; }
  bool multi() const { return multi_; }
  // Connections used (statistics).
  int connection_count() const { return connection_count_.load(); }

  // The default piece size for a file: a power of two from 16 KiB to 16 MiB,
  // at least size / 2048 unless capped.
  static int64_t default_piece_size(int64_t file_size);

 private:
  using conn_ptr = std::shared_ptr<http_stream_object>;

  void set_error(std::error_code ec);
  conn_ptr new_connection(std::size_t index);
  request_opts range_headers(int64_t first, int64_t last) const;
  bool allocate_range(int64_t& first, int64_t& last);
  void give_back(const conn_ptr& c);
  void open_async(const conn_ptr& c);
  void on_open(const conn_ptr& c, const std::shared_ptr<http_stream>& s, std::error_code ec);
  void on_request(const conn_ptr& c, const std::shared_ptr<http_stream>& s, std::error_code ec);
  void read_next(const conn_ptr& c);
  void on_read(const conn_ptr& c, const std::shared_ptr<http_stream>& s, std::error_code ec, std::size_t n);
  void connection_failed(const conn_ptr& c, std::error_code ec);
  void reopen_connection(const conn_ptr& c);
  void next_range_or_done(const conn_ptr& c);
  void arm_tick();
  void on_tick(std::error_code ec);
  void finish_run();
  void end_if_complete();
  void end_fatal(std::error_code ec);
  // Success, kErr_RangeMismatch, or kErr_FileChanged (why says so).
  std::error_code check_range_answer(const conn_ptr& c, http_stream& s, std::string& why) const;
  // Ends the run once the server's file is found changed: every byte and
  // piece of the old file is dropped, the data file cut to nothing and the
  // meta file left with no pieces and the new validator; error() says
  // kErr_FileChanged, and the next start begins from nothing.
  void drop_changed_file(const std::string& why, const resource_validator& served);
  // The validator recorded in the meta file, read before the first request
  // so that it can carry "If-Range"; empty when there is none.
  resource_validator stored_validator() const;
  // 1 when an earlier run's state was restored, 0 when there was none,
  // -1 when the file was rejected (corrupt, or for another file).
  int load_meta(const std::wstring& path);
  void save_meta();
  void close_meta();

  asio::io_context& io_;
  std::mutex list_lock_;
  std::vector<conn_ptr> connections_;
  std::shared_ptr<http_stream> opening_;  // the first open's stream while start waits on it
  url final_url_;
  std::string final_url_text_;
  bool multi_ = false;
  bool keep_alive_ = false;
  std::atomic<int64_t> file_size_{-1};
  std::wstring data_file_name_;
  download_settings settings_;
  asio::steady_timer tick_timer_;
  std::shared_ptr<download_stat> stat_ = std::make_shared<download_stat>();
  std::atomic<int> connection_count_{0};
  int tick_count_ = 0;
  std::unique_ptr<storage_interface> storage_;
  resume_meta_file meta_;
  int64_t piece_size_ = 0;
  // The validator of the file this run fetches: the first answer's. Every
  // ranged request after the first carries it as "If-Range".
  resource_validator validator_;
  // Set by start when the first answer shows that the file changed since
  // the meta file was written: its pieces are not loaded.
  std::string changed_since_meta_;
  range_set requested_, downloaded_;
  std::mutex allocation_lock_;
  int64_t rate_budget_ = -1;
  std::atomic<bool> abort_{true};
  std::atomic<bool> complete_{false};
  std::atomic<bool> stop_requested_{false};
  std::atomic<unsigned> run_id_{0};
  mutable std::mutex error_lock_;
  std::error_code error_;
  std::mutex completion_lock_;
  std::condition_variable completion_;
};

}  // namespace engine
