// The resume meta record (P.cfg): its exact encoding, and that a corrupt,
// truncated or hostile file is refused instead of steering the download.
#include <doctest/doctest.h>

#include "engine/storage.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"

#include <cstring>
#include <string>

using engine::check_resume_meta;
using engine::decode_resume_meta;
using engine::encode_resume_meta;
using engine::resume_meta;
using engine::resume_meta_file;

namespace {

std::wstring W(const std::filesystem::path& p) { return Utf8ToWide(p.u8string()); }

resume_meta Meta(int64_t size, int64_t piece, unsigned char fill = 0) {
  resume_meta m;
  m.final_url = "https://dl.example.test/files/setup.exe?x=1#f";
  m.file_size = size;
  m.piece_size = piece;
  m.piece_num = (size + piece - 1) / piece;
  m.bitfield.assign(static_cast<std::size_t>((m.piece_num + 7) / 8), static_cast<char>(fill));
  if (m.piece_num % 8 && !m.bitfield.empty())
    m.bitfield.back() = static_cast<char>(fill & (0xff00u >> (m.piece_num % 8)));
  return m;
}

std::string Int(const char* key, int64_t v) {
  return std::to_string(std::strlen(key)) + ":" + key + "i" + std::to_string(v) + "e";
}
std::string Str(const char* key, const std::string& v) {
  return std::to_string(std::strlen(key)) + ":" + key + std::to_string(v.size()) + ":" + v;
}

}  // namespace

TEST_CASE("meta record encodes in key order and decodes back") {
  // 300,000,000 bytes in pieces of 262,144: 1145 pieces, 144 bitfield bytes.
  resume_meta m = Meta(300000000, 262144, 0xff);
  CHECK(m.piece_num == 1145);
  std::string text = encode_resume_meta(m);
  std::string head = "d8:bitfield144:";
  CHECK(text.compare(0, head.size(), head) == 0);
  std::string tail = "9:file_sizei300000000e9:final_url" + std::to_string(m.final_url.size()) + ":" + m.final_url +
                     "9:piece_numi1145e10:piece_sizei262144ee";
  CHECK(text.substr(head.size() + 144) == tail);

  resume_meta back;
  std::string why;
  REQUIRE(decode_resume_meta(text, back, &why));
  CHECK(back.final_url == m.final_url);
  CHECK(back.file_size == m.file_size);
  CHECK(back.piece_size == m.piece_size);
  CHECK(back.piece_num == m.piece_num);
  CHECK(back.bitfield == m.bitfield);
  CHECK(static_cast<unsigned char>(back.bitfield.back()) == 0x80);  // 1145 = 143 * 8 + 1
}

TEST_CASE("meta record for sizes past 4 GiB and exact multiples") {
  resume_meta big = Meta((int64_t(1) << 32) + 1000001, 1 << 21, 0x55);
  resume_meta back;
  REQUIRE(decode_resume_meta(encode_resume_meta(big), back));
  CHECK(back.file_size == (int64_t(1) << 32) + 1000001);
  CHECK(back.piece_num == 2049);

  resume_meta exact = Meta(4 * 16384, 16384, 0xff);
  CHECK(exact.piece_num == 4);
  REQUIRE(decode_resume_meta(encode_resume_meta(exact), back));
  CHECK(back.bitfield == std::string(1, static_cast<char>(0xf0)));
  CHECK(engine::resume_meta_complete_end(back) == 4 * 16384);
}

TEST_CASE("bits past the last piece are cleared on load") {
  resume_meta m = Meta(3 * 1000, 1000);
  m.bitfield = std::string(1, static_cast<char>(0xff));  // 8 bits set, 3 pieces
  resume_meta back;
  REQUIRE(decode_resume_meta(encode_resume_meta(m), back));
  CHECK(static_cast<unsigned char>(back.bitfield[0]) == 0xe0);
}

TEST_CASE("meta records that disagree with themselves are rejected") {
  const std::string url = Str("final_url", "http://h/f");
  const std::string bf2 = Str("bitfield", std::string(2, '\xff'));
  struct {
    std::string text;
    const char* what;
  } cases[] = {
      {"d" + bf2 + Int("file_size", 10000) + url + Int("piece_num", 10) + Int("piece_size", 1000) + "e", "valid"},
      {"d" + bf2 + Int("file_size", 10000) + url + Int("piece_num", 10) + Int("piece_size", 0) + "e", "piece size 0"},
      {"d" + bf2 + Int("file_size", 10000) + url + Int("piece_num", 10) + Int("piece_size", -1000) + "e",
       "negative piece size"},
      {"d" + bf2 + Int("file_size", 10000) + url + Int("piece_num", 10) + Int("piece_size", int64_t(1) << 31) + "e",
       "piece size beyond 1 GiB"},
      {"d" + bf2 + Int("file_size", -10000) + url + Int("piece_num", 10) + Int("piece_size", 1000) + "e",
       "negative file size"},
      {"d" + bf2 + Int("file_size", 10000) + url + Int("piece_num", 11) + Int("piece_size", 1000) + "e",
       "piece count too high"},
      {"d" + bf2 + Int("file_size", 10000) + url + Int("piece_num", 9) + Int("piece_size", 1000) + "e",
       "piece count too low"},
      {"d" + Str("bitfield", "\xff") + Int("file_size", 10000) + url + Int("piece_num", 10) +
           Int("piece_size", 1000) + "e",
       "short bitfield"},
      {"d" + Str("bitfield", std::string(3, '\xff')) + Int("file_size", 10000) + url + Int("piece_num", 10) +
           Int("piece_size", 1000) + "e",
       "long bitfield"},
      {"d" + bf2 + Int("file_size", INT64_MAX) + url + Int("piece_num", INT64_MAX) + Int("piece_size", 1) + "e",
       "huge piece count"},
      {"d" + bf2 + url + Int("piece_num", 10) + Int("piece_size", 1000) + "e", "no file size"},
      {"d" + bf2 + Int("file_size", 10000) + Int("piece_num", 10) + Int("piece_size", 1000) + "e", "no address"},
      {"d" + bf2 + Str("file_size", "10000") + url + Int("piece_num", 10) + Int("piece_size", 1000) + "e",
       "size as string"},
      {"d" + Int("bitfield", 3) + Int("file_size", 10000) + url + Int("piece_num", 10) + Int("piece_size", 1000) +
           "e",
       "bitfield as integer"},
      {"l" + bf2 + "e", "a list"},
      {"i5e", "an integer"},
  };
  for (const auto& c : cases) {
    CAPTURE(c.what);
    resume_meta out;
    std::string why;
    bool ok = decode_resume_meta(c.text, out, &why);
    CHECK(ok == (std::string(c.what) == "valid"));
    if (!ok) CHECK_FALSE(why.empty());
  }
}

