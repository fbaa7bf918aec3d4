// The raw-socket client against real peers: nginx for well-formed answers,
// the fault server for broken framing, huge headers, stalls and redirect chains.
#include <doctest/doctest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "http/HttpSocket.h"
#include "system/Strings.h"
#include "tests/peers/Peers.h"
#include "tests/support/TestSupport.h"

namespace {

std::wstring W(const std::string& text) { return Utf8ToWide(text); }

std::string PeerFile(const std::string& name) { return zvtest::ReadFile(zvpeers::FilesDir() / name); }

struct Recorder : IHttpCallback {
  std::vector<int> states;
  double lastTotal = -1;
  double lastCurrent = 0;
  bool monotonic = true;
  double cancelAfter = -1;  // bytes after which IsCancelled answers true
  void OnDownloadProgress(int param, int state, double total, double current) override {
    CHECK(param == 42);
    states.push_back(state);
    if (state == kHttpState_Progress) {
      if (current < lastCurrent) monotonic = false;
      lastCurrent = current;
      lastTotal = total;
    }
  }
  bool IsCancelled() override { return cancelAfter >= 0 && lastCurrent > cancelAfter; }
};

// DownloadToMemory result: the code, and the body when it succeeded.
struct MemoryResult {
  bool ok;
  HttpInterfaceError error;
  int status;
  std::string body;
};

MemoryResult FetchToMemory(const std::string& url, int ioMs = 10000) {
  CHttpSocket client;
  client.SetTimeouts(3000, ioMs);
  void* buffer = reinterpret_cast<void*>(1);
  size_t length = 99;
  MemoryResult r{client.DownloadToMemory(W(url), &buffer, &length), client.GetErrorCode(),
                 client.GetHttpCode(), {}};
  if (r.ok) {
    r.body.assign(static_cast<char*>(buffer), length);
    std::free(buffer);
  } else {
    CHECK(buffer == nullptr);
    CHECK(length == 0);
  }
  return r;
}

}  // namespace

TEST_CASE("DownloadToMemory: bodies, redirects and limits against nginx") {
  const std::string small = PeerFile("small.bin");
  const struct {
    const char* path;
    bool ok;
    HttpInterfaceError error;
    const char* file;
  } cases[] = {
      {"/files/small.bin", true, kHttpErr_None, "small.bin"},
      {"/files/exact.bin", true, kHttpErr_None, "exact.bin"},        // 4 MiB fits
      {"/redirect/small.bin", true, kHttpErr_None, "small.bin"},     // 302 absolute
      {"/relative/small.bin", true, kHttpErr_None, "small.bin"},     // 302 relative Location
      {"/moved/small.bin", true, kHttpErr_None, "small.bin"},        // 301
      {"/chunked/medium.bin", true, kHttpErr_None, "medium.bin"},    // chunked transfer
      {"/files/large.bin", false, kHttpErr_Size, nullptr},           // 8 MiB + 17
      {"/files/empty.bin", false, kHttpErr_Size, nullptr},
      {"/files/missing.bin", false, kHttpErr_Status, nullptr},
      {"/status/403", false, kHttpErr_Status, nullptr},
      {"/status/500", false, kHttpErr_Status, nullptr},
      {"/loop/", false, kHttpErr_Redirect, nullptr},
  };
  for (const auto& c : cases) {
    CAPTURE(std::string(c.path));
    MemoryResult r = FetchToMemory(zvpeers::Url("nginx", "http", c.path));
    CHECK(r.ok == c.ok);
    CHECK(r.error == c.error);
    if (c.file) CHECK(r.body == PeerFile(c.file));
  }
  CHECK(FetchToMemory(zvpeers::Url("nginx", "http", "/status/404")).status == 404);
}

TEST_CASE("DownloadToMemory: broken framing and hostile answers of the fault server") {
  const struct {
    const char* path;
    bool ok;
    HttpInterfaceError error;
  } cases[] = {
      {"/chunked/medium.bin?chunk=1000", true, kHttpErr_None},
      {"/chunked/small.bin?chunk=1", true, kHttpErr_None},
      {"/noclen/small.bin", true, kHttpErr_None},  // body up to the close
      {"/redirects/5/small.bin", true, kHttpErr_None},
      {"/redirects/6/small.bin", false, kHttpErr_Redirect},
      {"/loop/x", false, kHttpErr_Redirect},
      {"/badchunk/medium.bin?kind=size", false, kHttpErr_Protocol},
      {"/badchunk/medium.bin?kind=crlf", false, kHttpErr_Protocol},
      {"/badchunk/medium.bin?kind=overflow", false, kHttpErr_Protocol},
      {"/badchunk/medium.bin?kind=longline", false, kHttpErr_Protocol},
      {"/short/medium.bin", false, kHttpErr_Read},
      {"/reset/medium.bin", false, kHttpErr_Socket},
      {"/longheader?n=100000", false, kHttpErr_NoHeaderEnd},
      {"/manyheaders?n=20000", false, kHttpErr_NoHeaderEnd},
      {"/hugelength", false, kHttpErr_Protocol},
      {"/hugelength?n=9000000", false, kHttpErr_Size},
      {"/status/400", false, kHttpErr_Status},
      {"/status/204", false, kHttpErr_Size},  // nothing to hand back
  };
  for (const auto& c : cases) {
    CAPTURE(std::string(c.path));
    MemoryResult r = FetchToMemory(zvpeers::Url("faulty", "http", c.path));
    CHECK(r.ok == c.ok);
    CHECK(r.error == c.error);
    if (c.ok) {
      std::string path = c.path;
      std::string name = path.substr(path.rfind('/') + 1);
      name = name.substr(0, name.find('?'));
      CHECK(r.body == PeerFile(name));
    }
  }
  // A long header below the limit is fine.
  CHECK(FetchToMemory(zvpeers::Url("faulty", "http", "/longheader?n=30000")).body == "ok");
}

