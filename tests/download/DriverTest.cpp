// The download driver over the local nginx and fault server.
#include <doctest/doctest.h>

#include <asio.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "DriverHelpers.h"
#include "engine/storage.h"
#include "log/Log.h"
#include "tests/support/LogSince.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using namespace drivertest;
using zvtest::LogSince;

namespace {

bool IsNonDecreasing(const std::vector<int>& values) {
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (values[i] < values[i - 1]) return false;
  }
  return true;
}

// A loopback port with nothing listening on it.
unsigned short DeadPort() {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  unsigned short port = acceptor.local_endpoint().port();
  acceptor.close();
  return port;
}

// A peer that answers every request with 200, no Content-Length and no
// chunking, and ends the body by closing: the size is never known.
class UnsizedPeer {
 public:
  UnsizedPeer() : acceptor_(io_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~UnsizedPeer() {
    done_ = true;
    asio::error_code ec;
    asio::ip::tcp::socket wake(io_);
    wake.connect(acceptor_.local_endpoint(), ec);  // unblocks the accept
    thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(acceptor_.local_endpoint().port()) + path;
  }
  static std::string Body() { return std::string(5000, 'u'); }

 private:
  void Serve() {
    while (!done_) {
      asio::error_code ec;
      asio::ip::tcp::socket socket(io_);
      acceptor_.accept(socket, ec);
      if (ec || done_) break;
      std::string request;
      char buffer[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        std::size_t n = socket.read_some(asio::buffer(buffer), ec);
        if (ec) break;
        request.append(buffer, n);
      }
      if (ec) continue;
      std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                           "Connection: close\r\n\r\n" + Body();
      asio::write(socket, asio::buffer(answer), ec);
      socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    }
  }

  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// 8 MiB at 64 KiB/s per connection: several seconds with 8 connections, so
// that polls see it downloading and a cancel lands while bytes still flow.
const char* const kSlowPath = "/rate/64k/large.bin";

void WriteMeta(const fs::path& file, const std::string& url, int64_t size,
               const engine::resource_validator& validator = {}) {
  engine::resume_meta meta;
  meta.validator = validator;
  meta.final_url = url;
  meta.file_size = size;
  meta.piece_size = 16384;
  meta.piece_num = (size + meta.piece_size - 1) / meta.piece_size;
  meta.bitfield.assign(static_cast<std::size_t>((meta.piece_num + 7) / 8), '\0');
  zvtest::WriteFile(file, engine::encode_resume_meta(meta));
}

}  // namespace

TEST_CASE("a download ends in success with callbacks in order and percentages rising") {
  zvtest::TempDir dir("driver-ok");
  fs::path target = dir.path() / "zelvane-download.exe";
  Recorder recorder;
  LogSince log;
  REQUIRE(Fetch(NginxUrl(kSlowPath), target.wstring(), recorder));
  recorder.CheckSequence(kDownload_Success);
  std::vector<int> percents = recorder.Percents();
  CHECK_FALSE(percents.empty());
  CHECK(IsNonDecreasing(percents));
  for (int p : percents) CHECK((p >= 0 && p <= 100));
  CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("large.bin"));
  CHECK_FALSE(fs::exists(target.string() + ".tmp"));
  CHECK_FALSE(fs::exists(target.string() + ".cfg"));
  CHECK(log.Has("Download...."));
  CHECK(log.Has("HttpDownload,ret = 0 (time = "));
}

