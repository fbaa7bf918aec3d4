// Downloads with the engine over the real peers of tests/peers: nginx over
// HTTP and HTTPS, dante and tinyproxy, and the fault server. Every finished
// download is checked by SHA-256 against its source.
#include <doctest/doctest.h>

#include "engine/error.h"
#include "tests/engine/EngineRun.h"
#include "tests/peers/Peers.h"
#include "tests/support/TestSupport.h"

#include <asio/ssl/error.hpp>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using zvtest::engine_result;
using zvtest::RunDownload;
using zvtest::TestSettings;

namespace {

struct download_case {
  const char* name;
  std::string url;
  std::string file;
  int connections;
};

void CheckComplete(const engine_result& r, const std::filesystem::path& data, const std::string& file) {
  CHECK(r.started);
  CHECK_MESSAGE(!r.start_error, r.start_error.message());
  CHECK_FALSE(r.timed_out);
  CHECK(r.complete);
  CHECK_MESSAGE(!r.error, r.error.message());
  CHECK(r.size == static_cast<int64_t>(zvpeers::ManifestSize(file)));
  CHECK(zvpeers::Sha256OfFile(data) == zvpeers::ManifestSha256(file));
}

std::string Faulty(const std::string& path) { return zvpeers::Url("faulty", "http", path); }
std::string Nginx(const std::string& path) { return zvpeers::Url("nginx", "http", path); }
std::string NginxTls(const std::string& path) { return zvpeers::Url("nginx", "https", path); }

// Body bytes the fault server has sent since its last reset; the test fails
// when its statistics cannot be read.
long long FaultServerBodyBytes() {
  zvtest::TempDir dir("stats");
  auto r = RunDownload(Faulty("/control/stats"), TestSettings(dir.path() / "stats.json", 1), 20);
  REQUIRE_MESSAGE(r.complete, "the fault server's statistics could not be fetched");
  std::string text = zvtest::ReadFile(dir.path() / "stats.json");
  auto pos = text.find("\"body_bytes\":");
  REQUIRE_MESSAGE(pos != std::string::npos, "no body_bytes in the fault server's statistics: " << text);
  return std::atoll(text.c_str() + pos + 13);
}

void ResetFaultServer() {
  zvtest::TempDir dir("reset");
  RunDownload(Faulty("/control/reset"), TestSettings(dir.path() / "r", 1), 20);
}

}  // namespace

TEST_CASE("plain and TLS downloads are complete and exact") {
  const download_case cases[] = {
      {"small, 8 connections", Nginx("/files/small.bin"), "small.bin", 8},
      {"medium, 8 connections", Nginx("/files/medium.bin"), "medium.bin", 8},
      {"large, 8 connections", Nginx("/files/large.bin"), "large.bin", 8},
      {"exact multiple of the piece size", Nginx("/files/exact.bin"), "exact.bin", 8},
      {"large, 1 connection", Nginx("/files/large.bin"), "large.bin", 1},
      {"TLS, large, 8 connections", NginxTls("/files/large.bin"), "large.bin", 8},
      {"TLS, by host name", "https://localhost:" + std::to_string(zvpeers::Port("nginx", "https")) + "/files/medium.bin",
       "medium.bin", 4},
      {"TLS fault server, medium", zvpeers::Url("faulty", "https", "/files/medium.bin"), "medium.bin", 8},
  };
  for (const auto& c : cases) {
    SUBCASE(c.name) {
      zvtest::TempDir dir("dl");
      auto data = dir.path() / "P.tmp";
      auto r = RunDownload(c.url, TestSettings(data, c.connections));
      CheckComplete(r, data, c.file);
      CHECK(r.multi);
    }
  }
}

TEST_CASE("a server that ignores ranges is read as one body") {
  zvtest::TempDir dir("norange");
  auto data = dir.path() / "P.tmp";
  auto r = RunDownload(Faulty("/norange/medium.bin"), TestSettings(data));
  CheckComplete(r, data, "medium.bin");
  CHECK_FALSE(r.multi);
}

