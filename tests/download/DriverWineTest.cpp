// The Windows build of the download driver under Wine, over the local nginx:
// wide paths, the final rename over an existing file, the files a running
// task holds open.
#include <doctest/doctest.h>

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "DriverHelpers.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using namespace drivertest;

namespace {

// 8 MiB at 64 KiB/s per connection: several seconds with 8 connections.
const char* const kSlowPath = "/rate/64k/large.bin";

std::wstring Wide(const fs::path& path) { return path.wstring(); }
fs::path WithSuffix(const fs::path& path, const wchar_t* suffix) { return fs::path(path.wstring() + suffix); }

}  // namespace

TEST_CASE("downloads land under a non-ASCII folder and replace an old file of the final name") {
  for (const char* key : {"http", "https"}) {
    SUBCASE(key) {
      zvtest::TempDir dir("wine-driver");
      fs::path folder = dir.path() / L"Z\u00e9lvane \u00dcbung \u6587\u4ef6";
      fs::create_directories(folder);
      fs::path target = folder / L"zelvane-download.exe";
      zvtest::WriteFile(target, "an older installer");
      Recorder recorder;
      std::string path = std::string("/files/medium.bin?") + key;
      REQUIRE(Fetch(Utf8ToWide(zvpeers::Url("nginx", key, path)), Wide(target), recorder));
      recorder.CheckSequence(kDownload_Success);
      CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("medium.bin"));
      CHECK_FALSE(fs::exists(WithSuffix(target, L".tmp")));
      CHECK_FALSE(fs::exists(WithSuffix(target, L".cfg")));
    }
  }
}

TEST_CASE("a non-ASCII address goes on the wire as percent-escaped UTF-8, not the ANSI code page") {
  // nginx finds the file by the UTF-8 bytes of its name.
  const fs::path served = zvpeers::FilesDir() / L"gr\u00fcn \u6587\u4ef6.bin";
  fs::copy_file(zvpeers::FilesDir() / "small.bin", served, fs::copy_options::overwrite_existing);
  zvtest::TempDir dir("wine-driver-utf8");
  fs::path target = dir.path() / L"utf8.bin";
  Recorder recorder;
  std::wstring url = Utf8ToWide(zvpeers::Url("nginx", "http", "/files/")) + L"gr\u00fcn \u6587\u4ef6.bin";
  CHECK(Fetch(url, Wide(target), recorder));
  recorder.CheckSequence(kDownload_Success);
  CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("small.bin"));
  std::error_code ec;
  fs::remove(served, ec);
}

TEST_CASE("a running download's files are left alone; cancelled, they resume") {
  zvtest::TempDir dir("wine-driver-resume");
  fs::path target = dir.path() / L"setup.exe";
  std::wstring url = NginxUrl(kSlowPath);
  const int64_t size = static_cast<int64_t>(zvpeers::ManifestSize("large.bin"));

  Recorder first;
  std::atomic<int> percent{-1};
  first.hook = [&](const Call& call) {
    if (call.code == kCallback_Percent) percent = call.value;
  };
  bool firstOk = true;
  std::thread worker([&] { firstOk = Fetch(url, Wide(target), first); });
  for (int i = 0; i < 600 && percent < 20; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  CHECK(percent >= 20);
  // Another size would make the leftovers look foreign, but they are in use.
  CHECK_FALSE(JudgeDeleteHistoryFile(url, size + 1, Wide(target)));
  CHECK(fs::exists(WithSuffix(target, L".tmp")));
  CHECK(CancelHttpDownload());
  worker.join();
  CHECK_FALSE(firstOk);
  first.CheckSequence(kDownload_Cancelled);
  CHECK_FALSE(fs::exists(target));
  REQUIRE(fs::exists(WithSuffix(target, L".tmp")));
  REQUIRE(fs::exists(WithSuffix(target, L".cfg")));
  // The same download: kept for the retry.
  CHECK_FALSE(JudgeDeleteHistoryFile(url, size, Wide(target)));

  Recorder second;
  REQUIRE(Fetch(url, Wide(target), second));
  second.CheckSequence(kDownload_Success);
  std::vector<int> percents = second.Percents();
  REQUIRE_FALSE(percents.empty());
  CHECK(percents.front() >= 10);
  CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("large.bin"));
  CHECK_FALSE(fs::exists(WithSuffix(target, L".cfg")));
}

TEST_CASE("a final name that cannot be replaced fails and keeps the data for a retry") {
  enum Block { kFolder, kOpenFile };
  const std::pair<const char*, Block> cases[] = {
      {"a folder of that name", kFolder},
      {"a file of that name held open without sharing", kOpenFile},
  };
  for (const auto& c : cases) {
    SUBCASE(c.first) {
      zvtest::TempDir dir("wine-driver-blocked");
      fs::path target = dir.path() / L"blocked.exe";
      HANDLE held = INVALID_HANDLE_VALUE;
      if (c.second == kFolder) {
        fs::create_directories(target / L"inside");
      } else {
        zvtest::WriteFile(target, "busy");
        held = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
      }
      std::wstring url = NginxUrl(std::string("/files/medium.bin?blocked") + std::to_string(c.second));
      Recorder recorder;
      CHECK_FALSE(Fetch(url, Wide(target), recorder));
      recorder.CheckSequence(kDownload_Failed);
      CHECK(zvpeers::Sha256OfFile(WithSuffix(target, L".tmp")) == zvpeers::ManifestSha256("medium.bin"));
      CHECK(fs::exists(WithSuffix(target, L".cfg")));

      if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
      Recorder retry;
      if (c.second == kFolder) fs::remove_all(target);
      REQUIRE(Fetch(url, Wide(target), retry));
      retry.CheckSequence(kDownload_Success);
      CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("medium.bin"));
      CHECK_FALSE(fs::exists(WithSuffix(target, L".tmp")));
      CHECK_FALSE(fs::exists(WithSuffix(target, L".cfg")));
    }
  }
}