TEST_CASE("a cancelled download resumes from its files on the next call") {
  zvtest::TempDir dir("driver-resume");
  fs::path target = dir.path() / "zelvane-download.exe";
  std::wstring url = NginxUrl(kSlowPath);
  CHECK_FALSE(CancelHttpDownload());  // nothing runs

  Recorder first;
  int cancelledAt = -1;
  bool stopped = false, stoppedAgain = true;
  first.hook = [&](const Call& call) {
    if (call.code == kCallback_Percent && call.value >= 20 && cancelledAt < 0) {
      cancelledAt = call.value;
      stopped = CancelHttpDownload();
      stoppedAgain = CancelHttpDownload();
    }
  };
  CHECK_FALSE(Fetch(url, target.wstring(), first));
  first.CheckSequence(kDownload_Cancelled);
  CHECK(cancelledAt >= 20);
  CHECK(stopped);             // it stopped a running download
  CHECK_FALSE(stoppedAgain);  // that one was cancelled already
  CHECK_FALSE(CancelHttpDownload());
  CHECK_FALSE(fs::exists(target));
  REQUIRE(fs::exists(target.string() + ".tmp"));
  REQUIRE(fs::exists(target.string() + ".cfg"));
  // The window's check before a retry keeps leftovers of the same download.
  CHECK_FALSE(JudgeDeleteHistoryFile(url, static_cast<int64_t>(zvpeers::ManifestSize("large.bin")),
                                     target.wstring()));

  Recorder second;
  REQUIRE(Fetch(url, target.wstring(), second));
  second.CheckSequence(kDownload_Success);
  std::vector<int> percents = second.Percents();
  REQUIRE_FALSE(percents.empty());
  CHECK(percents.front() >= 10);  // started from what the first call had
  CHECK(IsNonDecreasing(percents));
  CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("large.bin"));
  CHECK_FALSE(fs::exists(target.string() + ".cfg"));
}

TEST_CASE("leftovers of an address the engine escaped never match it and go before the next start") {
  zvtest::TempDir dir("driver-escaped");
  fs::path target = dir.path() / "setup.exe";
  std::wstring url = NginxUrl(std::string(kSlowPath) + "?with space");
  Recorder recorder;
  recorder.hook = [](const Call& call) {
    if (call.code == kCallback_Percent && call.value > 0) CancelHttpDownload();
  };
  CHECK_FALSE(Fetch(url, target.wstring(), recorder));
  recorder.CheckSequence(kDownload_Cancelled);
  int64_t size = 0;
  std::string stored;
  REQUIRE(ReadMetaInfo(size, stored, target.wstring() + L".cfg"));
  CHECK(stored == zvpeers::Url("nginx", "http", std::string(kSlowPath) + "?with%20space"));
  CHECK(size == static_cast<int64_t>(zvpeers::ManifestSize("large.bin")));
  CHECK(JudgeDeleteHistoryFile(url, size, target.wstring()));
  CHECK_FALSE(fs::exists(target.string() + ".tmp"));
  CHECK_FALSE(fs::exists(target.string() + ".cfg"));
}

TEST_CASE("without a callback the download runs and returns its result") {
  zvtest::TempDir dir("driver-silent");
  DownloadRequest request;
  request.url = NginxUrl("/files/small.bin?silent");
  request.path = (dir.path() / "silent.bin").wstring();
  CHECK(StartHttpDownload(&request, nullptr, nullptr));
  CHECK(zvpeers::Sha256OfFile(dir.path() / "silent.bin") == zvpeers::ManifestSha256("small.bin"));
  request.url = NginxUrl("/files/none.bin");
  request.path = (dir.path() / "none.bin").wstring();
  CHECK_FALSE(StartHttpDownload(&request, nullptr, nullptr));
  CHECK_FALSE(StartHttpDownload(nullptr, nullptr, nullptr));  // no request: failed, no crash
}

