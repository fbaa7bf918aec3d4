#include <doctest/doctest.h>

#include <string>

#include "Window/InstallLogic.h"

TEST_CASE("download and install progress share the bar at 90/10") {
  CHECK(DownloadPercentToBar(50, 90) == 45);
  CHECK(DownloadPercentToBar(100, 90) == 90);
  struct Case {
    int install, bar;
  } cases[] = {{0, 90}, {42, 94}, {50, 95}, {99, 99}, {100, 100}};
  for (auto c : cases) CHECK(InstallPercentToBar(c.install, 90) == c.bar);
}

TEST_CASE("byte progress never goes back and never passes the total") {
  int64_t last = 0;
  CHECK(DownloadBytesToBar(500, 1000, 90, last) == 45);
  CHECK(DownloadBytesToBar(400, 1000, 90, last) == 45);  // counts as 510
  CHECK(last == 510);
  CHECK(DownloadBytesToBar(5000, 1000, 90, last) == 90);
  CHECK(last == 1000);
  // Sizes beyond 32 bits.
  int64_t big = 0;
  CHECK(DownloadBytesToBar(int64_t{3} << 32, int64_t{6} << 32, 90, big) == 45);
  int64_t none = 0;
  CHECK(DownloadBytesToBar(10, 0, 90, none) == 0);
}

TEST_CASE("progress file text as the installer writes it, and what it must not do") {
  struct Case {
    std::string text;
    int percent;
  } cases[] = {
      {"42\n", 42},   {"  7", 7},    {"100", 100},     {"", 0},    {"abc", 0},
      {"-5", 0},      {"250", 100},  {"99999999999999", 100}, {"5x9", 5},
      {std::string("3\0" "9", 3), 3},
  };
  for (auto& c : cases) CHECK(ParseProgressText(c.text) == c.percent);
}

TEST_CASE("the product installer's exit codes: success with or without a restart, anything else fails") {
  for (uint32_t code : {0u, 3010u, 1641u}) CHECK(IsInstallerSuccess(code));
  for (uint32_t code : {1u, 7u, 1602u, 1603u, 3011u, 0xFFFFFFFFu, 0xC0000005u}) CHECK_FALSE(IsInstallerSuccess(code));
}

TEST_CASE("a kept installer is used again only at the size the server announces") {
  CHECK(IsKeptInstallerUsable(1000, 1000));
  CHECK_FALSE(IsKeptInstallerUsable(1000, 1001));  // the server has another build
  CHECK_FALSE(IsKeptInstallerUsable(1000, 0));     // no size announced: nothing to compare with
  CHECK_FALSE(IsKeptInstallerUsable(0, 0));
  CHECK_FALSE(IsKeptInstallerUsable(-1, -1));     // no file
}

TEST_CASE("the installer's command line quotes both paths") {
  CHECK(BuildSilentCommandLine(L"D:\\Apps\\", L"X\\temp.progress") ==
        L" /verysilent /zelvane_down /wait_run /path=\"D:\\Apps\\\" /progress=\"X\\temp.progress\"");
  CHECK(BuildSilentCommandLine(L"C:\\Program Files\\", L"C:\\Program Files\\z\\temp.progress").find(
            L"/path=\"C:\\Program Files\\\"") != std::wstring::npos);
  // A quote would end the argument early and let the rest be read as switches.
  CHECK(BuildSilentCommandLine(L"C:\\a\" /evil \"", L"p").empty());
  CHECK(BuildSilentCommandLine(L"", L"p").empty());
}

TEST_CASE("only absolute web addresses are taken from servers or handed to the shell") {
  const wchar_t* good[] = {L"http://a.test/x", L"https://a.test:8443/x?y=1", L"https://a.test"};
  const wchar_t* bad[] = {L"", L"/relative", L"file:///C:/x.exe", L"C:\\x.exe", L"https:///x",
                          L"javascript:alert(1)", L"http://a.test/ x", L"ftp://a.test/x", L"https://:80/x"};
  for (auto u : good) CHECK(IsWebAddress(u));
  for (auto u : bad) CHECK_FALSE(IsWebAddress(u));
}

TEST_CASE("PE header check") {
  std::string pe(0x100, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = 0x80;
  pe.replace(0x80, 4, std::string("PE\0\0", 4));
  CHECK(HasPeHeader(pe));
  CHECK_FALSE(HasPeHeader(""));
  CHECK_FALSE(HasPeHeader("<html><body>Not found</body></html>"));
  std::string farOffset = pe;
  farOffset[0x3C] = static_cast<char>(0xFC);
  farOffset[0x3D] = static_cast<char>(0xFF);
  CHECK_FALSE(HasPeHeader(farOffset));
  std::string noSignature = pe;
  noSignature[0x80] = 'X';
  CHECK_FALSE(HasPeHeader(noSignature));
}

TEST_CASE("installation folder gets one trailing backslash") {
  CHECK(WithTrailingBackslash(L"D:") == L"D:\\");
  CHECK(WithTrailingBackslash(L"D:\\Apps\\") == L"D:\\Apps\\");
  CHECK(WithTrailingBackslash(L"") == L"\\");
}

TEST_CASE("the redirect probe decides the download address") {
  const std::wstring standard = L"http://dl.example/setup.exe";
  const std::wstring extended = L"http://dl.example/setup.exe?ex=1";
  const std::wstring redirected = L"https://cdn.example/setup-2.exe";
  struct Case {
    const char* name;
    RedirectProbe probe;
    std::wstring expected;
  } cases[] = {
      {"a 302 gives its target", [&](const std::wstring&, std::wstring& t) { t = redirected; return true; },
       redirected},
      // The probe leaves the target as it found it when nothing answered.
      {"no response: the extended address itself", [](const std::wstring&, std::wstring&) { return true; },
       extended},
      {"another answer or an earlier failure: unchanged",
       [](const std::wstring&, std::wstring& t) { t = L"ignored"; return false; }, standard},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    bool answered = false;
    CHECK(DownloadUrlAfterProbe(standard, extended, c.probe, &answered) == c.expected);
    CHECK(answered == (c.expected != standard));
  }
  bool asked = false;
  CHECK(DownloadUrlAfterProbe(standard, L"", [&](const std::wstring&, std::wstring&) { asked = true; return true; }) ==
        standard);
  CHECK_FALSE(asked);
}

TEST_CASE("free space: three times the installer on the installation volume, all of it on the data volume") {
  constexpr int64_t kMiB = 1 << 20;
  struct Case {
    int64_t size, kept, installFree, dataFree, missing;
  } cases[] = {
      {500 * kMiB, 0, 1500, 500, 0},
      {500 * kMiB, 0, 1499, 100000, 1500},    // the installation volume first
      {500 * kMiB, 0, 100000, 499, 500},      // the data folder's volume, where P.tmp grows
      {500 * kMiB + 1, 0, 100000, 500, 501},  // a part of a MiB still needs room
      {500 * kMiB + 1, 0, 1500, 501, 0},
      {500 * kMiB, 300 * kMiB, 1500, 200, 0},    // bytes kept for a resume need no new room
      {500 * kMiB, 300 * kMiB, 1500, 199, 200},
      {0, 0, 0, 0, 0},                          // size unknown: the check passes
  };
  for (const Case& c : cases) {
    CAPTURE(c.size);
    CAPTURE(c.kept);
    CAPTURE(c.installFree);
    CAPTURE(c.dataFree);
    CHECK(MissingSpaceMiB(c.size, c.kept, c.installFree, c.dataFree) == c.missing);
  }
}
