// The demo installer under Wine, started the way the web installer starts the
// downloaded one: application name zelvane-download.exe, the exact switch line
// with a leading blank, CREATE_SUSPENDED, then waiting. Paths hold spaces.
#include <doctest/doctest.h>
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Build-tree paths arrive as Unix paths; Wine shows the Unix root as Z:.
std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

DWORD FindProcess(const wchar_t* name) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  for (BOOL ok = Process32FirstW(snap, &entry); ok && !found; ok = Process32NextW(snap, &entry))
    if (_wcsicmp(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
  CloseHandle(snap);
  return found;
}

// Reads the progress file as the web installer's timer does: at most 10
// bytes, decimal conversion; -1 when it cannot be opened.
int ReadProgress(const std::wstring& file) {
  FILE* f = _wfopen(file.c_str(), L"r");
  if (!f) return -1;
  char buf[11] = {};
  fread(buf, 1, 10, f);
  fclose(f);
  return atoi(buf);
}

// A folder with blanks in its name under the temp folder, removed afterwards.
struct Sandbox {
  fs::path root;
  std::wstring installDir;    // ends in a backslash, as the web installer passes it
  std::wstring dataDir;       // holds zelvane-download.exe and temp.progress
  std::wstring installer;
  std::wstring progressFile;
  explicit Sandbox(const char* tag) {
    root = fs::temp_directory_path() / (std::string("zv demo ") + tag + " " + std::to_string(GetTickCount()));
    fs::create_directories(root / "Program Files (x86)" / "My Apps");
    fs::create_directories(root / "data dir");
    installDir = (root / "Program Files (x86)" / "My Apps").wstring() + L"\\";
    dataDir = (root / "data dir").wstring() + L"\\";
    installer = dataDir + L"zelvane-download.exe";
    progressFile = dataDir + L"temp.progress";
    REQUIRE(CopyFileW(zvtest::FromUnixPath(ZV_DEMO_INSTALLER).c_str(), installer.c_str(), FALSE));
  }
  ~Sandbox() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  std::wstring ProductExe() const {
    std::wstring folder = installDir;
    if (*ZV_DEMO_DIR1_NAME) folder += std::wstring(ZV_DEMO_DIR1_NAME) + L"\\";
    if (*ZV_DEMO_DIR2_NAME) folder += std::wstring(ZV_DEMO_DIR2_NAME) + L"\\";
    return folder + ZV_DEMO_EXE_NAME;
  }
};

std::wstring WindowLine(const std::wstring& dir, const std::wstring& progress) {
  return L" /verysilent /zelvane_down /wait_run /path=\"" + dir + L"\" /progress=\"" + progress + L"\"";
}

struct RunResult {
  DWORD exitCode = 0xFFFFFFFF;
  bool sawCopyProcess = false;
  std::vector<int> progress;  // every value read while it ran
};

// Starts like RunSilentInstaller and watches it like the window: the process
// list and the progress file every 50 ms. `onTick` may act on the run.
template <class OnTick>
RunResult Run(const Sandbox& box, const std::wstring& line, OnTick onTick) {
  RunResult result;
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  REQUIRE(CreateProcessW(box.installer.c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                         nullptr, &si, &pi));
  ResumeThread(pi.hThread);
  DWORD start = GetTickCount();
  while (WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > 60000) {
      TerminateProcess(pi.hProcess, 99);
      FAIL("the installer did not end within 60 s");
    }
    if (FindProcess(L"zelvane-download.tmp")) result.sawCopyProcess = true;
    int p = ReadProgress(box.progressFile);
    if (p >= 0 && (result.progress.empty() || result.progress.back() != p)) result.progress.push_back(p);
    onTick(result);
  }
  int last = ReadProgress(box.progressFile);  // what was written just before the end
  if (last >= 0 && (result.progress.empty() || result.progress.back() != last)) result.progress.push_back(last);
  GetExitCodeProcess(pi.hProcess, &result.exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

RunResult Run(const Sandbox& box, const std::wstring& line) {
  return Run(box, line, [](RunResult&) {});
}

}  // namespace

TEST_CASE("the exact command line installs the product while a zelvane-download.tmp process runs") {
  Sandbox box("install");
  // The web installer writes the domain file into the product folder first.
  std::wstring productDir = box.ProductExe().substr(0, box.ProductExe().find_last_of(L'\\') + 1);
  REQUIRE(SHCreateDirectoryExW(nullptr, productDir.c_str(), nullptr) == ERROR_SUCCESS);
  { std::ofstream(fs::path(productDir + L"domain"), std::ios::binary) << "com_english"; }
  const std::string product = ReadAll(fs::path(zvtest::FromUnixPath(ZV_DEMO_PRODUCT)));
  REQUIRE(product.size() > 1000);

  for (int round = 0; round < 2; ++round) {  // the second run installs over the first
    CAPTURE(round);
    DeleteFileW(box.progressFile.c_str());  // the window removes a stale one before it reads
    RunResult r = Run(box, WindowLine(box.installDir, box.progressFile));
    CHECK(r.exitCode == 0);
    CHECK(r.sawCopyProcess);
    REQUIRE_FALSE(r.progress.empty());
    CHECK(r.progress.back() == 100);
    for (size_t i = 1; i < r.progress.size(); ++i) CHECK(r.progress[i - 1] <= r.progress[i]);
    CHECK(r.progress.size() >= 5);  // step by step, not one jump
    CHECK(ReadAll(fs::path(box.progressFile)) == "100");
    CHECK(ReadAll(fs::path(box.ProductExe())) == product);
    CHECK_FALSE(fs::exists(fs::path(box.ProductExe() + L".part")));
    CHECK(FindProcess(L"zelvane-download.tmp") == 0);
    std::string log = ReadAll(fs::path(productDir + L"demo-install.log"));
    CHECK(log.find("domain=com_english\r\n") != std::string::npos);
    CHECK(log.find("path=" + fs::path(box.installDir).u8string() + "\r\n") != std::string::npos);
  }
  // Nothing lands in the installation folder itself but the product's folder.
  std::vector<fs::path> top;
  for (const auto& e : fs::directory_iterator(fs::path(box.installDir))) top.push_back(e.path().filename());
  if (*ZV_DEMO_DIR1_NAME || *ZV_DEMO_DIR2_NAME) {
    REQUIRE(top.size() == 1);
    CHECK(top[0].wstring() == std::wstring(*ZV_DEMO_DIR1_NAME ? ZV_DEMO_DIR1_NAME : ZV_DEMO_DIR2_NAME));
  }
}

TEST_CASE("bad command lines fail without writing anything") {
  Sandbox box("bad");
  const std::wstring d = box.installDir, p = box.progressFile;
  const std::vector<std::wstring> lines = {
      L"",
      L" /verysilent /zelvane_down /wait_run",
      L" /verysilent /zelvane_down /wait_run /path=\"" + d + L"\"",
      L" /verysilent /zelvane_down /wait_run /progress=\"" + p + L"\"",
      L" /zelvane_down /wait_run /path=\"" + d + L"\" /progress=\"" + p + L"\"",
      WindowLine(d, p) + L" /silent",
      WindowLine(d, p) + L" /path=\"" + d + L"\"",
      L" /verysilent /zelvane_down /wait_run /path=\"" + d + L"\" /progress=\"" + p,
      WindowLine(L"My Apps\\", p),
      WindowLine(d + L"..\\..\\", p),
      WindowLine(d + L"a*b\\", p),
      WindowLine(d, box.dataDir),
  };
  for (const auto& line : lines) {
    CAPTURE(std::string(line.begin(), line.end()));
    RunResult r = Run(box, line);
    CHECK(r.exitCode == 2);
    CHECK_FALSE(r.sawCopyProcess);
    CHECK(fs::is_empty(fs::path(d)));
    CHECK_FALSE(fs::exists(fs::path(p)));
  }
}

TEST_CASE("ending the zelvane-download.tmp process ends the installation early") {
  Sandbox box("kill");
  SetEnvironmentVariableW(L"ZV_DEMO_INSTALL_STEP_MS", L"400");  // inherited by the installer
  bool killed = false;
  RunResult r = Run(box, WindowLine(box.installDir, box.progressFile), [&](RunResult& now) {
    if (killed || now.progress.empty() || now.progress.back() < 10) return;
    DWORD pid = FindProcess(L"zelvane-download.tmp");
    if (HANDLE h = pid ? OpenProcess(PROCESS_TERMINATE, FALSE, pid) : nullptr) {
      killed = TerminateProcess(h, 1);
      CloseHandle(h);
    }
  });
  SetEnvironmentVariableW(L"ZV_DEMO_INSTALL_STEP_MS", nullptr);
  REQUIRE(killed);
  CHECK(r.exitCode == 1);  // the launcher passes on the copy's end
  REQUIRE_FALSE(r.progress.empty());
  CHECK(r.progress.back() < 100);
  CHECK(FindProcess(L"zelvane-download.tmp") == 0);
}

TEST_CASE("the installed demo product starts and leaves its marker") {
  Sandbox box("product");
  REQUIRE(Run(box, WindowLine(box.installDir, box.progressFile)).exitCode == 0);
  std::wstring exe = box.ProductExe();
  std::wstring line = L"\"" + exe + L"\" /close-after=1";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  REQUIRE(CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  DWORD waited = WaitForSingleObject(pi.hProcess, 30000);
  if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CHECK(waited == WAIT_OBJECT_0);
  CHECK(code == 0);
  fs::path marker = fs::path(exe).parent_path() / "started.marker";
  std::string text = ReadAll(marker);
  CHECK(text.rfind("Zelvane demo product started\r\ntime=", 0) == 0);
  CHECK(text.find("\r\nelevated=") != std::string::npos);
  CHECK(text.find("/close-after=1") != std::string::npos);
}
