// The wide-path file operations give the answers and error states of the
// std::filesystem calls they stand in for, on real files (natively and,
// through the C runtime and Win32, under Wine).
#include <doctest/doctest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/TestSupport.h"
#include "system/FileOps.h"
#include "system/Strings.h"

namespace fs = std::filesystem;

namespace {

std::wstring Wide(const fs::path& path) { return path.wstring(); }

}  // namespace

TEST_CASE("status queries agree with std::filesystem on files, folders and missing paths") {
  zvtest::TempDir dir("file-ops-status");
  zvtest::WriteFile(dir.path() / "five.bin", "12345");
  zvtest::WriteFile(dir.path() / "empty.bin", "");
  fs::create_directory(dir.path() / "folder");
  for (const char* name : {"five.bin", "empty.bin", "folder", "missing", "missing/child", "five.bin/child",
                           "folder/", "five.bin/"}) {
    CAPTURE(name);
    const fs::path path = dir.path() / fs::path(name).make_preferred();
    const std::wstring wide = Wide(path);
    std::error_code ours, theirs;
    CHECK(FileExists(wide, ours) == fs::exists(path, theirs));
    CHECK(bool(ours) == bool(theirs));
    CHECK(IsRegularFile(wide, ours) == fs::is_regular_file(path, theirs));
    CHECK(bool(ours) == bool(theirs));
    CHECK(IsDirectory(wide, ours) == fs::is_directory(path, theirs));
    CHECK(bool(ours) == bool(theirs));
    CHECK(FileSize(wide, ours) == fs::file_size(path, theirs));
    CHECK(bool(ours) == bool(theirs));
  }
}

TEST_CASE("remove, rename and folder creation keep std::filesystem's results") {
  zvtest::TempDir dir("file-ops-change");
  const std::wstring root = Wide(dir.path());
  const std::wstring a = JoinPath(root, L"a.bin"), b = JoinPath(root, L"b.bin");
  zvtest::WriteFile(a, "new");
  zvtest::WriteFile(b, "old contents");
  std::error_code ec;

  // A rename replaces an existing file; a missing source is an error.
  RenameFile(a, b, ec);
  CHECK_FALSE(ec);
  CHECK(zvtest::ReadFile(b) == "new");
  RenameFile(a, b, ec);
  CHECK(ec);

  // Removing: true once, then false without an error; a full folder is an error.
  CHECK(RemoveFile(b, ec));
  CHECK_FALSE(ec);
  CHECK_FALSE(RemoveFile(b, ec));
  CHECK_FALSE(ec);
  const std::wstring nested = JoinPath(JoinPath(JoinPath(root, L"x"), L"y"), L"z");
  CHECK(CreateDirectories(nested + L"/", ec));
  CHECK_FALSE(ec);
  CHECK(IsDirectory(nested, ec));
  CHECK_FALSE(CreateDirectories(nested, ec));
  CHECK_FALSE(ec);
  CHECK_FALSE(RemoveFile(JoinPath(root, L"x"), ec));
  CHECK(ec);
  CHECK(RemoveFile(nested, ec));
  CHECK_FALSE(IsDirectory(nested, ec));

  // A file in the way of a folder is an error, as is an empty path.
  zvtest::WriteFile(JoinPath(root, L"file"), "x");
  CHECK_FALSE(CreateDirectories(JoinPath(JoinPath(root, L"file"), L"sub"), ec));
  CHECK(ec);
  CHECK_FALSE(CreateDirectories(L"", ec));
  CHECK(ec);

  // A name beyond ASCII reaches the same file both ways.
  const std::wstring unicode = JoinPath(root, L"\u017Eelva \u4E2D.txt");
  std::FILE* file = OpenFileWide(unicode, "wb");
  REQUIRE(file);
  CHECK(std::fputs("turtle", file) >= 0);
  CHECK(std::fclose(file) == 0);
#if defined(_WIN32)
  const fs::path named(unicode);
#else
  const fs::path named(WideToUtf8(unicode));  // no locale to convert by natively
#endif
  CHECK(zvtest::ReadFile(named) == "turtle");
  CHECK(FileSize(unicode, ec) == 6);
}

TEST_CASE("parent and joined paths match std::filesystem::path") {
  for (const wchar_t* path : {L"dir/file.txt", L"file.txt", L"/file", L"dir//file", L"a/b/c", L"dir/",
#if defined(_WIN32)
                              L"C:\\dir\\file.txt", L"C:\\file", L"C:file", L"C:", L"C:\\", L"\\file", L"a\\\\b",
#endif
                              L""}) {
    CAPTURE(fs::path(path).string());
    CHECK(ParentPath(path) == fs::path(path).parent_path().wstring());
    CHECK(JoinPath(path, L"name") == (fs::path(path) / L"name").wstring());
  }
}