TEST_CASE("certificates that must be refused") {
  const std::pair<const char*, const char*> cases[] = {
      {"self-signed", "https_untrusted"}, {"wrong host name", "https_wronghost"}, {"expired", "https_expired"}};
  for (const auto& c : cases) {
    SUBCASE(c.first) {
      zvtest::TempDir dir("tlsbad");
      auto r = RunDownload(zvpeers::Url("nginx", c.second, "/files/small.bin"), TestSettings(dir.path() / "P.tmp"), 30);
      CHECK_FALSE(r.started);
      CHECK(r.start_error);
      CHECK(r.start_error.category() == asio::error::get_ssl_category());
      CHECK_FALSE(r.complete);
    }
  }
  SUBCASE("a trusted certificate reached under a name it does not carry") {
    // The test CA's certificate for wrong.invalid, reached by a host name
    // every machine resolves: the name check, not the address check, refuses.
    zvtest::TempDir dir("tlsname");
    auto r = RunDownload("https://localhost:" + std::to_string(zvpeers::Port("nginx", "https_wronghost")) +
                             "/files/small.bin",
                         TestSettings(dir.path() / "P.tmp"), 30);
    CHECK_FALSE(r.started);
    CHECK(r.start_error.category() == asio::error::get_ssl_category());
  }
  SUBCASE("without the test CA the peers' certificate is unknown") {
    zvtest::TempDir dir("tlsnoca");
    auto settings = TestSettings(dir.path() / "P.tmp");
    settings.ca_file.clear();
    auto r = RunDownload(NginxTls("/files/small.bin"), settings, 30);
    CHECK_FALSE(r.started);
    CHECK(r.start_error);
  }
}

TEST_CASE("every proxy kind, to HTTP and HTTPS targets") {
  struct proxy_case {
    const char* name;
    const char* service;
    const char* key;
    int kind;
    bool with_credentials;
  };
  const proxy_case cases[] = {
      {"SOCKS 4", "socks", "socks", engine::kProxy_Socks4, false},
      {"SOCKS 4a", "faulty", "socks4a", engine::kProxy_Socks4a, false},
      {"SOCKS 5", "socks", "socks", engine::kProxy_Socks5, false},
      {"SOCKS 5 with password", "socks", "socks_auth", engine::kProxy_Socks5Password, true},
      {"HTTP proxy", "httpproxy", "proxy", engine::kProxy_Http, false},
      {"HTTP proxy with password", "httpproxy", "proxy_auth", engine::kProxy_HttpPassword, true},
  };
  for (const auto& c : cases) {
    for (bool tls : {false, true}) {
      SUBCASE((std::string(c.name) + (tls ? ", https target" : ", http target")).c_str()) {
        zvtest::TempDir dir("proxy");
        auto data = dir.path() / "P.tmp";
        auto settings = TestSettings(data, 4);
        settings.proxy.kind = c.kind;
        settings.proxy.host = "127.0.0.1";
        settings.proxy.port = zvpeers::Port(c.service, c.key);
        if (c.with_credentials) {
          settings.proxy.user_name = zvpeers::Value(c.service, "user");
          settings.proxy.password = zvpeers::Value(c.service, "password");
        }
        REQUIRE(settings.proxy.port > 0);
        auto r = RunDownload(tls ? NginxTls("/files/medium.bin") : Nginx("/files/medium.bin"), settings);
        CheckComplete(r, data, "medium.bin");
      }
    }
  }
}

