#include <doctest/doctest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "log/Log.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

fs::path ExeDir() { return fs::canonical("/proc/self/exe").parent_path(); }

std::string LastRecord(const std::string& text) {
  // Records end in "\n " (a line end and the blank that opens the next line).
  REQUIRE(text.size() >= 2);
  REQUIRE(text.compare(text.size() - 2, 2, "\n ") == 0);
  std::string body = text.substr(0, text.size() - 2);
  std::size_t cut = body.rfind("\n ");
  return cut == std::string::npos ? body : body.substr(cut + 2);
}

}  // namespace

// The log is process-wide and set up once, so its behaviour is checked as one
// sequence.
TEST_CASE("log facility: defaults, record layout, dropped messages, roll-over") {
  const fs::path defaultLog = ExeDir() / "Log" / "test_log.log";
  fs::remove_all(ExeDir() / "Log");

  // A message before set-up sets the log up with its defaults.
  LOGA(kLog_Info, "Domain:%s", "abc");
  REQUIRE(fs::exists(defaultLog));
  std::string record = LastRecord(zvtest::ReadFile(defaultLog));
  CHECK(std::regex_match(record, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3} Domain:abc)")));

  // A later explicit set-up changes nothing.
  zvtest::TempDir other("log");
  InitLog(L"other.log", Utf8ToWide(other.path().string()).c_str());
  LOGA(kLog_Info, "after init %d", 7);
  CHECK(!fs::exists(other.path() / "other.log"));
  CHECK(LastRecord(zvtest::ReadFile(defaultLog)).find(" after init 7") != std::string::npos);

  // Nothing is written for an empty format, an empty expansion or a bad level.
  auto size = fs::file_size(defaultLog);
  const char* empty = "";
  LOGA(kLog_Info, empty);
  LOGA(kLog_Info, "%s", "");
  LOGA(7, "level seven");
  LOGW(kLog_Info, L"");
  CHECK(fs::file_size(defaultLog) == size);

  // All four levels are written; wide text arrives converted.
  LOGA(kLog_Debug, "d");
  LOGA(kLog_Warn, "w");
  LOGA(kLog_Error, "e");
  LOGW(kLog_Info, L"wide %ls %d", L"text", 3);
  CHECK(LastRecord(zvtest::ReadFile(defaultLog)).find(" wide text 3") != std::string::npos);

  // A message that cannot be formatted leaves the fault marker with its
  // place instead (a width past what the C library can produce).
  const char* tooWide = "%2147483647d%2147483647d";
  const int markerLine = __LINE__ + 1;
  LOGA(kLog_Info, tooWide, 1, 2);
  CHECK(LastRecord(zvtest::ReadFile(defaultLog))
            .find("[log_test.cpp:" + std::to_string(markerLine) + "][") != std::string::npos);
  CHECK(LastRecord(zvtest::ReadFile(defaultLog)).find("] ***Fatal Error Check,Please Fix it!***") !=
        std::string::npos);

  // A message of any length is written whole.
  std::string longText(100000, 'x');
  LOGA(kLog_Info, "%s", longText.c_str());
  CHECK(LastRecord(zvtest::ReadFile(defaultLog)).find(longText) != std::string::npos);

  // Past 10 MiB the file moves to ".1" and a new one starts; a second
  // roll-over replaces the older backup.
  const fs::path backup = defaultLog.string() + ".1";
  std::string chunk(64 * 1024, 'r');
  auto fill = [&] {
    auto before = fs::file_size(defaultLog);
    for (;;) {
      LOGA(kLog_Info, "%s", chunk.c_str());
      auto now = fs::file_size(defaultLog);
      if (now < before) break;
      before = now;
    }
  };
  fill();
  REQUIRE(fs::exists(backup));
  CHECK(fs::file_size(backup) <= 10u * 1024 * 1024);
  CHECK(fs::file_size(backup) > 10u * 1024 * 1024 - chunk.size() - 64);
  CHECK(zvtest::ReadFile(backup).find("Domain:abc") != std::string::npos);
  fill();
  CHECK(zvtest::ReadFile(backup).find("Domain:abc") == std::string::npos);
  CHECK(fs::file_size(defaultLog) < 2 * chunk.size());
  fs::remove_all(ExeDir() / "Log");
}

TEST_CASE("CreateFullDirectory creates parents and normalises separators") {
  zvtest::TempDir dir("mkdir");
  // On this platform "\\" is the facility's separator and maps to "/".
  std::wstring base = Utf8ToWide(dir.path().string());
  CHECK(CreateFullDirectory(base + L"/a/b\\c\\"));
  CHECK(fs::is_directory(dir.path() / "a" / "b" / "c"));
  CHECK(CreateFullDirectory(base + L"\\a\\b\\c"));  // existing folder: left alone
  CHECK_FALSE(CreateFullDirectory(L""));
}