TEST_CASE("a cancel that comes once every byte is there still reports success") {
  zvtest::TempDir dir("driver-late-cancel");
  fs::path target = dir.path() / "late.bin";
  // Slow enough (eight connections of 60,000 bytes a second) that a poll
  // finds the task downloading and reports a percentage.
  const std::string url = zvpeers::Url("faulty", "http", "/slow/medium.bin?rate=60000&late=1");
  Recorder recorder;
  LogSince log;
  bool completed = false, cancelled = false;
  recorder.hook = [&](const Call& call) {
    if (call.code != kCallback_Percent || cancelled) return;
    // On the driver's thread, between two of its polls: the task completes
    // while the driver waits here, and the cancel comes before the driver
    // has looked again. The address names the task; the call changes nothing.
    TaskHandle task = CreateTask(url, target.wstring(), 8, 20);
    for (int i = 0; i < 6000 && !completed; ++i) {
      TaskStatus status;
      completed = QueryTask(task, status) && status.state == kTask_Complete;
      if (!completed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    cancelled = CancelHttpDownload();
  };
  bool ok = Fetch(Utf8ToWide(url), target.wstring(), recorder);
  REQUIRE(completed);
  REQUIRE(cancelled);
  CHECK(ok);
  recorder.CheckSequence(kDownload_Success);
  CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("medium.bin"));
  CHECK_FALSE(fs::exists(target.string() + ".tmp"));
  CHECK_FALSE(fs::exists(target.string() + ".cfg"));
  CHECK(log.Has("HttpDownload engine user maybe cancel."));
  CHECK(log.Has("HttpDownload engine cancel but almost complete."));
}

TEST_CASE("the same address again to another path: a cancel writes nothing, a full run lands there") {
  zvtest::TempDir dir("driver-stale");
  std::wstring url = NginxUrl("/files/small.bin?stale");
  Recorder done;
  REQUIRE(Fetch(url, (dir.path() / "one.bin").wstring(), done));
  // The same address again, to another path, cancelled before its task
  // runs: the completed earlier run of that task does not count for it.
  Recorder cancelled;
  cancelled.hook = [](const Call& call) {
    if (call.code == kCallback_Started) CancelHttpDownload();
  };
  CHECK_FALSE(Fetch(url, (dir.path() / "two.bin").wstring(), cancelled));
  cancelled.CheckSequence(kDownload_Cancelled);
  CHECK_FALSE(fs::exists(dir.path() / "two.bin"));
  // Run to its end, the same task writes to the new path.
  Recorder again;
  REQUIRE(Fetch(url, (dir.path() / "two.bin").wstring(), again));
  CHECK(zvpeers::Sha256OfFile(dir.path() / "two.bin") == zvpeers::ManifestSha256("small.bin"));
  CHECK(zvpeers::Sha256OfFile(dir.path() / "one.bin") == zvpeers::ManifestSha256("small.bin"));
}

TEST_CASE("cancels before and while the task starts end cancelled") {
  SUBCASE("before the task exists") {
    zvtest::TempDir dir("driver-early-cancel");
    fs::path target = dir.path() / "early.bin";
    Recorder recorder;
    recorder.hook = [](const Call& call) {
      if (call.code == kCallback_Started) CancelHttpDownload();
    };
    CHECK_FALSE(Fetch(NginxUrl("/files/medium.bin"), target.wstring(), recorder));
    recorder.CheckSequence(kDownload_Cancelled);
    CHECK(fs::is_empty(dir.path()));
  }
  SUBCASE("while the first connection waits for an answer") {
    // A listener that takes connections but never answers.
    asio::io_context io;
    asio::ip::tcp::acceptor silent(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    std::string url = "http://127.0.0.1:" + std::to_string(silent.local_endpoint().port()) + "/x.bin";
    zvtest::TempDir dir("driver-start-cancel");
    Recorder recorder;
    std::thread canceller;
    recorder.hook = [&](const Call& call) {
      if (call.code == kCallback_Started) {
        canceller = std::thread([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          CancelHttpDownload();
        });
      }
    };
    CHECK_FALSE(Fetch(Utf8ToWide(url), (dir.path() / "x.bin").wstring(), recorder));
    canceller.join();
    recorder.CheckSequence(kDownload_Cancelled);
    CHECK_FALSE(fs::exists(dir.path() / "x.bin"));
  }
}

TEST_CASE("failures end in clear result codes") {
  zvtest::TempDir dir("driver-fail");
  SUBCASE("the first connection cannot be opened or the data file cannot be made") {
    zvtest::WriteFile(dir.path() / "plain-file", "x");
    struct Case {
      const char* name;
      std::string url;
      fs::path target;
    };
    const Case cases[] = {
        {"no server", "http://127.0.0.1:" + std::to_string(DeadPort()) + "/files/small.bin",
         dir.path() / "dead.bin"},
        {"404", zvpeers::Url("nginx", "http", "/files/none.bin"), dir.path() / "none.bin"},
        {"the target folder does not exist", zvpeers::Url("nginx", "http", "/files/small.bin?a"),
         dir.path() / "missing" / "sub" / "x.bin"},
        {"the target folder is a file", zvpeers::Url("nginx", "http", "/files/small.bin?b"),
         dir.path() / "plain-file" / "x.bin"},
        {"an address that does not parse", "http//127.0.0.1/files/small.bin", dir.path() / "bad.bin"},
        {"no address", "", dir.path() / "empty.bin"},
        {"no target path", zvpeers::Url("nginx", "http", "/files/small.bin?c"), fs::path()},
    };
    for (const Case& c : cases) {
      CAPTURE(c.name);
      Recorder recorder;
      CHECK_FALSE(Fetch(Utf8ToWide(c.url), c.target.wstring(), recorder));
      recorder.CheckSequence(kDownload_Failed);
      CHECK(recorder.Percents().empty());
      if (!c.target.empty()) CHECK_FALSE(fs::exists(c.target));
    }
    CHECK_FALSE(fs::exists(dir.path() / "missing"));
    CHECK_FALSE(fs::exists(".tmp"));
    CHECK_FALSE(fs::exists(".cfg"));
  }
  SUBCASE("every connection gives up short of the end: incomplete, the files stay for a retry") {
    // Ranges past the first are refused with 403.
    Recorder recorder;
    fs::path target = dir.path() / "refused.bin";
    std::wstring url = Utf8ToWide(zvpeers::Url("faulty", "http", "/range403/large.bin"));
    CHECK_FALSE(Fetch(url, target.wstring(), recorder));
    recorder.CheckSequence(kDownload_Incomplete);
    CHECK_FALSE(fs::exists(target));
    CHECK(fs::exists(target.string() + ".tmp"));
    CHECK(fs::exists(target.string() + ".cfg"));
  }
  SUBCASE("the size is never known: the body ends with the connection") {
    UnsizedPeer peer;
    Recorder recorder;
    fs::path target = dir.path() / "unsized.bin";
    CHECK_FALSE(Fetch(Utf8ToWide(peer.Url("/unsized.bin")), target.wstring(), recorder));
    recorder.CheckSequence(kDownload_Incomplete);
    CHECK_FALSE(fs::exists(target));
  }
  SUBCASE("a body without Content-Length: the size comes from Content-Range") {
    Recorder recorder;
    fs::path target = dir.path() / "noclen.bin";
    std::wstring url = Utf8ToWide(zvpeers::Url("faulty", "http", "/noclen/small.bin"));
    CHECK(Fetch(url, target.wstring(), recorder));
    recorder.CheckSequence(kDownload_Success);
    CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("small.bin"));
  }
  SUBCASE("the final name is taken by a folder: the data stays for a retry") {
    Recorder recorder;
    fs::path target = dir.path() / "blocked.bin";
    fs::create_directories(target / "inside");
    CHECK_FALSE(Fetch(NginxUrl("/files/medium.bin"), target.wstring(), recorder));
    recorder.CheckSequence(kDownload_Failed);
    CHECK(fs::is_directory(target));
    CHECK(zvpeers::Sha256OfFile(target.string() + ".tmp") == zvpeers::ManifestSha256("medium.bin"));
    CHECK(fs::exists(target.string() + ".cfg"));

    fs::remove_all(target);
    Recorder retry;
    REQUIRE(Fetch(NginxUrl("/files/medium.bin"), target.wstring(), retry));
    retry.CheckSequence(kDownload_Success);
    CHECK(zvpeers::Sha256OfFile(target) == zvpeers::ManifestSha256("medium.bin"));
    CHECK_FALSE(fs::exists(target.string() + ".tmp"));
    CHECK_FALSE(fs::exists(target.string() + ".cfg"));
  }
}

TEST_CASE("one download at a time: a second call waits for the running one") {
  zvtest::TempDir dir("driver-twice");
  std::wstring url = NginxUrl(kSlowPath);
  std::atomic<bool> downloading{false};
  Recorder running;
  running.hook = [&](const Call& call) {
    if (call.code == kCallback_Percent) downloading = true;
  };
  bool firstOk = true;
  std::thread first([&] { firstOk = Fetch(url, (dir.path() / "a.bin").wstring(), running); });
  for (int i = 0; i < 400 && !downloading; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  REQUIRE(downloading);

  // Past its bound the waiting call gives up: failed, nothing written.
  int bound = SetPreviousDownloadWait(200);
  Recorder refused;
  CHECK_FALSE(Fetch(NginxUrl("/files/small.bin?refused"), (dir.path() / "b.bin").wstring(), refused));
  SetPreviousDownloadWait(bound);
  refused.CheckSequence(kDownload_Failed);
  CHECK(refused.Last().extra == 0);
  CHECK_FALSE(fs::exists(dir.path() / "b.bin.tmp"));

  // A driver of its own on the same address finds the task in use.
  Recorder third;
  DownloadRequest request;
  request.context = &third;
  request.url = url;
  request.path = (dir.path() / "c.bin").wstring();
  CZVDownload other(&request, &Recorder::Callback, nullptr);
  CHECK(other.Download() == kDownload_Failed);
  third.CheckSequence(kDownload_Failed);
  CHECK_FALSE(fs::exists(dir.path() / "c.bin.tmp"));

  // Within the bound the call waits, and runs once the first has ended.
  Recorder waiting;
  bool waitedOk = false;
  std::thread next([&] {
    waitedOk = Fetch(NginxUrl("/files/medium.bin?next"), (dir.path() / "d.bin").wstring(), waiting);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  CHECK(CancelHttpDownload());  // the running one, not the waiting one
  first.join();
  next.join();
  CHECK_FALSE(firstOk);
  running.CheckSequence(kDownload_Cancelled);
  CHECK(waitedOk);
  waiting.CheckSequence(kDownload_Success);
  CHECK(waiting.First().order > running.Last().order);
  CHECK(zvpeers::Sha256OfFile(dir.path() / "d.bin") == zvpeers::ManifestSha256("medium.bin"));
}

TEST_CASE("tasks are keyed by the CRC-32 of the address") {
  CHECK(TaskKey("123456789") == "cbf43926");
  CHECK(TaskKey("") == "0");
  CHECK(TaskKey("a") == "e8b7be43");
  zvtest::TempDir dir("driver-key");
  std::wstring path = (dir.path() / "k.bin").wstring();
  TaskHandle one = CreateTask("http://127.0.0.1:1/key-test", path, 8, 20);
  TaskHandle two = CreateTask("http://127.0.0.1:1/key-test", path + L"2", 4, 20);
  TaskHandle other = CreateTask("http://127.0.0.1:1/key-test2", path, 8, 20);
  CHECK(one == two);
  CHECK(one != other);
  TaskStatus status;
  CHECK(QueryTask(one, status));
  CHECK(status.state == kTask_Starting);
  int unknown = 0;
  CHECK_FALSE(QueryTask(&unknown, status));
}

TEST_CASE("leftovers are kept only when they belong to the same address and size") {
  zvtest::TempDir dir("driver-history");
  const std::wstring url = L"http://example.test/pkg/setup.exe";
  fs::path file = dir.path() / "setup.exe";
  fs::path data = file.string() + ".tmp", meta = file.string() + ".cfg";
  auto leftovers = [&] {
    zvtest::WriteFile(data, "partial");
    WriteMeta(meta, WideToUtf8(url), 300000000);
  };

  struct Case {
    const char* name;
    std::wstring url;
    int64_t size;
    bool deleted;
  };
  const Case cases[] = {
      {"same download", url, 300000000, false},
      {"other size", url, 300000001, true},
      {"size past 32 bits", url, 300000000 + (int64_t(1) << 32), true},
      {"address differs in case", L"http://example.test/pkg/Setup.exe", 300000000, true},
      {"other address", L"http://example.test/pkg/other.exe", 300000000, true},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    leftovers();
    CHECK(JudgeDeleteHistoryFile(c.url, c.size, file.wstring()) == c.deleted);
    CHECK(fs::exists(data) == !c.deleted);
    CHECK(fs::exists(meta) == !c.deleted);
  }

  // no meta file: nothing is deleted
  fs::remove(meta);
  zvtest::WriteFile(data, "partial");
  CHECK_FALSE(JudgeDeleteHistoryFile(url, 300000000, file.wstring()));
  CHECK(fs::exists(data));
  // an empty meta file matches nothing
  zvtest::WriteFile(meta, "");
  CHECK(JudgeDeleteHistoryFile(url, 0, file.wstring()));
  CHECK_FALSE(fs::exists(data));
  CHECK_FALSE(fs::exists(meta));
  // a meta file that does not decode is left alone
  zvtest::WriteFile(data, "partial");
  zvtest::WriteFile(meta, "d9:file_sizei12");
  CHECK_FALSE(JudgeDeleteHistoryFile(url, 12, file.wstring()));
  CHECK(fs::exists(meta));

  int64_t size = -1;
  std::string stored = "unchanged";
  zvtest::WriteFile(meta, "");
  CHECK(ReadMetaInfo(size, stored, meta.wstring()));
  CHECK(size == -1);
  CHECK(stored == "unchanged");
  WriteMeta(meta, "http://a.test/x", 5000);
  CHECK(ReadMetaInfo(size, stored, meta.wstring()));
  CHECK(size == 5000);
  CHECK(stored == "http://a.test/x");
  CHECK_FALSE(ReadMetaInfo(size, stored, (dir.path() / "none.cfg").wstring()));

  // removal: nothing there is success; both go
  CHECK(RemoveTemporaryFileWrap((dir.path() / "nothing").wstring()));
  CHECK(RemoveTemporaryFileWrap(file.wstring()));
  CHECK_FALSE(fs::exists(data));
  CHECK_FALSE(fs::exists(meta));
}

TEST_CASE("leftovers are kept only for the same build when the size query names one") {
  zvtest::TempDir dir("driver-validator");
  const std::wstring url = L"http://example.test/pkg/setup.exe";
  const int64_t size = 300000000;
  fs::path file = dir.path() / "setup.exe";
  fs::path data = file.string() + ".tmp", meta = file.string() + ".cfg";
  const auto etag = engine::validator_of("\"a1-11e1a300\"", "");
  const auto date = engine::validator_of("", "Tue, 08 Dec 2026 10:00:00 GMT");

  struct Case {
    const char* name;
    engine::resource_validator recorded, served;
    bool deleted;
    const char* logged;
  };
  const Case cases[] = {
      {"same tag", etag, etag, false, nullptr},
      {"same date", date, date, false, nullptr},
      {"another tag", etag, engine::validator_of("\"b2-11e1a300\"", ""), true, "another build of the file"},
      {"a date where a tag was", etag, date, true, "another build of the file"},
      {"recorded by an older build, server names one", {}, etag, true, "another build of the file"},
      {"server names none", etag, {}, false, "judged by size only"},
      {"neither names one", {}, {}, false, "judged by size only"},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    zvtest::WriteFile(data, "partial");
    WriteMeta(meta, WideToUtf8(url), size, c.recorded);
    LogSince log;
    CHECK(JudgeDeleteHistoryFile(url, size, file.wstring(), c.served) == c.deleted);
    CHECK(fs::exists(data) == !c.deleted);
    CHECK(fs::exists(meta) == !c.deleted);
    if (c.logged) CHECK(log.Has(c.logged));
  }
  engine::resource_validator stored;
  int64_t stored_size = 0;
  std::string stored_url;
  WriteMeta(meta, WideToUtf8(url), size, date);
  REQUIRE(ReadMetaInfo(stored_size, stored_url, meta.wstring(), &stored));
  CHECK(stored == date);
}

TEST_CASE("a file replaced during the download is started over once and ends as the new build") {
  zvtest::TempDir dir("driver-replaced");
  fs::path target = dir.path() / "zelvane-download.exe";
  const std::size_t size = 4000000;
  const std::string old_build = zvpeers::PseudoRandomBytes(size, 11), new_build = zvpeers::PseudoRandomBytes(size, 12);
  zvpeers::PublishedFile file("driver");
  file.Publish(old_build, 1000);

  // Published at the first progress report, while the connections (paced
  // at 64 KiB/s each) still have most ranges to ask for.
  Recorder recorder;
  bool published = false;
  recorder.hook = [&](const Call& call) {
    if (call.code == kCallback_Percent && !published) {
      published = true;
      file.Publish(new_build, 500);
    }
  };
  LogSince log;
  REQUIRE(Fetch(Utf8ToWide(file.Url("/rate/64k/")), target.wstring(), recorder));
  recorder.CheckSequence(kDownload_Success, 1);
  CHECK(published);
  CHECK(zvtest::ReadFile(target) == new_build);
  CHECK(log.Count("engine: the file on the server has changed") == 1);
  CHECK(log.Count("starts over: the file on the server has changed") == 1);
}