TEST_CASE("proxy refusals") {
  struct refusal {
    const char* name;
    const char* service;
    const char* key;
    int kind;
    std::string user;
    std::string target;
    std::error_code expected;
  };
  const std::string target = Nginx("/files/small.bin");
  const refusal cases[] = {
      {"HTTP proxy without credentials", "httpproxy", "proxy_auth", engine::kProxy_Http, "", NginxTls("/files/small.bin"),
       engine::make_error_code(407)},
      {"SOCKS 5 method 0xFF", "faulty", "socks_nomethod", engine::kProxy_Socks5, "", target,
       engine::make_error_code(engine::kErr_SocksUnsupportedAuthVersion)},
      {"SOCKS 5 asks a password nobody gave", "faulty", "socks_wantauth", engine::kProxy_Socks5, "", target,
       engine::make_error_code(engine::kErr_SocksUsernameRequired)},
      {"SOCKS 5 answers version 4", "faulty", "socks_badversion", engine::kProxy_Socks5, "", target,
       engine::make_error_code(engine::kErr_SocksUnsupportedVersion)},
      {"SOCKS 5 authentication failure", "faulty", "socks_fault", engine::kProxy_Socks5Password, "authfail", target,
       engine::make_error_code(engine::kErr_SocksAuthError)},
      {"SOCKS 5 general failure", "faulty", "socks_fault", engine::kProxy_Socks5, "", "http://reply-1.invalid/x",
       engine::make_error_code(engine::kErr_SocksGeneralFailure)},
      {"SOCKS 5 connection refused", "faulty", "socks_fault", engine::kProxy_Socks5, "", "http://reply-5.invalid/x",
       asio::error::connection_refused},
      {"SOCKS 5 IPv6 bound address", "faulty", "socks_fault", engine::kProxy_Socks5, "", "http://ipv6.invalid/x",
       asio::error::address_family_not_supported},
      {"SOCKS 4 no identd", "faulty", "socks_fault", engine::kProxy_Socks4, "reply92", target,
       engine::make_error_code(engine::kErr_SocksNoIdentd)},
      {"SOCKS 4 identd mismatch", "faulty", "socks_fault", engine::kProxy_Socks4, "reply93", target,
       engine::make_error_code(engine::kErr_SocksIdentdMismatch)},
      {"unknown proxy kind", "socks", "socks", 42, "", target, asio::error::operation_not_supported},
  };
  for (const auto& c : cases) {
    SUBCASE(c.name) {
      zvtest::TempDir dir("proxybad");
      auto settings = TestSettings(dir.path() / "P.tmp", 2);
      settings.proxy.kind = c.kind;
      settings.proxy.host = "127.0.0.1";
      settings.proxy.port = zvpeers::Port(c.service, c.key);
      settings.proxy.user_name = c.user;
      settings.proxy.password = "x";
      auto r = RunDownload(c.target, settings, 30);
      CHECK_FALSE(r.started);
      CHECK_MESSAGE(r.start_error == c.expected, r.start_error.message());
    }
  }
  SUBCASE("SOCKS 5 with a domain-name bound address") {
    zvtest::TempDir dir("proxydomain");
    auto data = dir.path() / "P.tmp";
    auto settings = TestSettings(data, 2);
    settings.proxy.kind = engine::kProxy_Socks5;
    settings.proxy.host = "127.0.0.1";
    settings.proxy.port = zvpeers::Port("faulty", "socks_fault");
    auto r = RunDownload("http://localhost:" + std::to_string(zvpeers::Port("nginx", "http")) + "/files/small.bin",
                         settings);
    CheckComplete(r, data, "small.bin");
  }
}

TEST_CASE("redirects") {
  const std::pair<const char*, std::string> followed[] = {
      {"302 absolute", Nginx("/redirect/medium.bin")},
      {"301", Nginx("/moved/medium.bin")},
      {"two hops", Nginx("/redirect2/medium.bin")},
      {"relative Location", Nginx("/relative/medium.bin")},
      {"five hops is the limit", Faulty("/redirects/5/medium.bin")},
      {"https to https", NginxTls("/redirect/medium.bin")},
  };
  for (const auto& c : followed) {
    SUBCASE(c.first) {
      zvtest::TempDir dir("redir");
      auto data = dir.path() / "P.tmp";
      auto r = RunDownload(c.second, TestSettings(data));
      CheckComplete(r, data, "medium.bin");
      CHECK(r.final_url.find("/files/medium.bin") != std::string::npos);
    }
  }
  const std::tuple<const char*, std::string, std::error_code> refused[] = {
      {"loop", Nginx("/loop/"), engine::make_error_code(302)},
      {"six hops", Faulty("/redirects/6/medium.bin"), engine::make_error_code(302)},
      {"https to http", NginxTls("/to-http/medium.bin"), engine::make_error_code(engine::kErr_InsecureRedirect)},
  };
  for (const auto& c : refused) {
    SUBCASE(std::get<0>(c)) {
      zvtest::TempDir dir("redirbad");
      auto r = RunDownload(std::get<1>(c), TestSettings(dir.path() / "P.tmp"), 30);
      CHECK_FALSE(r.started);
      CHECK_MESSAGE(r.start_error == std::get<2>(c), r.start_error.message());
    }
  }
}

