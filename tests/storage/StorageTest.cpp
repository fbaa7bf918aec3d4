// The data file storage and the random-access file under it: offsets past
// 4 GiB, complete writes only, truncation of stale content.
#include <doctest/doctest.h>

#include "engine/storage.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"

#include <string>
#include <vector>

using engine::default_storge;
using engine::random_file;

namespace {

std::wstring W(const std::filesystem::path& p) { return Utf8ToWide(p.u8string()); }

std::string Pattern(std::size_t n, char seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

}  // namespace

TEST_CASE("storage keeps content on open, writes at offsets and reads them back") {
  zvtest::TempDir dir("storage");
  auto path = dir.path() / "P.tmp";
  zvtest::WriteFile(path, "0123456789");

  default_storge s;
  std::error_code ec;
  s.open(W(path), ec);
  REQUIRE_FALSE(ec);
  char buf[16] = {};
  CHECK(s.read(buf, 0, 10) == 10);
  CHECK(std::string(buf, 10) == "0123456789");

  // Out of order, as parallel connections deliver.
  CHECK(s.write("CD", 2, 2) == 2);
  CHECK(s.write("AB", 0, 2) == 2);
  CHECK(s.write("XYZ", 12, 3) == 3);  // past the end: a hole of zeros
  CHECK(s.read(buf, 0, 16) == 15);
  CHECK(std::string(buf, 15) == std::string("ABCD456789\0\0XYZ", 15));

  // At the current position: after the last read/write.
  CHECK(s.write("!", 0, 1) == 1);
  CHECK(s.write("?", 1) == 1);
  CHECK(s.read(buf, 0, 3) == 3);
  CHECK(std::string(buf, 3) == "!?C");
  s.close();
  CHECK(zvtest::ReadFile(path) == std::string("!?CD456789\0\0XYZ", 15));
}

TEST_CASE("storage at_end reads without moving the position") {
  zvtest::TempDir dir("storage");
  default_storge s;
  std::error_code ec;
  s.open(W(dir.path() / "P.tmp"), ec);
  REQUIRE_FALSE(ec);
  CHECK(s.at_end());
  CHECK(s.write("abc", 0, 3) == 3);
  char c = 0;
  CHECK(s.read(&c, 1, 1) == 1);
  CHECK_FALSE(s.at_end());
  CHECK(s.read(&c, 1) == 1);
  CHECK(c == 'c');
  CHECK(s.at_end());
}

TEST_CASE("set_length cuts a stale tail and extends to the final size") {
  zvtest::TempDir dir("storage");
  auto path = dir.path() / "P.tmp";
  zvtest::WriteFile(path, std::string(5000, 'x'));  // an older, longer download
  default_storge s;
  std::error_code ec;
  s.open(W(path), ec);
  REQUIRE_FALSE(ec);
  s.set_length(0, ec);  // a fresh start
  REQUIRE_FALSE(ec);
  CHECK(s.write("new", 0, 3) == 3);
  s.set_length(1000, ec);  // every byte arrived; the file is exactly its size
  REQUIRE_FALSE(ec);
  s.close();
  std::string got = zvtest::ReadFile(path);
  CHECK(got.size() == 1000);
  CHECK(got.substr(0, 3) == "new");
  CHECK(got.find('x') == std::string::npos);
}

TEST_CASE("offsets beyond 4 GiB stay 64-bit") {
  zvtest::TempDir dir("storage");
  auto path = dir.path() / "sparse.tmp";
  default_storge s;
  std::error_code ec;
  s.open(W(path), ec);
  REQUIRE_FALSE(ec);
  const int64_t offsets[] = {(int64_t(1) << 31) - 1, int64_t(1) << 32, (int64_t(1) << 32) + 8195,
                             int64_t(5) * 1024 * 1024 * 1024};
  std::string data = Pattern(4096, 'a');
  for (int64_t off : offsets) REQUIRE(s.write(data.data(), off, static_cast<int>(data.size())) == 4096);
  std::vector<char> back(4096);
  for (int64_t off : offsets) {
    CHECK(s.read(back.data(), off, 4096) == 4096);
    CHECK(std::string(back.data(), 4096) == data);
  }
  // A 32-bit wrap would land at a low offset: nothing was written there.
  CHECK(s.read(back.data(), 4093, 16) == 16);
  CHECK(std::string(back.data(), 16) == std::string(16, '\0'));
  s.close();
  CHECK(std::filesystem::file_size(path) == uint64_t(5) * 1024 * 1024 * 1024 + 4096);
}

TEST_CASE("a failed write reports -1 and its error; nothing counts as written") {
  default_storge closed;
  CHECK(closed.write("abc", 0, 3) == -1);
  CHECK(closed.last_error());
  CHECK(closed.read(nullptr, 0, 0) == -1);

  random_file f;
  std::error_code ec;
  CHECK(f.write("x", -2, 1, ec) == -1);  // no such offset
  CHECK(ec);

#ifndef _WIN32
  // A device that is always full: every write fails with ENOSPC.
  default_storge full;
  full.open(L"/dev/full", ec);
  REQUIRE_FALSE(ec);
  std::string block(65536, 'z');
  CHECK(full.write(block.data(), 0, static_cast<int>(block.size())) == -1);
  CHECK(full.last_error() == std::errc::no_space_on_device);
#endif
}

TEST_CASE("random_file opens without creating when asked, reports its length") {
  zvtest::TempDir dir("storage");
  auto path = dir.path() / "missing.cfg";
  random_file f;
  std::error_code ec;
  CHECK_FALSE(f.open(W(path), ec, false));
  CHECK(ec);
  CHECK_FALSE(std::filesystem::exists(path));
  REQUIRE(f.open(W(path), ec));
  CHECK(f.length(ec) == 0);
  CHECK(f.write("hello", -1, 5, ec) == 5);
  CHECK(f.length(ec) == 5);
  CHECK(f.path() == W(path));
  f.close();
  CHECK(f.path().empty());
  CHECK(f.length(ec) == -1);
}

#ifdef _WIN32
TEST_CASE("an open data file admits other readers only") {
  zvtest::TempDir dir("storage");
  auto path = dir.path() / "P.cfg";
  random_file holder, other;
  std::error_code ec;
  REQUIRE(holder.open(W(path), ec));
  CHECK_FALSE(other.open(W(path), ec));  // read/write open by someone else fails
  holder.close();
  CHECK(other.open(W(path), ec));
}
#endif
