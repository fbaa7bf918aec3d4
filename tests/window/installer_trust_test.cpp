// The checks made before a downloaded installer runs, under Wine, on the demo
// installer as the build signed it and on its refused variants: unsigned,
// signed by another publisher of the same CA, and one byte changed after
// signing at the same size. The code-signing test CA is a trusted root of
// the prefix (fixture wine.test_ca), so the signed one passes as a vendor's
// installer passes on Windows.
#include <doctest/doctest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "Window/SilentInstaller.h"
#include "tests/support/TestSupport.h"

TEST_CASE("only the installer signed by the named publisher, unchanged, passes") {
  const std::string variants = ZV_DEMO_INSTALLER_VARIANTS;
  struct Case {
    const char* name;
    std::string path;
    bool passes;
  } cases[] = {
      {"signed", ZV_DEMO_INSTALLER, true},
      {"unsigned", variants + "/demo-installer-unsigned.exe", false},
      {"wrong signer", variants + "/demo-installer-wrong-signer.exe", false},
      {"tampered", variants + "/demo-installer-tampered.exe", false},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    std::wstring path = zvtest::FromUnixPath(c.path.c_str());
    int64_t size = static_cast<int64_t>(std::filesystem::file_size(std::filesystem::path(path)));
    std::wstring why;
    bool passed = VerifyDownloadedInstaller(path, size, L"", ZV_DEMO_PUBLISHER, why);
    std::printf("VerifyDownloadedInstaller %-12s %d %ls\n", c.name, passed ? 1 : 0, why.c_str());
    CHECK(passed == c.passes);
    CHECK(why.empty() == c.passes);
  }
}
