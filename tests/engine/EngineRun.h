// Runs one download of the engine to its end on a private I/O service, with
// a watchdog that stops it after a time-out, and reports what happened.
#pragma once

#include "engine/multi_download.h"

#include <filesystem>
#include <string>
#include <system_error>

namespace zvtest {

struct engine_result {
  bool started = false;
  std::error_code start_error;
  bool complete = false;
  bool timed_out = false;
  std::error_code error;
  int64_t size = -1;
  int64_t downloaded = 0;
  bool multi = false;
  std::string final_url;
};

// Settings for a test download into `data` (meta file beside it), trusting
// the peers' test CA.
engine::download_settings TestSettings(const std::filesystem::path& data, int connections = 8);

engine_result RunDownload(const std::string& url, const engine::download_settings& settings, int timeout_seconds = 60);

// Bytes of the pieces a resume meta file marks complete; -1 when the file is
// missing or does not decode. `file_size` gets the recorded size.
int64_t SavedBytes(const std::filesystem::path& meta, int64_t* file_size = nullptr);

}  // namespace zvtest