TEST_CASE("chunked bodies") {
  const std::pair<const char*, std::string> cases[] = {
      {"nginx, one chunked 200 body", Nginx("/chunked/large.bin")},
      {"fault server, chunked 206 ranges", Faulty("/chunked/large.bin?chunk=3000")},
      {"fault server, one-byte chunks", Faulty("/chunked/small.bin?chunk=1")},
      {"nginx over TLS, one chunked 200 body", NginxTls("/chunked/large.bin")},
      {"fault server over TLS, one-byte chunks", zvpeers::Url("faulty", "https", "/chunked/small.bin?chunk=1")},
  };
  for (const auto& c : cases) {
    SUBCASE(c.first) {
      zvtest::TempDir dir("chunk");
      auto data = dir.path() / "P.tmp";
      auto r = RunDownload(c.second, TestSettings(data));
      std::string file = c.second.find("small") != std::string::npos ? "small.bin" : "large.bin";
      CheckComplete(r, data, file);
    }
  }
}

TEST_CASE("faults the engine recovers from") {
  const std::pair<const char*, std::string> cases[] = {
      {"reset mid-body", Faulty("/reset/medium.bin?at=60000")},
      {"stall mid-body", Faulty("/stall/medium.bin?at=100000")},
      {"chunk size not hex after each good chunk", Faulty("/badchunk/small.bin?kind=size&chunk=1000")},
      {"chunk not ended by CRLF", Faulty("/badchunk/small.bin?kind=crlf&chunk=1000")},
      {"chunk size overflows", Faulty("/badchunk/small.bin?kind=overflow&chunk=1000")},
      {"chunk size line of 100 KB", Faulty("/badchunk/small.bin?kind=longline&chunk=1000")},
      {"bodies without Content-Length", Faulty("/noclen/medium.bin")},
      {"reset mid-body over TLS", zvpeers::Url("faulty", "https", "/reset/medium.bin?at=60000")},
      {"bodies without Content-Length over TLS", zvpeers::Url("faulty", "https", "/noclen/medium.bin")},
  };
  for (const auto& c : cases) {
    SUBCASE(c.first) {
      zvtest::TempDir dir("fault");
      auto data = dir.path() / "P.tmp";
      auto settings = TestSettings(data);
      settings.idle_timeout = 2;
      std::string file = c.second.find("small") != std::string::npos ? "small.bin" : "medium.bin";
      auto r = RunDownload(c.second, settings, 120);
      CheckComplete(r, data, file);
    }
  }
}

TEST_CASE("faults that end the download failed, never as a false success") {
  const std::pair<const char*, std::string> cases[] = {
      {"403 on ranges", Faulty("/range403/medium.bin")},
      {"416 on ranges", Faulty("/range416/medium.bin")},
      {"range answered from the wrong start", Faulty("/badrange/medium.bin")},
      {"Content-Range total disagrees", Faulty("/badtotal/medium.bin")},
      // Half of what is asked each time: the last byte never comes.
      {"short bodies", Faulty("/short/medium.bin")},
  };
  for (const auto& c : cases) {
    SUBCASE(c.first) {
      zvtest::TempDir dir("fatal");
      auto data = dir.path() / "P.tmp";
      auto settings = TestSettings(data);
      settings.idle_timeout = 2;
      settings.max_failures = 2;
      auto r = RunDownload(c.second, settings, 120);
      CHECK_FALSE(r.timed_out);
      CHECK_FALSE(r.complete);
      if (r.started) {
        CHECK(r.error);
        CHECK(r.downloaded < r.size);
      } else {
        CHECK(r.start_error);
      }
      // Whatever was written lies where it belongs.
      std::string got = zvtest::ReadFile(data);
      std::string source = zvtest::ReadFile(zvpeers::FilesDir() / "medium.bin");
      if (!got.empty() && r.started) {
        CHECK(got.size() <= source.size() + 1000);
        CHECK(got.compare(0, std::min<std::size_t>(got.size(), 1000), source, 0,
                          std::min<std::size_t>(got.size(), 1000)) == 0);
      }
    }
  }
}

