// The driver writing onto a volume that fills up: a small tmpfs mounted by the
// test (it runs as root), downloading from the local nginx.
#include <doctest/doctest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "DriverHelpers.h"
#include "tests/support/LogSince.h"
#include "engine/error.h"
#include "engine/storage.h"

namespace fs = std::filesystem;
using namespace drivertest;
using zvtest::LogSince;

namespace {

// A tmpfs of `bytes` at `where` for the test's lifetime. Mounting must work:
// the test runs as root, and a skipped test would hide the behaviour.
class TmpfsVolume {
 public:
  TmpfsVolume(const fs::path& where, int64_t bytes) : where_(where) {
    fs::create_directories(where_);
    std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", where_.c_str(), "tmpfs", 0, options.c_str()) != 0)
      FAIL("tmpfs cannot be mounted at ", where_.string(), ": ", std::strerror(errno));
  }
  ~TmpfsVolume() { ::umount2(where_.c_str(), MNT_DETACH); }

 private:
  fs::path where_;
};

// Written out byte by byte so that tmpfs really allocates the pages.
void FillWithZeros(const fs::path& path, int64_t bytes) {
  std::ofstream out(path, std::ios::binary);
  std::string block(64 * 1024, '\0');
  for (int64_t left = bytes; left > 0; left -= static_cast<int64_t>(block.size()))
    out.write(block.data(), static_cast<std::streamsize>(std::min<int64_t>(left, block.size())));
  REQUIRE(out.good());
}

bool PieceComplete(const engine::resume_meta& meta, int64_t piece) {
  unsigned char byte = static_cast<unsigned char>(meta.bitfield[static_cast<std::size_t>(piece / 8)]);
  return (byte >> (7 - piece % 8)) & 1;
}

}  // namespace

TEST_CASE("a full disk ends the download with its own result and keeps the bytes written for a resume") {
  constexpr int64_t kMiB = 1024 * 1024;
  zvtest::TempDir dir("driver-diskfull");
  TmpfsVolume volume(dir.path() / "volume", 12 * kMiB);
  // About 4 MiB stay free: half of the 8 MiB file fits.
  fs::path filler = dir.path() / "volume" / "filler";
  FillWithZeros(filler, 8 * kMiB);
  fs::path target = dir.path() / "volume" / "large.bin";
  const std::wstring url = NginxUrl("/files/large.bin?diskfull");
  const int64_t size = static_cast<int64_t>(zvpeers::ManifestSize("large.bin"));

  LogSince log;
  Recorder full;
  CHECK_FALSE(Fetch(url, target.wstring(), full));
  full.CheckSequence(kDownload_DiskFull);
  CHECK(log.Has("Disk full"));
  CHECK_FALSE(fs::exists(target));

  // The meta file names exactly the pieces that are on disk with the
  // server's bytes.
  engine::resume_meta meta;
  std::string why;
  REQUIRE_MESSAGE(engine::read_resume_meta_file(target.wstring() + L".cfg", meta, &why), why);
  CHECK(meta.file_size == size);
  const std::string source = zvtest::ReadFile(zvpeers::FilesDir() / "large.bin");
  const std::string data = zvtest::ReadFile(target.string() + ".tmp");
  int64_t kept = 0;
  for (int64_t piece = 0; piece < meta.piece_num; ++piece) {
    if (!PieceComplete(meta, piece)) continue;
    int64_t first = piece * meta.piece_size;
    int64_t length = std::min(meta.piece_size, size - first);
    REQUIRE(static_cast<int64_t>(data.size()) >= first + length);
    CHECK_MESSAGE(data.compare(first, length, source, first, length) == 0, "piece ", piece);
    kept += length;
  }
  CHECK(kept > 0);
  CHECK(kept < size);
  CHECK(KeptDownloadBytes(target.wstring(), size) == kept);
  CHECK(KeptDownloadBytes(target.wstring(), size + 1) == 0);
  DownloadEndFacts end = LastDownloadEnd();
  CHECK(end.errorCategory == "HTTP");
  CHECK(end.errorCode == engine::kErr_DiskFull);
  CHECK(end.downloaded >= kept);  // the meta file counts whole pieces only
  CHECK(end.downloaded < size);
  CHECK(end.total == size);
  CHECK(JudgeDeleteHistoryFile(url, size, target.wstring()) == false);  // they belong to this download

  // Space freed: the next call resumes from what was kept.
  fs::remove(filler);
  LogSince resumeLog;
  Recorder resumed;
  REQUIRE(Fetch(url, target.wstring(), resumed));
  resumed.CheckSequence(kDownload_Success);
  CHECK(resumeLog.Has("engine: resuming with " + std::to_string(kept)));
  CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("large.bin"));
  CHECK_FALSE(fs::exists(target.string() + ".tmp"));
  CHECK_FALSE(fs::exists(target.string() + ".cfg"));
}
