// Resume and the server's validator, against the real nginx: a download
// stopped part-way and resumed must end byte-identical to the file the
// server serves at the end, never a mix of two builds of the same size.
// Each case serves its own file from the peers' folder and replaces it the
// way a vendor publishes a build.
#include <doctest/doctest.h>

#include "engine/error.h"
#include "engine/storage.h"
#include "tests/engine/EngineRun.h"
#include "tests/peers/Peers.h"
#include "tests/support/LogSince.h"
#include "tests/support/TestSupport.h"

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;
using zvtest::engine_result;
using zvtest::LogSince;
using zvtest::RunDownload;
using zvtest::TestSettings;

namespace {

constexpr int64_t kSize = 2000000;  // 123 pieces of 16 KiB, ranges of 128 KiB
const char kChanged[] = "the file on the server has changed";
const char kSizeOnly[] = "checked by its size only";

std::string Build(unsigned seed) { return zvpeers::PseudoRandomBytes(static_cast<std::size_t>(kSize), seed); }

engine::resume_meta MetaOf(const fs::path& data) {
  engine::resume_meta meta;
  std::string why;
  CHECK_MESSAGE(engine::decode_resume_meta(zvtest::ReadFile(data.string() + ".cfg"), meta, &why), why);
  return meta;
}

// A run stopped once it has written `stop_at` bytes. Checks that it really
// stopped part-way with complete pieces on disk; returns the meta it left.
engine::resume_meta StoppedRun(const std::string& url, const fs::path& data, int64_t stop_at = 700000) {
  bool stopped = false;
  auto r = RunDownload(url, TestSettings(data), 60, [&](int64_t written, engine::multi_download& d) {
    if (written >= stop_at && !stopped) {
      stopped = true;
      d.stop();
    }
  });
  REQUIRE(r.started);
  REQUIRE(r.multi);
  CHECK_FALSE(r.complete);
  CHECK(r.written >= stop_at);
  engine::resume_meta meta = MetaOf(data);
  int64_t saved = zvtest::SavedBytes(meta);
  MESSAGE("stopped run wrote " << r.written << " bytes, saved " << saved << " in complete pieces");
  CHECK(saved > 0);
  CHECK(saved < kSize);
  CHECK(static_cast<int64_t>(fs::file_size(data)) >= saved);
  return meta;
}

// One case: its own data folder and its own served file, published first
// as `first`.
struct Case {
  Case(const std::string& tag, const std::string& first) : dir("validators"), data(dir.path() / "P.tmp"), file(tag) {
    file.Publish(first, 1000);
  }
  zvtest::TempDir dir;
  fs::path data;
  zvpeers::PublishedFile file;
};

void CheckHolds(const engine_result& r, const fs::path& data, const std::string& content) {
  CHECK(r.started);
  CHECK_FALSE(r.timed_out);
  CHECK_MESSAGE(!r.error, r.error.message());
  CHECK(r.complete);
  CHECK(zvtest::ReadFile(data) == content);  // byte for byte
}

}  // namespace

TEST_CASE("an unchanged file resumes where it stopped, its ranges asked with If-Range") {
  const std::string build = Build(1);
  Case c("same", build);

  engine::resume_meta meta = StoppedRun(c.file.Url(), c.data);
  CHECK(meta.validator.etag.size() > 2);  // nginx's strong tag
  CHECK(meta.validator.last_modified.empty());

  LogSince log;
  auto r = RunDownload(c.file.Url(), TestSettings(c.data));
  CheckHolds(r, c.data, build);
  // Only the missing pieces were fetched again.
  CHECK(r.written == kSize - zvtest::SavedBytes(meta));
  CHECK(log.Has("the server's file unchanged (ETag " + meta.validator.etag + ")"));
  CHECK_FALSE(log.Has(kChanged));
}

TEST_CASE("a file replaced by another build of the same size between two runs is fetched anew") {
  const std::string old_build = Build(1), new_build = Build(2);
  Case c("replaced", old_build);
  engine::resume_meta before = StoppedRun(c.file.Url(), c.data);

  c.file.Publish(new_build, 500);
  LogSince log;
  auto r = RunDownload(c.file.Url(), TestSettings(c.data));
  CheckHolds(r, c.data, new_build);
  CHECK(r.written == kSize);  // nothing of the old build was kept
  // The first request carried If-Range and was answered whole.
  CHECK(log.Count(kChanged) == 1);
  CHECK(log.Has("answered the whole file to If-Range " + before.validator.etag));
  engine::resume_meta after = MetaOf(c.data);
  CHECK_FALSE(after.validator.empty());
  CHECK(after.validator != before.validator);
}

TEST_CASE("a file replaced while the connections fetch it is dropped once and fetched anew") {
  const std::string old_build = Build(3), new_build = Build(4);
  Case c("midrun", old_build);

  // Published after 300,000 bytes: the ranges asked for later meet the new
  // build, on several connections.
  bool published = false;
  LogSince log;
  auto first = RunDownload(c.file.Url(), TestSettings(c.data), 60, [&](int64_t written, engine::multi_download&) {
    if (written >= 300000 && !published) {
      published = true;
      c.file.Publish(new_build, 500);
    }
  });
  REQUIRE(published);
  CHECK_FALSE(first.complete);
  CHECK(engine::is_http_error(first.error, engine::kErr_FileChanged));
  CHECK(log.Count(kChanged) == 1);
  // Nothing of the old build is left: no bytes, no pieces.
  CHECK(fs::file_size(c.data) == 0);
  CHECK(first.downloaded == 0);
  CHECK(zvtest::SavedBytes(MetaOf(c.data)) == 0);

  auto r = RunDownload(c.file.Url(), TestSettings(c.data));
  CheckHolds(r, c.data, new_build);
}

TEST_CASE("a recorded validator the server no longer sends starts the file over") {
  const std::string build = Build(5);
  Case c("dropped", build);
  CHECK_FALSE(StoppedRun(c.file.Url(), c.data).validator.empty());

  LogSince log;
  auto r = RunDownload(c.file.Url("/novalidator/"), TestSettings(c.data));
  CheckHolds(r, c.data, build);
  CHECK(r.written == kSize);
  CHECK(log.Count(kChanged) == 1);
  CHECK(log.Count(kSizeOnly) == 1);
}

TEST_CASE("a server without validators keeps the size-only resume and says so once") {
  const std::string build = Build(6);
  Case c("none", build);
  const std::string url = c.file.Url("/novalidator/");
  engine::resume_meta meta = StoppedRun(url, c.data);
  CHECK(meta.validator.empty());

  LogSince log;
  auto r = RunDownload(url, TestSettings(c.data));
  CheckHolds(r, c.data, build);
  CHECK(r.written == kSize - zvtest::SavedBytes(meta));
  CHECK(log.Count(kSizeOnly) == 1);
  CHECK(log.Has("resuming with " + std::to_string(zvtest::SavedBytes(meta)) + " of 2000000 bytes, judged by size only"));
  CHECK_FALSE(log.Has(kChanged));
}