TEST_CASE("hostile response heads are refused at the first open") {
  const std::tuple<const char*, std::string, std::error_code> cases[] = {
      {"header line of 100 KB", Faulty("/longheader?n=100000"), engine::make_error_code(engine::kErr_LimitExceeded)},
      {"20000 headers", Faulty("/manyheaders?n=20000"), engine::make_error_code(engine::kErr_LimitExceeded)},
      {"Content-Length of 23 digits", Faulty("/hugelength"), engine::make_error_code(engine::kErr_MalformedHeaders)},
      {"Content-Range total of 2^64-1", Faulty("/hugerange"), engine::make_error_code(engine::kErr_RangeMismatch)},
      {"status line without reason", Faulty("/badstatus"), engine::make_error_code(engine::kErr_MalformedStatusLine)},
      {"404", Faulty("/status/404"), engine::make_error_code(404)},
      {"500", Nginx("/status/500"), engine::make_error_code(500)},
      {"scheme ftp", "ftp://127.0.0.1/x", asio::error::operation_not_supported},
      {"nobody listening", "http://127.0.0.1:1/x", asio::error::connection_refused},
  };
  for (const auto& c : cases) {
    SUBCASE(std::get<0>(c)) {
      zvtest::TempDir dir("head");
      auto r = RunDownload(std::get<1>(c), TestSettings(dir.path() / "P.tmp"), 30);
      CHECK_FALSE(r.started);
      CHECK_MESSAGE(r.start_error == std::get<2>(c), r.start_error.message());
    }
  }
}

TEST_CASE("a rate limit spreads the download over time and still completes") {
  zvtest::TempDir dir("rate");
  auto data = dir.path() / "P.tmp";
  auto settings = TestSettings(data, 4);
  settings.rate_limit = 400000;
  auto start = std::chrono::steady_clock::now();
  auto r = RunDownload(Nginx("/files/medium.bin"), settings, 60);
  auto took = std::chrono::steady_clock::now() - start;
  CheckComplete(r, data, "medium.bin");
  // The limit grants 400,000 bytes at the start and again at each one-second
  // tick: 1,000,003 bytes need three grants, so no run can end before the
  // second tick.
  const int64_t size = static_cast<int64_t>(zvpeers::ManifestSize("medium.bin"));
  const auto least = std::chrono::seconds((size + settings.rate_limit - 1) / settings.rate_limit - 1);
  MESSAGE("limited download took " << std::chrono::duration<double>(took).count() << " s");
  CHECK(took >= least);
}

TEST_CASE("stop ends a running download at once") {
  zvtest::TempDir dir("stop");
  auto data = dir.path() / "P.tmp";
  auto start = std::chrono::steady_clock::now();
  auto r = RunDownload(Faulty("/slow/large.bin?rate=100000"), TestSettings(data), 2);
  auto took = std::chrono::steady_clock::now() - start;
  // Unstopped, the 80-second download would end complete.
  CHECK(r.started);
  CHECK(r.timed_out);
  CHECK_FALSE(r.complete);
  MESSAGE("stopped after " << std::chrono::duration<double>(took).count() << " s");
}

