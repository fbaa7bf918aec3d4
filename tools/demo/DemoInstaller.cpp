// Demo product installer: behaves like the product's real silent installer.
//
// Started as "zelvane-download.exe" by the web installer, it copies itself to
// a fresh temporary folder as "zelvane-download.tmp" and runs that copy with
// the same switches, waiting for it (so a running installation shows up as a
// process of that name, which the web installer ends when the user closes).
// The copy installs the embedded demo product as
//   <path> + STR_DIR1_NAME\ + STR_DIR2_NAME\ + STR_EXE_NAME
// and writes its progress (0..100) at the start of the progress file; next to
// the product it leaves "demo-install.log" (its folders and the "domain" text
// the web installer left there).
//
// Exit codes: 0 installed, 2 bad command line (nothing written), 3 the copy
// could not be made or started, 4 the product folder could not be made,
// 5 the product could not be written; the launcher passes the copy's code on.
//
// For tests of the web installer's reading of it:
//   ZV_DEMO_INSTALL_STEP_MS=N    pause between progress steps (default 200)
//   ZV_DEMO_PROGRESS=hostile     between the steps the progress file also
//                                holds junk, nothing, a negative, an overflowing
//                                and a smaller value, and is deleted once, each
//                                for longer than the reader's period
//   ZV_DEMO_EXIT_CODE=N          the exit code after a complete installation
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "tools/demo/InstallerCommandLine.h"
#include "tools/demo/ProductNames.h"

namespace {

constexpr wchar_t kCopyName[] = L"zelvane-download.tmp";
constexpr int kProductResource = 1;
constexpr int kExitBadCommandLine = 2;
constexpr int kExitCopyFailed = 3;
constexpr int kExitFolderFailed = 4;
constexpr int kExitProductFailed = 5;

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return L"";
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring BaseName(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Delay between progress steps; tests stretch it with ZV_DEMO_INSTALL_STEP_MS.
long EnvNumber(const wchar_t* name, long fallback);

DWORD StepDelay() {
  long ms = EnvNumber(L"ZV_DEMO_INSTALL_STEP_MS", 200);
  return static_cast<DWORD>(ms < 0 ? 0 : (ms > 5000 ? 5000 : ms));
}

// Environment setting `name` as a whole number, or `fallback`.
long EnvNumber(const wchar_t* name, long fallback) {
  wchar_t value[16] = {};
  DWORD n = GetEnvironmentVariableW(name, value, 16);
  return (n == 0 || n >= 16) ? fallback : wcstol(value, nullptr, 10);
}

bool HostileProgress() {
  wchar_t value[16] = {};
  DWORD n = GetEnvironmentVariableW(L"ZV_DEMO_PROGRESS", value, 16);
  return n > 0 && n < 16 && lstrcmpiW(value, L"hostile") == 0;
}

// Rewrites the progress file in place. It is opened for each write so that a
// reader that deletes a stale file in between sees the next value in a new file.
void WriteProgressText(const std::wstring& file, const std::string& text) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      SetEndOfFile(h);
      CloseHandle(h);
      return;
    }
    Sleep(20);  // held by a reader for a moment
  }
}

void WriteProgress(const std::wstring& file, int percent) { WriteProgressText(file, std::to_string(percent)); }

// What a broken installer might leave in the file at `percent`; false for none.
bool HostileText(int percent, std::string& text) {
  switch (percent) {
    case 20: text = "garbage"; return true;
    case 30: text = ""; return true;
    case 40: text = "-20"; return true;
    case 50: text = "99999999999999999999"; return true;
    case 70: text = "15"; return true;
    case 80: text = std::string("\xff\x00\x01\x7f", 4); return true;
    default: return false;
  }
}

bool WriteWholeFile(const std::wstring& path, const void* data, DWORD size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, data, size, &written, nullptr) && written == size;
  ok = CloseHandle(h) && ok;
  return ok;
}

// Writes the embedded demo product under its final name, through a temporary
// name so that a half-written executable never carries the product's name.
bool WriteProduct(const std::wstring& target) {
  HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(kProductResource), MAKEINTRESOURCEW(10));
  HGLOBAL loaded = res ? LoadResource(nullptr, res) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = res ? SizeofResource(nullptr, res) : 0;
  if (!data || size == 0) return false;
  std::wstring part = target + L".part";
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (WriteWholeFile(part, data, size) &&
        MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    Sleep(200);  // a product that is still shutting down holds its file
  }
  DeleteFileW(part.c_str());
  return false;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

