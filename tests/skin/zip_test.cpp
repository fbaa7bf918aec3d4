// ZIP reading and unpacking: good archives, lying headers, hostile names,
// truncation, and a deflate bomb.
#include <doctest/doctest.h>

#include <algorithm>
#include <filesystem>

#include "system/Strings.h"
#include "tests/skin/ZipWriter.h"
#include "tests/support/TestSupport.h"
#include "ui/archive/ExtractZip.h"
#include "ui/archive/ZipArchive.h"

using namespace SkinUI;
namespace fs = std::filesystem;

namespace {

std::string Pattern(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>("zelvane skin "[i % 13] ^ (i / 977));
  return data;
}

std::wstring Folder(const fs::path& path) { return Utf8ToWide(path.string() + "/"); }

// Every regular file below `root`, as "a/b" relative names.
std::vector<std::string> FilesBelow(const fs::path& root) {
  std::vector<std::string> names;
  for (const auto& item : fs::recursive_directory_iterator(root))
    if (item.is_regular_file()) names.push_back(fs::relative(item.path(), root).generic_string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST_CASE("stored and deflated entries read back whole, names found ignoring case") {
  const std::string big = Pattern(300000);
  const std::string zip = zvtest::MakeZip({{"skin.xml", "<Window/>", false},
                                           {"img/", "", false},
                                           {"img/Browse-DF.png", big, true},
                                           {"empty.txt", "", true}});
  CZipArchive archive;
  REQUIRE(archive.Open(zip.data(), zip.size()));
  REQUIRE(archive.GetEntryCount() == 4);
  CHECK(archive.GetEntry(1).IsFolder());
  std::string out;
  REQUIRE(archive.Extract(0, out));
  CHECK(out == "<Window/>");
  const int index = archive.FindEntry("IMG/browse-df.PNG", true);
  REQUIRE(index == 2);
  CHECK(archive.FindEntry("IMG/browse-df.PNG", false) == -1);
  REQUIRE(archive.Extract(static_cast<std::size_t>(index), out));
  CHECK(out == big);
  REQUIRE(archive.Extract(3, out));
  CHECK(out.empty());
}

TEST_CASE("lying headers fail the entry and give no data") {
  const std::string data = Pattern(5000);
  struct Case {
    const char* what;
    zvtest::ZipFixtureEntry entry;
    std::size_t maxSize;
  } cases[] = {
      {"bad CRC, deflated", {"a", data, true, -1, 0x12345678}, CZipArchive::kDefaultMaxEntrySize},
      {"bad CRC, stored", {"a", data, false, -1, 0x12345678}, CZipArchive::kDefaultMaxEntrySize},
      {"declared larger, deflated", {"a", data, true, 6000, -1}, CZipArchive::kDefaultMaxEntrySize},
      {"declared smaller, deflated", {"a", data, true, 4000, -1}, CZipArchive::kDefaultMaxEntrySize},
      {"declared smaller, stored", {"a", data, false, 100, -1}, CZipArchive::kDefaultMaxEntrySize},
      {"declared above the cap", {"a", data, true, -1, -1}, 4096},
      {"declared 4 GB - 2", {"a", data, true, 0xFFFFFFFE, -1}, CZipArchive::kDefaultMaxEntrySize},
  };
  for (const Case& c : cases) {
    CAPTURE(c.what);
    const std::string zip = zvtest::MakeZip({c.entry});
    CZipArchive archive;
    REQUIRE(archive.Open(zip.data(), zip.size()));
    std::string out = "stale";
    CHECK_FALSE(archive.Extract(0, out, c.maxSize));
    CHECK(out.empty());
    CHECK_FALSE(archive.LastError().empty());
  }
}

TEST_CASE("a deflate bomb stops at its declared size") {
  // 64 MiB of zeros deflate to about 64 KiB; the header claims 1 KiB.
  const std::string zeros(64u << 20, '\0');
  const std::string zip = zvtest::MakeZip({{"bomb.bin", zeros, true, 1024, 0}});
  CHECK(zip.size() < (200u << 10));
  CZipArchive archive;
  REQUIRE(archive.Open(zip.data(), zip.size()));
  std::string out;
  CHECK_FALSE(archive.Extract(0, out));
  CHECK(archive.LastError() == "entry inflates beyond its declared size");
  CHECK(out.capacity() < (1u << 20));

  zvtest::TempDir dir("zip-bomb");
  CHECK_FALSE(ExtractZipToFolder(zip.data(), zip.size(), Folder(dir.path())));
  CHECK(FilesBelow(dir.path()).empty());
}

TEST_CASE("every truncation of an archive fails cleanly") {
  const std::string zip = zvtest::MakeZip({{"language.ini", "[Language]\n1033=English\n", true},
                                           {"text.ini", Pattern(2000), true}});
  for (std::size_t length = 0; length < zip.size(); ++length) {
    CAPTURE(length);
    CZipArchive archive;
    if (!archive.Open(zip.data(), length)) continue;
    // A cut inside the entry data can leave the directory readable only in
    // the unusual case of a comment-free tail; any entry must then fail.
    std::string out;
    for (std::size_t i = 0; i < archive.GetEntryCount(); ++i) archive.Extract(i, out);
  }
  // Corrupted bytes anywhere: no crash, and whatever is extracted is CRC-true.
  for (std::size_t at = 0; at < zip.size(); at += 7) {
    std::string bad = zip;
    bad[at] = static_cast<char>(bad[at] ^ 0x5A);
    CZipArchive archive;
    if (!archive.Open(bad.data(), bad.size())) continue;
    std::string out;
    for (std::size_t i = 0; i < archive.GetEntryCount(); ++i)
      if (archive.Extract(i, out) && archive.GetEntry(i).name == "text.ini")
        CHECK(out == Pattern(2000));
  }
  CZipArchive archive;
  CHECK_FALSE(archive.Open(nullptr, 0));
  CHECK_FALSE(archive.Open("PK\x05\x06", 4));
  zvtest::TempDir dir("zip-trunc");
  CHECK_FALSE(ExtractZipToFolder(zip.data(), zip.size() / 2, Folder(dir.path())));
}

TEST_CASE("entry names that leave the folder are refused and logged") {
  const char* const bad[] = {"../evil.txt", "a/../../evil.txt", "/abs.txt", "\\abs.txt",
                             "C:/evil.txt", "c:evil.txt", "a\\..\\evil.txt", "a//b.txt",
                             "./x/../../evil.txt", "..", "nul.txt", "dir/CON", "a/b.",
                             "file.txt:stream", ""};
  for (const char* name : bad) {
    CAPTURE(name);
    std::string reason;
    CHECK_FALSE(IsSafeEntryName(name, reason));
    CHECK_FALSE(reason.empty());
  }
  for (const char* name : {"language.ini", "img/", "img/a.png", "a/b/c.txt", "pr_01.png"}) {
    std::string reason;
    CHECK_MESSAGE(IsSafeEntryName(name, reason), name);
  }

  zvtest::TempDir dir("zip-slip");
  const fs::path target = dir.path() / "target";
  std::vector<zvtest::ZipFixtureEntry> entries;
  for (const char* name : bad) entries.push_back({name, "evil", true});
  entries.push_back({"good.txt", "good", true});
  const std::string zip = zvtest::MakeZip(entries);
  CHECK_FALSE(ExtractZipToFolder(zip.data(), zip.size(), Folder(target)));
  // Only the good entry exists, inside the target; nothing beside it.
  CHECK(FilesBelow(dir.path()) == std::vector<std::string>{"target/good.txt"});
  CHECK(zvtest::ReadFile(target / "good.txt") == "good");
}

TEST_CASE("unpacking writes files and folders and replaces existing files") {
  zvtest::TempDir dir("zip-unpack");
  const fs::path target = dir.path() / "language";
  fs::create_directories(target);
  zvtest::WriteFile(target / "text.ini", "old text that is longer than the new one");
  const std::string zip = zvtest::MakeZip({{"language.ini", "[Language]\n", true},
                                           {"text.ini", "new", false},
                                           {"sub/", "", false},
                                           {"nested/empty/", "", false},
                                           {"deep/er/file.bin", Pattern(70000), true},
                                           {"empty.ini", "", true}});
  REQUIRE(ExtractZipToFolder(zip.data(), zip.size(), Folder(target)));
  CHECK(zvtest::ReadFile(target / "text.ini") == "new");
  CHECK(zvtest::ReadFile(target / "language.ini") == "[Language]\n");
  CHECK(fs::is_directory(target / "sub"));
  CHECK(fs::is_directory(target / "nested/empty"));
  CHECK(zvtest::ReadFile(target / "deep/er/file.bin") == Pattern(70000));
  CHECK(fs::is_regular_file(target / "empty.ini"));
  CHECK(fs::file_size(target / "empty.ini") == 0);
  // No companion files are left behind.
  CHECK(FilesBelow(target).size() == 4);
}

TEST_CASE("a bad entry never replaces the good file already there") {
  zvtest::TempDir dir("zip-keep");
  zvtest::WriteFile(dir.path() / "text.ini", "good old text");
  const std::string zip = zvtest::MakeZip({{"text.ini", Pattern(3000), true, -1, 1},
                                           {"other.ini", "fine", true}});
  CHECK_FALSE(ExtractZipToFolder(zip.data(), zip.size(), Folder(dir.path())));
  CHECK(zvtest::ReadFile(dir.path() / "text.ini") == "good old text");
  CHECK(zvtest::ReadFile(dir.path() / "other.ini") == "fine");
  CHECK(FilesBelow(dir.path()).size() == 2);
}

TEST_CASE("unpacking limits bound the whole run") {
  zvtest::TempDir dir("zip-limits");
  const std::string zip = zvtest::MakeZip({{"a.bin", Pattern(4000), true},
                                           {"b.bin", Pattern(4000), true},
                                           {"c.bin", Pattern(4000), true}});
  ExtractLimits limits;
  limits.maxTotalSize = 9000;
  CHECK_FALSE(ExtractZipToFolder(zip.data(), zip.size(), Folder(dir.path()), limits));
  CHECK(FilesBelow(dir.path()) == std::vector<std::string>{"a.bin", "b.bin"});
  limits = ExtractLimits();
  limits.maxEntries = 2;
  zvtest::TempDir dir2("zip-limits2");
  CHECK_FALSE(ExtractZipToFolder(zip.data(), zip.size(), Folder(dir2.path()), limits));
  CHECK(FilesBelow(dir2.path()).empty());
}