TEST_CASE("stop while the first open waits for an answer") {
  // A listener that never answers: the connection is made, the request
  // sent, and no response comes.
  asio::io_context quiet;
  asio::ip::tcp::acceptor silent(quiet, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  const std::string address = "http://127.0.0.1:" + std::to_string(silent.local_endpoint().port()) + "/x";
  zvtest::TempDir dir("stopopen");
  auto settings = TestSettings(dir.path() / "P.tmp");
  settings.idle_timeout = 60;
  asio::io_context io;
  engine::multi_download download(io);
  std::thread stopper([&]() {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    download.stop();
  });
  auto start = std::chrono::steady_clock::now();
  std::error_code ec;
  try {
    download.start(address, settings);
  } catch (const std::system_error& e) {
    ec = e.code();
  }
  io.run();
  auto took = std::chrono::steady_clock::now() - start;
  stopper.join();
  MESSAGE("first open ended after " << std::chrono::duration<double>(took).count() << " s: " << ec.message());
  // Unstopped, the open would wait out its 60 s limit and end the same way:
  // only ending before that limit tells that the stop ended it.
  CHECK(ec);
  CHECK(took < std::chrono::seconds(settings.idle_timeout));
  CHECK_FALSE(download.complete());
}

TEST_CASE("resume after the downloading process was killed") {
  zvtest::TempDir dir("resume");
  auto data = dir.path() / "P.tmp";
  const std::string slow = Faulty("/slow/large.bin?rate=250000");
  pid_t pid = fork();
  REQUIRE(pid >= 0);
  if (pid == 0) {
    std::string ca = zvpeers::CaFile().string();
    execl(ZV_ENGINE_FETCH, ZV_ENGINE_FETCH, slow.c_str(), data.c_str(), ca.c_str(), "8", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Kill it once its saved state holds some complete pieces (it rewrites the
  // meta file every second).
  const auto meta_path = std::filesystem::path(data.string() + ".cfg");
  for (int i = 0; i < 300 && zvtest::SavedBytes(meta_path) <= 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  REQUIRE(WIFSIGNALED(status));

  // The state the killed run left: complete pieces only.
  int64_t file_size = 0;
  const int64_t saved = zvtest::SavedBytes(meta_path, &file_size);
  MESSAGE("killed run had saved " << saved << " of " << file_size << " bytes");
  REQUIRE(saved > 0);
  REQUIRE(saved < file_size);

  ResetFaultServer();
  auto r = RunDownload(Faulty("/files/large.bin"), TestSettings(data));
  CheckComplete(r, data, "large.bin");
  long long refetched = FaultServerBodyBytes();
  MESSAGE("second run fetched " << refetched << " bytes");
  // At least what was missing; at most that plus what the first open may
  // send before it is closed (socket buffers).
  CHECK(refetched >= file_size - saved);
  CHECK(refetched <= file_size - saved + 4 * 1024 * 1024);
  CHECK(refetched < file_size);
}

TEST_CASE("a resume state that does not fit is dropped and the download starts over") {
  zvtest::TempDir dir("badmeta");
  auto data = dir.path() / "P.tmp";
  auto meta_path = data.string() + ".cfg";
  const std::string source = zvtest::ReadFile(zvpeers::FilesDir() / "medium.bin");
  const std::string all_ones(16, '\xff');
  const std::pair<const char*, std::string> cases[] = {
      {"garbage", "not bencode at all"},
      {"truncated", "d8:bitfield7:"},
      {"huge string length", "d8:bitfield99999999999:x"},
      {"piece size 0", "d8:bitfield0:9:file_sizei1000003e9:final_url0:9:piece_numi0e10:piece_sizei0ee"},
      {"wrong piece count", "d8:bitfield16:" + all_ones + "9:file_sizei1000003e9:final_url0:9:piece_numi3e10:piece_sizei16384ee"},
      {"size disagrees with the server",
       "d8:bitfield1:\xff" "9:file_sizei5000e9:final_url0:9:piece_numi1e10:piece_sizei16384ee"},
      {"all complete but the data file is empty",
       "d8:bitfield8:" + std::string(7, '\xff') + "\xfe" "9:file_sizei1000003e9:final_url0:9:piece_numi62e10:piece_sizei16384ee"},
  };
  for (const auto& c : cases) {
    SUBCASE(c.first) {
      zvtest::WriteFile(data, "stale data that must not survive");
      if (std::string(c.first).find("empty") != std::string::npos) zvtest::WriteFile(data, "");
      zvtest::WriteFile(meta_path, c.second);
      auto r = RunDownload(Nginx("/files/medium.bin"), TestSettings(data));
      CheckComplete(r, data, "medium.bin");
    }
  }
}

TEST_CASE("a file whose size changed between runs is fetched again whole") {
  zvtest::TempDir dir("changing");
  auto data = dir.path() / "P.tmp";
  zvtest::TempDir ctl("ctl");
  RunDownload(Faulty("/control/changing/medium.bin?size=600000"), TestSettings(ctl.path() / "c", 1), 20);
  // First run: held to 100,000 bytes a second and stopped after one, so it
  // ends part-way through the 600,000 bytes.
  auto slow = TestSettings(data, 2);
  slow.rate_limit = 100000;
  auto first = RunDownload(Faulty("/changing/medium.bin"), slow, 1);
  REQUIRE(first.started);
  CHECK(first.size == 600000);
  CHECK_FALSE(first.complete);
  CHECK(first.downloaded > 0);
  CHECK(first.downloaded < 600000);
  RunDownload(Faulty("/control/changing/medium.bin"), TestSettings(ctl.path() / "c2", 1), 20);
  auto r = RunDownload(Faulty("/changing/medium.bin"), TestSettings(data));
  CheckComplete(r, data, "medium.bin");
}
