// System utilities and the log facility against the real Win32 API (Wine).
#include <doctest/doctest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "log/Log.h"
#include "system/SystemUtils.h"

namespace {

// A Unix path from the test environment as Wine sees it.
std::wstring FromUnixEnv(const char* name, const std::wstring& tail) {
  const char* value = std::getenv(name);
  REQUIRE(value);
  std::wstring path = L"Z:" + Utf8ToWide(value) + tail;
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH];
  GetTempPathW(MAX_PATH, buffer);
  return buffer;
}

void WriteBytes(const std::wstring& path, const std::string& data) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out << data;
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST_CASE("data folder and program folder") {
  std::wstring program = GetProgramDirectory();
  CHECK(EndsWith(program, L"\\"));
  CHECK(program.size() > 1);
  CHECK(GetDataFolder() == program + L"zelvane_down\\test_system_win\\");
  CHECK(EndsWith(GetModuleFolder(), L"\\"));
}

TEST_CASE("MD5 of files") {
  std::wstring dir = TempFolder();
  WriteBytes(dir + L"zv-md5-abc.txt", "abc");
  WriteBytes(dir + L"zv-md5-empty.txt", "");
  std::string big(100000, 'z');  // spans several 4096-byte chunks
  WriteBytes(dir + L"zv-md5-big.txt", big);
  CHECK(GetFileMd5(dir + L"zv-md5-abc.txt") == "900150983cd24fb0d6963f7d28e17f72");
  CHECK(GetFileMd5(dir + L"zv-md5-empty.txt") == "d41d8cd98f00b204e9800998ecf8427e");
  CHECK(GetFileMd5(dir + L"zv-md5-big.txt").size() == 32);
  CHECK(GetFileMd5(dir + L"zv-md5-missing.txt").empty());
  CHECK(IsFileExist(dir + L"zv-md5-abc.txt"));
  CHECK_FALSE(IsFileExist(dir + L"zv-md5-missing.txt"));
  CHECK_FALSE(IsFileExist(dir));  // a folder is not a file
}

TEST_CASE("version resource queries") {
  std::wstring installer = FromUnixEnv("ZV_BINARY_DIR", L"/Window/zelvane.exe");
  CHECK(GetFileVersion(installer) == L"1.0.0.0");
  CHECK(GetFileDescription(installer) == L"Zelvane Web Installer");
  // The test program has no version resource.
  CHECK(GetFileVersion(GetModuleFilePath()).empty());
  CHECK(GetFileDescription(GetModuleFilePath()).empty());
  CHECK(GetFileVersion(L"C:\\no\\such\\file.exe").empty());
}

TEST_CASE("system queries") {
  CHECK(IsWindows64Bit());
  std::wstring language = GetUserUILanguage();
  CHECK(!language.empty());
  CHECK(language.find_first_not_of(L"0123456789") == std::wstring::npos);
  uint32_t freeMiB = 12345;
  CHECK(GetFreeSize(L"C:\\", freeMiB));
  CHECK(freeMiB != 12345);
  uint32_t unchanged = 777;
  CHECK_FALSE(GetFreeSize(L"Q:\\no\\such\\drive\\", unchanged));
  CHECK(unchanged == 777);
}

TEST_CASE("processes are found by exact executable name") {
  std::wstring self = GetFileNameFromPath(GetModuleFilePath());
  uint32_t pid = 0;
  CHECK(FindProcess(self, pid));
  CHECK(pid == GetCurrentProcessId());
  std::wstring upper = self;
  for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
  uint32_t other = 42;
  CHECK_FALSE(FindProcess(upper, other));
  CHECK(other == 42);
  CHECK_FALSE(KillProcess(0xFFFFFFF0u));
}

TEST_CASE("code page conversions") {
  CHECK(AnsiToUnicode("Zelvane 123") == L"Zelvane 123");
  CHECK(UnicodeToAnsi(L"Zelvane") == "Zelvane");
  CHECK(UnicodeToUtf8(L"abc") == "abc");
  // UTF-8 of a non-BMP character through the portable helpers.
  std::wstring emoji = Utf8ToWide("\xF0\x9F\x98\x80");
  CHECK(emoji.size() == 2);
  CHECK(WideToUtf8(emoji) == "\xF0\x9F\x98\x80");
  CHECK(LocaleToUnicode("plain") == L"plain");
  CHECK(UnicodeToLocale(L"plain") == "plain");
}

TEST_CASE("log records on Windows: layout, wide text in the OEM code page, folders") {
  std::wstring folder = TempFolder() + L"zv-log-test/a/b\\";
  CHECK(CreateFullDirectory(folder));
  DWORD attributes = GetFileAttributesW((TempFolder() + L"zv-log-test\\a\\b").c_str());
  CHECK(attributes != INVALID_FILE_ATTRIBUTES);
  CHECK((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);

  std::wstring logFolder = TempFolder() + L"zv-log-test\\Log";
  InitLog(L"zelvane_down.log", logFolder.c_str());
  CHECK(CurrentLogFilePath() == logFolder + L"\\zelvane_down.log");
  LOGA(kLog_Info, "Domain:%s", "abc");
  // U+4E2D is not in the OEM code page and becomes its default character.
  LOGW(kLog_Info, L"wide:%ls", L"x\u4E2Dy");
  std::ifstream in((logFolder + L"\\zelvane_down.log").c_str(), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  CHECK(text.find(" Domain:abc\n ") != std::string::npos);
  CHECK(text.find(" wide:x?y\n ") != std::string::npos);
  CHECK(text.size() > 24);
  CHECK(text[4] == '-');
  CHECK(text[19] == ',');
  CHECK(text[23] == ' ');
}
