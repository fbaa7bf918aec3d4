// The checks made before a downloaded installer runs, under Wine, on the demo
// installer as the build signed it and on its refused variants: unsigned,
// signed by another publisher of the same CA, and one byte changed after
// signing at the same size. What the system's WinVerifyTrust answers for each
// is printed, since what Wine notices is a finding of its own.
#include <doctest/doctest.h>
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "Window/SilentInstaller.h"
#include "tests/support/TestSupport.h"

namespace {

LONG WinVerifyTrustOf(const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return status;
}

}  // namespace

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
    std::printf("WinVerifyTrust %-12s 0x%08lx\n", c.name, static_cast<unsigned long>(WinVerifyTrustOf(path)));
    std::wstring why;
    bool passed = VerifyDownloadedInstaller(path, size, ZV_DEMO_PUBLISHER, why);
    std::printf("VerifyDownloadedInstaller %-12s %d %ls\n", c.name, passed ? 1 : 0, why.c_str());
    CHECK(passed == c.passes);
    CHECK(why.empty() == c.passes);
  }
}
