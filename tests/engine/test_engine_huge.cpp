// A file above 4 GiB (sparse on the server): offsets, ranges, the resume
// state and the final length all need 64 bits. The download is stopped
// part-way, resumed, and the result checked by SHA-256.
#include <doctest/doctest.h>

#include "tests/engine/EngineRun.h"
#include "tests/peers/Peers.h"
#include "tests/support/TestSupport.h"

TEST_CASE("a file larger than 4 GiB downloads and resumes") {
  const std::string name = "huge.bin";
  const int64_t size = static_cast<int64_t>(zvpeers::ManifestSize(name));
  REQUIRE(size > (int64_t(1) << 32));
  zvtest::TempDir dir("huge");
  auto data = dir.path() / "P.tmp";
  const std::string url = zvpeers::Url("nginx", "http", "/files/" + name);

  auto first = zvtest::RunDownload(url, zvtest::TestSettings(data), 4);
  REQUIRE(first.started);
  CHECK(first.size == size);
  CHECK_FALSE(first.complete);
  MESSAGE("first run stopped after " << first.downloaded << " bytes");
  // The second run resumes from what the first one wrote and recorded.
  CHECK(first.downloaded > 0);
  const int64_t saved = zvtest::SavedBytes(data.string() + ".cfg");
  MESSAGE("its resume state holds " << saved << " bytes");
  CHECK(saved > 0);
  CHECK(static_cast<int64_t>(std::filesystem::file_size(data)) > 0);

  auto second = zvtest::RunDownload(url, zvtest::TestSettings(data), 600);
  CHECK_FALSE(second.timed_out);
  CHECK(second.complete);
  CHECK_MESSAGE(!second.error, second.error.message());
  CHECK(second.size == size);
  CHECK(static_cast<int64_t>(std::filesystem::file_size(data)) == size);
  CHECK(zvpeers::Sha256OfFile(data) == zvpeers::ManifestSha256(name));
}