// The "domain" file the web installer leaves in the product folder, at most 256 bytes.
std::string ReadDomain(const std::wstring& folder) {
  HANDLE h = CreateFileW((folder + L"domain").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "(none)";
  char buf[256];
  DWORD got = 0;
  ReadFile(h, buf, sizeof(buf), &got, nullptr);
  CloseHandle(h);
  std::string text(buf, got);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32) c = '?';
  return text;
}

// What this installation was told, for tests of the hand-over:
// "demo-install.log" in the product folder (UTF-8).
void WriteInstallLog(const std::wstring& folder, const zvdemo::InstallerArgs& args) {
  std::string text = "path=" + Utf8(args.installDir) + "\r\nprogress=" + Utf8(args.progressFile) +
                     "\r\nproduct=" + Utf8(folder + ZV_DEMO_EXE_NAME) + "\r\ndomain=" + ReadDomain(folder) + "\r\n";
  WriteWholeFile(folder + L"demo-install.log", text.data(), static_cast<DWORD>(text.size()));
}

int Install(const zvdemo::InstallerArgs& args) {
  const DWORD delay = StepDelay();
  WriteProgress(args.progressFile, 0);
  std::wstring folder = zvdemo::ProductFolder(args.installDir, ZV_DEMO_DIR1_NAME, ZV_DEMO_DIR2_NAME);
  int rc = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (rc != ERROR_SUCCESS && rc != ERROR_ALREADY_EXISTS && rc != ERROR_FILE_EXISTS) return kExitFolderFailed;
  DWORD attrs = GetFileAttributesW(folder.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return kExitFolderFailed;

  const bool hostile = HostileProgress();
  constexpr DWORD kLongerThanTheReader = 1800;
  for (int percent = 5; percent <= 100; percent += 5) {
    Sleep(delay);
    if (percent == 60) {
      if (!WriteProduct(folder + ZV_DEMO_EXE_NAME)) return kExitProductFailed;
      WriteInstallLog(folder, args);
    }
    WriteProgress(args.progressFile, percent);
    std::string junk;
    if (hostile && HostileText(percent, junk)) {
      Sleep(kLongerThanTheReader);
      WriteProgressText(args.progressFile, junk);
      Sleep(kLongerThanTheReader);
    } else if (hostile && percent == 60) {
      Sleep(kLongerThanTheReader);
      DeleteFileW(args.progressFile.c_str());
      Sleep(kLongerThanTheReader);
    }
  }
  return static_cast<int>(EnvNumber(L"ZV_DEMO_EXIT_CODE", 0));
}

// Makes a fresh folder in the temp folder for the copy; false when none can be made.
bool MakeCopyFolder(std::wstring& folder) {
  wchar_t temp[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    folder = std::wstring(temp) + L"zv-demo-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(GetTickCount() + attempt) + L"\\";
    if (CreateDirectoryW(folder.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

void RemoveCopy(const std::wstring& folder, const std::wstring& copy) {
  // The image of a process that has just ended can stay locked for a moment.
  for (int attempt = 0; attempt < 25 && !DeleteFileW(copy.c_str()) &&
                        GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES;
       ++attempt)
    Sleep(40);
  RemoveDirectoryW(folder.c_str());
}

int RunCopy(const zvdemo::InstallerArgs& args) {
  std::wstring self = ModulePath();
  std::wstring folder;
  if (self.empty() || !MakeCopyFolder(folder)) return kExitCopyFailed;
  std::wstring copy = folder + kCopyName;
  if (!CopyFileW(self.c_str(), copy.c_str(), FALSE)) {
    RemoveDirectoryW(folder.c_str());
    return kExitCopyFailed;
  }
  std::wstring line = zvdemo::BuildCopyCommandLine(copy, args);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(copy.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    RemoveCopy(folder, copy);
    return kExitCopyFailed;
  }
  CloseHandle(pi.hThread);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = kExitCopyFailed;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  RemoveCopy(folder, copy);
  return static_cast<int>(code);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  zvdemo::InstallerArgs args;
  std::wstring error;
  if (!zvdemo::ParseInstallerCommandLine(GetCommandLineW(), args, error)) {
    OutputDebugStringW((L"demo installer: " + error + L"\n").c_str());
    return kExitBadCommandLine;
  }
  if (zvdemo::EqualsNoCase(BaseName(ModulePath()), kCopyName)) return Install(args);
  return RunCopy(args);
}
