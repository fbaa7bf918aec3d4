// The Windows build of the engine under Wine: one download from the local
// nginx over HTTP and one over HTTPS (test CA added to the system roots).
#include <doctest/doctest.h>

#include "tests/engine/EngineRun.h"
#include "tests/peers/Peers.h"
#include "tests/support/TestSupport.h"

TEST_CASE("the engine downloads from nginx under Wine") {
  for (const char* key : {"http", "https"}) {
    SUBCASE(key) {
      zvtest::TempDir dir("wine-engine");
      auto data = dir.path() / "P.tmp";
      auto r = zvtest::RunDownload(zvpeers::Url("nginx", key, "/files/large.bin"), zvtest::TestSettings(data), 120);
      CHECK_MESSAGE(!r.start_error, r.start_error.message());
      CHECK(r.complete);
      CHECK(r.multi);
      CHECK(zvpeers::Sha256OfFile(data) == zvpeers::ManifestSha256("large.bin"));
    }
  }
}
