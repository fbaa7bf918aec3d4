// Benchmark driver: downloads one URL with the engine into a file and
// prints one line
//   "bytes=<n> seconds=<s> last_byte=<s> complete=<0|1> connections=<c>"
// where last_byte is when the last byte was on disk (polled every 5 ms, so
// up to 5 ms late) and seconds is when the engine's run ended.
//   zv_bench_download URL OUT_FILE [CONNECTIONS] [CA_FILE]
// The resume meta file goes beside OUT_FILE; both are removed first so every
// run starts from nothing.
#include "engine/multi_download.h"
#include "system/Strings.h"

#include <asio.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s URL OUT_FILE [CONNECTIONS] [CA_FILE]\n", argv[0]);
    return 2;
  }
  std::string url = argv[1];
  std::filesystem::path out = argv[2];
  int connections = argc > 3 ? std::atoi(argv[3]) : 8;
  std::error_code ec;
  std::filesystem::remove(out, ec);
  std::filesystem::remove(out.string() + ".cfg", ec);

  // The installer's own settings: 8 connections, 8 pieces per request, idle
  // time-out 20 s, explicit paths, stored address not trusted.
  engine::download_settings s;
  s.max_connections = connections;
  s.idle_timeout = 20;
  s.pieces_per_request = 8;
  s.data_path = Utf8ToWide(out.string());
  s.meta_path = Utf8ToWide(out.string() + ".cfg");
  s.trust_meta_url = false;
  if (argc > 4) s.ca_file = argv[4];

  asio::io_context io;
  engine::multi_download download(io);
  auto t0 = std::chrono::steady_clock::now();
  auto since = [t0] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
  std::atomic<bool> running{true};
  std::atomic<double> last_byte{-1};
  std::thread watch([&] {
    while (running) {
      int64_t size = download.total_size();
      if (size > 0 && download.bytes_downloaded() >= size) {
        last_byte = since();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  int rc = 0;
  try {
    download.start(url, s);
    io.run();
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "start failed: %s\n", e.what());
    rc = 1;
  }
  double seconds = since();
  running = false;
  watch.join();
  if (rc) return rc;
  // The run may end between two polls: then the last byte came at its end.
  if (last_byte.load() < 0 && download.complete()) last_byte = seconds;
  download.release_files();
  bool complete = download.complete() && download.bytes_downloaded() == download.total_size();
  std::printf("bytes=%lld seconds=%.3f last_byte=%.3f complete=%d connections=%d\n",
              static_cast<long long>(download.bytes_downloaded()), seconds, last_byte.load(), complete ? 1 : 0,
              download.connection_count());
  std::filesystem::remove(out.string() + ".cfg", ec);
  return complete ? 0 : 1;
}