TEST_CASE("A stalled server ends the call with a socket error after the receive time-out") {
  MemoryResult r = FetchToMemory(zvpeers::Url("faulty", "http", "/stall/medium.bin?at=1000"), 1000);
  CHECK_FALSE(r.ok);
  CHECK(r.error == kHttpErr_Socket);
}

TEST_CASE("Refused addresses: https, other schemes, closed ports") {
  const struct {
    const char* url;
    HttpInterfaceError error;
  } cases[] = {
      {"https://127.0.0.1:1/x", kHttpErr_BadUrl},  // never touches the network
      {"ftp://127.0.0.1/x", kHttpErr_BadUrl},
      {"http://127.0.0.1:bad/x", kHttpErr_BadUrl},
      {"", kHttpErr_BadUrl},
      {"http://127.0.0.1:1/x", kHttpErr_Connect},
  };
  for (const auto& c : cases) {
    CAPTURE(std::string(c.url));
    MemoryResult r = FetchToMemory(c.url);
    CHECK_FALSE(r.ok);
    CHECK(r.error == c.error);
  }
  // Redirected to https: this client cannot follow, and says so.
  CHttpSocket client;
  void* buffer = nullptr;
  size_t length = 0;
  client.SetTimeouts(3000, 3000);
  CHECK_FALSE(client.DownloadToMemory(W(zvpeers::Url("nginx", "https", "/files/small.bin")), &buffer, &length));
  CHECK(client.GetErrorCode() == kHttpErr_BadUrl);
}

TEST_CASE("DownloadFile: complete file with progress, nothing left behind on failure") {
  zvtest::TempDir dir("http_socket");
  std::wstring target = (dir.path() / "out.bin").wstring();
  {
    CHttpSocket client;
    Recorder recorder;
    client.SetDownloadCallback(&recorder, 42);
    REQUIRE(client.DownloadFile(W(zvpeers::Url("nginx", "http", "/files/medium.bin")), target));
    CHECK(zvtest::ReadFile(target) == PeerFile("medium.bin"));
    CHECK(client.GetHttpCode() == 200);
    CHECK(client.GetIpAddress() == L"127.0.0.1");
    REQUIRE(recorder.states.size() >= 2);
    CHECK(recorder.states.back() == kHttpState_Finished);
    CHECK(recorder.monotonic);
    CHECK(recorder.lastTotal == 1000003.0);
    CHECK(recorder.lastCurrent == 1000003.0);
  }
  const struct {
    std::string url;
    HttpInterfaceError error;
  } failures[] = {
      {zvpeers::Url("nginx", "http", "/files/missing.bin"), kHttpErr_Status},
      {zvpeers::Url("faulty", "http", "/short/medium.bin"), kHttpErr_Read},
      {zvpeers::Url("faulty", "http", "/badchunk/medium.bin?kind=size"), kHttpErr_Protocol},
  };
  for (const auto& f : failures) {
    CAPTURE(f.url);
    zvtest::WriteFile(dir.path() / "out.bin", "older");
    std::filesystem::remove(dir.path() / "out.bin");
    CHttpSocket client;
    Recorder recorder;
    client.SetDownloadCallback(&recorder, 42);
    CHECK_FALSE(client.DownloadFile(W(f.url), target));
    CHECK(client.GetErrorCode() == f.error);
    CHECK_FALSE(std::filesystem::exists(dir.path() / "out.bin"));
    REQUIRE_FALSE(recorder.states.empty());
    CHECK(recorder.states.back() == kHttpState_Failed);
  }
  // A request that fails before any body leaves an older file alone.
  zvtest::WriteFile(dir.path() / "out.bin", "older");
  CHttpSocket refused;
  CHECK_FALSE(refused.DownloadFile(W(zvpeers::Url("nginx", "http", "/status/500")), target));
  CHECK(zvtest::ReadFile(dir.path() / "out.bin") == "older");
  // An empty body is a valid, empty file.
  CHttpSocket client;
  REQUIRE(client.DownloadFile(W(zvpeers::Url("nginx", "http", "/files/empty.bin")), target));
  CHECK(std::filesystem::file_size(dir.path() / "out.bin") == 0);
  // A file larger than the in-memory limit goes to disk whole.
  REQUIRE(client.DownloadFile(W(zvpeers::Url("nginx", "http", "/files/large.bin")), target));
  CHECK(std::filesystem::file_size(dir.path() / "out.bin") == zvpeers::ManifestSize("large.bin"));
}

TEST_CASE("DownloadFile: cancellation ends the transfer with code 11 and no file") {
  zvtest::TempDir dir("http_socket_cancel");
  std::wstring target = (dir.path() / "out.bin").wstring();
  CHttpSocket client;
  Recorder recorder;
  recorder.cancelAfter = 100000;
  client.SetDownloadCallback(&recorder, 42);
  CHECK_FALSE(client.DownloadFile(W(zvpeers::Url("nginx", "http", "/rate/1m/large.bin")), target));
  CHECK(client.GetErrorCode() == kHttpErr_Cancelled);
  CHECK(recorder.states.back() == kHttpState_Failed);
  CHECK_FALSE(std::filesystem::exists(dir.path() / "out.bin"));
}
