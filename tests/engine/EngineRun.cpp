#include "tests/engine/EngineRun.h"

#include "engine/storage.h"
#include "tests/peers/Peers.h"

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace zvtest {

engine::download_settings TestSettings(const std::filesystem::path& data, int connections) {
  engine::download_settings s;
  s.max_connections = connections;
  s.idle_timeout = 5;
  s.pieces_per_request = 8;
  s.data_path = data.wstring();
  s.meta_path = data.wstring() + L".cfg";
  s.trust_meta_url = false;
  s.ca_file = zvpeers::CaFile().string();
  return s;
}

engine_result RunDownload(const std::string& url, const engine::download_settings& settings, int timeout_seconds) {
  engine_result r;
  asio::io_context io;
  engine::multi_download download(io);
  std::mutex lock;
  std::condition_variable cv;
  bool finished = false;
  std::thread watchdog([&]() {
    std::unique_lock<std::mutex> guard(lock);
    if (!cv.wait_for(guard, std::chrono::seconds(timeout_seconds), [&] { return finished; })) {
      r.timed_out = true;
      download.stop();
    }
  });
  try {
    download.start(url, settings);
    r.started = true;
    io.run();
  } catch (const std::system_error& e) {
    r.start_error = e.code();
  }
  {
    std::lock_guard<std::mutex> guard(lock);
    finished = true;
  }
  cv.notify_all();
  watchdog.join();
  download.release_files();
  r.complete = download.complete();
  r.error = download.error();
  r.size = download.total_size();
  r.downloaded = download.bytes_downloaded();
  r.multi = download.multi();
  r.final_url = download.final_url();
  return r;
}

int64_t SavedBytes(const std::filesystem::path& meta_path, int64_t* file_size) {
  std::error_code ec;
  if (!std::filesystem::exists(meta_path, ec)) return -1;
  std::ifstream in(meta_path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  engine::resume_meta meta;
  if (!engine::decode_resume_meta(bytes, meta)) return -1;
  if (file_size) *file_size = meta.file_size;
  int64_t saved = 0;
  for (int64_t i = 0; i < meta.piece_num; ++i)
    if (static_cast<uint8_t>(meta.bitfield[static_cast<std::size_t>(i / 8)]) & (0x80u >> (i % 8)))
      saved += std::min(meta.piece_size, meta.file_size - i * meta.piece_size);
  return saved;
}

}  // namespace zvtest
