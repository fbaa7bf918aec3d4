// Starting the installed product under Wine, with the installer's rights and
// as the interactive user: the product in a folder whose name has blanks is
// the program that starts, never a planted program named after the part of
// the path before the first blank; as the normal user it never starts with
// the installer's rights.
#include <doctest/doctest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "Window/ProductLauncher.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string WaitForFile(const fs::path& path, int seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    std::error_code ec;
    if (fs::exists(path, ec) && fs::file_size(path, ec) > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      return zvtest::ReadFile(path);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return std::string();
}

}  // namespace

TEST_CASE("the product in a folder with blanks starts quoted, and as the normal user never elevated") {
  // The demo product closes itself a moment after it has left its marker.
  SetEnvironmentVariableW(L"ZV_DEMO_PRODUCT_SECONDS", L"2");
  for (bool runAsAdmin : {true, false}) {
    CAPTURE(runAsAdmin);
    zvtest::TempDir dir(runAsAdmin ? "launch_admin" : "launch_user");
    const fs::path folder = dir.path() / "Quillory 2 & Co" / "app dir";
    fs::create_directories(folder);
    const fs::path product = folder / "Quillory.exe";
    REQUIRE(CopyFileW(zvtest::FromUnixPath(ZV_DEMO_PRODUCT).c_str(), product.wstring().c_str(), FALSE));
    // What an unquoted command line would start instead.
    const fs::path planted = dir.path() / "Quillory.exe";
    REQUIRE(CopyFileW(zvtest::FromUnixPath(ZV_DEMO_PRODUCT).c_str(), planted.wstring().c_str(), FALSE));

    std::string why;
    bool started = StartProduct(product.wstring(), runAsAdmin, SystemProductStartWays(), why);
    CHECK(started == why.empty());
    if (runAsAdmin || started) {
      CHECK(started);
      std::string marker = WaitForFile(folder / "started.marker", 30);
      CHECK_MESSAGE(!marker.empty(), "the product did not start");
      CHECK(marker.find("exe=" + product.string()) != std::string::npos);
    } else {
      // Where the system offers no start as the interactive user (Wine has
      // neither wdc.dll nor a desktop shell window), nothing starts at all.
      MESSAGE("not started as the normal user: " << why);
      CHECK(WaitForFile(folder / "started.marker", 5).empty());
    }
    CHECK_FALSE(fs::exists(dir.path() / "started.marker"));
    std::this_thread::sleep_for(std::chrono::seconds(3));  // it has closed again
  }
}

TEST_CASE("a product that is missing starts nothing and leaves nothing behind") {
  zvtest::TempDir dir("launch_missing");
  for (bool runAsAdmin : {true, false}) RunProduct((dir.path() / "no such" / "Quillory.exe").wstring(), runAsAdmin);
  CHECK(fs::is_empty(dir.path()));
}

namespace {

// Fake ways that record which were tried and succeed as the case says.
struct FakeWays {
  static inline bool ownOk, wdcOk, tokenOk;
  static inline std::string tried;
  static bool Own(const std::wstring&, std::string& why) { return Try("own", ownOk, why); }
  static bool Wdc(const std::wstring&, std::string& why) { return Try("wdc", wdcOk, why); }
  static bool Token(const std::wstring&, std::string& why) { return Try("token", tokenOk, why); }
  static bool Try(const char* name, bool ok, std::string& why) {
    tried += tried.empty() ? name : std::string(",") + name;
    if (!ok) why = std::string(name) + " refused";
    return ok;
  }
};

}  // namespace

TEST_CASE("as the normal user the product never gets the installer's rights") {
  const ProductStartWays fakes = {&FakeWays::Own, &FakeWays::Wdc, &FakeWays::Token};
  struct Case {
    bool runAsAdmin, wdcOk, tokenOk;
    const char* tried;
    bool started;
  } cases[] = {
      {true, false, false, "own", true},
      {false, true, false, "wdc", true},
      {false, false, true, "wdc,token", true},
      {false, false, false, "wdc,token", false},  // no fall-back to the own rights
  };
  for (const Case& c : cases) {
    CAPTURE(c.tried);
    FakeWays::ownOk = true;
    FakeWays::wdcOk = c.wdcOk;
    FakeWays::tokenOk = c.tokenOk;
    FakeWays::tried.clear();
    std::string why;
    CHECK(StartProduct(L"C:\\Quillory\\Quillory.exe", c.runAsAdmin, fakes, why) == c.started);
    CHECK(FakeWays::tried == c.tried);
    if (!c.started) CHECK(why == "wdc refused; token refused");
  }
}
