// Benchmark driver: downloads one URL with the engine into a file and
// prints one line "bytes=<n> seconds=<s> complete=<0|1> connections=<c>".
//   zv_bench_download URL OUT_FILE [CONNECTIONS] [CA_FILE]
// The resume meta file goes beside OUT_FILE; both are removed first so every
// run starts from nothing.
#include "engine/multi_download.h"
#include "system/Strings.h"

#include <asio.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

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

  // The installer's own settings (Part of the driver): 8 pieces per request,
  // idle time-out 20 s, explicit paths, stored address not trusted.
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
  try {
    download.start(url, s);
    io.run();
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "start failed: %s\n", e.what());
    return 1;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  download.release_files();
  bool complete = download.complete() && download.bytes_downloaded() == download.total_size();
  std::printf("bytes=%lld seconds=%.3f complete=%d connections=%d\n",
              static_cast<long long>(download.bytes_downloaded()), seconds, complete ? 1 : 0,
              download.connection_count());
  std::filesystem::remove(out.string() + ".cfg", ec);
  return complete ? 0 : 1;
}