TEST_CASE("every truncation of a meta record is rejected") {
  std::string text = encode_resume_meta(Meta(1000003, 16384, 0xa5));
  for (std::size_t n = 0; n < text.size(); ++n) {
    CAPTURE(n);
    resume_meta out;
    CHECK_FALSE(decode_resume_meta(text.substr(0, n), out));
  }
}

TEST_CASE("a meta record is used only for the same size and a long enough data file") {
  resume_meta m = Meta(10000, 1000);
  m.bitfield[0] = static_cast<char>(0xff);  // pieces 0-7 complete
  m.bitfield[1] = static_cast<char>(0x40);  // and piece 9, the last (ends at 10000)
  CHECK(engine::resume_meta_complete_end(m) == 10000);
  CHECK(check_resume_meta(m, 10000, 10000).empty());
  CHECK_FALSE(check_resume_meta(m, 10001, 10000).empty());  // the server's file changed
  CHECK_FALSE(check_resume_meta(m, 9999, 10000).empty());
  CHECK_FALSE(check_resume_meta(m, 10000, 9999).empty());   // P.tmp lost its tail
  CHECK_FALSE(check_resume_meta(m, 10000, -1).empty());     // P.tmp missing
  resume_meta none = Meta(10000, 1000);
  CHECK(check_resume_meta(none, 10000, -1).empty());  // nothing claimed, nothing needed
}

TEST_CASE("meta file: save rewrites in place and cuts the old tail; load classifies") {
  zvtest::TempDir dir("meta");
  auto path = dir.path() / "P.cfg";
  resume_meta_file f;
  std::error_code ec;
  REQUIRE(f.open(W(path), ec));
  resume_meta loaded;
  CHECK(f.load(loaded) == resume_meta_file::kMeta_Empty);  // a fresh download

  resume_meta longer = Meta(1000000, 16384, 0xff);
  longer.final_url = std::string(500, 'u');
  REQUIRE(f.save(longer, ec));
  resume_meta shorter = Meta(1000000, 16384, 0x0f);
  REQUIRE(f.save(shorter, ec));
  CHECK(std::filesystem::file_size(path) == encode_resume_meta(shorter).size());
  REQUIRE(f.load(loaded) == resume_meta_file::kMeta_Loaded);
  CHECK(loaded.final_url == shorter.final_url);
  CHECK(loaded.bitfield == shorter.bitfield);
  f.close();

  resume_meta again;
  std::string why;
  CHECK(engine::read_resume_meta_file(W(path), again, &why));
  CHECK(again.file_size == 1000000);
}

TEST_CASE("meta file: garbage, oversize and missing files are refused") {
  zvtest::TempDir dir("meta");
  std::string why;
  resume_meta out;

  auto missing = dir.path() / "none.cfg";
  CHECK_FALSE(engine::read_resume_meta_file(W(missing), out, &why));
  CHECK_FALSE(std::filesystem::exists(missing));  // looking does not create it

  auto garbage = dir.path() / "garbage.cfg";
  zvtest::WriteFile(garbage, "PK\x03\x04 not a meta file");
  CHECK_FALSE(engine::read_resume_meta_file(W(garbage), out, &why));
  CHECK_FALSE(why.empty());

  auto empty = dir.path() / "empty.cfg";
  zvtest::WriteFile(empty, "");
  CHECK_FALSE(engine::read_resume_meta_file(W(empty), out, &why));

  auto huge = dir.path() / "huge.cfg";
  zvtest::WriteFile(huge, encode_resume_meta(Meta(1000, 100)));
  std::filesystem::resize_file(huge, engine::kMaxResumeMetaBytes + 1);  // valid head, sparse tail
  resume_meta_file f;
  std::error_code ec;
  REQUIRE(f.open(W(huge), ec));
  CHECK(f.load(out, &why) == resume_meta_file::kMeta_Rejected);
  CHECK(why == "too large");
}
