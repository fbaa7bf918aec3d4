// Test tool: downloads one address into a file with the engine, as a
// separate process that the resume test can kill mid-download.
//   engine_fetch URL DATA_PATH CA_FILE [CONNECTIONS]
#include "tests/engine/EngineRun.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: engine_fetch URL DATA_PATH CA_FILE [CONNECTIONS]\n");
    return 2;
  }
  auto settings = zvtest::TestSettings(argv[2], argc > 4 ? std::atoi(argv[4]) : 8);
  settings.ca_file = argv[3];
  auto r = zvtest::RunDownload(argv[1], settings, 600);
  std::printf("complete=%d downloaded=%lld size=%lld error=%s\n", r.complete ? 1 : 0,
              static_cast<long long>(r.downloaded), static_cast<long long>(r.size),
              (r.started ? r.error : r.start_error).message().c_str());
  return r.complete ? 0 : 1;
}
