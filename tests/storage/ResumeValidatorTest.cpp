// The server's validator in the resume meta record: which header it is taken
// from, how it is stored beside the five older keys, and that records of
// either age are read by readers of either age.
#include <doctest/doctest.h>

#include "engine/bencode.h"
#include "engine/storage.h"
#include "engine/validator.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"

#include <string>
#include <utility>

using engine::resource_validator;
using engine::resume_meta;
using engine::validator_mismatch;
using engine::validator_of;

namespace {

const char kEtag[] = "\"5f3a1c2b-1e8483\"";
const char kDate[] = "Tue, 08 Dec 2026 10:00:00 GMT";

resume_meta Meta(const resource_validator& v) {
  resume_meta m;
  m.final_url = "https://dl.example.test/setup.exe";
  m.file_size = 40000;
  m.piece_size = 16384;
  m.piece_num = 3;
  m.bitfield = std::string(1, static_cast<char>(0xc0));
  m.validator = v;
  return m;
}

resource_validator Etag(const std::string& tag) { return validator_of(tag, ""); }
resource_validator Date(const std::string& date) { return validator_of("", date); }

// What a reader of the five keys alone takes from a record: their values
// in canonical encoding. Unknown keys are passed over, as a bencoded
// dictionary reader does.
std::string FiveKeys(const std::string& record) {
  engine::bencode::entry root, five;
  REQUIRE(engine::bencode::decode(record, root));
  for (const char* key : {"bitfield", "file_size", "final_url", "piece_num", "piece_size"}) {
    const auto* e = root.find(key);
    REQUIRE(e);
    five[key] = *e;
  }
  return engine::bencode::encode(five);
}

}  // namespace

TEST_CASE("the validator is the strong ETag, else Last-Modified") {
  struct {
    const char* etag;
    const char* date;
    resource_validator want;
  } cases[] = {
      {kEtag, kDate, Etag(kEtag)},
      {"  \"abc\" ", "", Etag("\"abc\"")},
      {"W/\"abc\"", kDate, Date(kDate)},  // a weak tag cannot guard a range
      {"abc", kDate, Date(kDate)},        // no quotes: no tag
      {"\"a\"b\"", "", {}},               // a quote inside: no tag
      {"\"", "", {}},
      {"", "", {}},
  };
  for (const auto& c : cases) {
    CAPTURE(c.etag);
    resource_validator v = validator_of(c.etag, c.date);
    CHECK(v == c.want);
  }
  CHECK(Etag(kEtag).etag == kEtag);
  CHECK(Etag(kEtag).last_modified.empty());
  CHECK(Date(kDate).if_range() == kDate);
  CHECK(Etag(kEtag).if_range() == kEtag);

  CHECK(validator_mismatch(Etag(kEtag), Etag(kEtag)).empty());
  CHECK(validator_mismatch({}, {}).empty());                        // size-only, as before
  CHECK_FALSE(validator_mismatch(Etag(kEtag), Etag("\"x\"")).empty());
  CHECK_FALSE(validator_mismatch(Etag(kEtag), Date(kDate)).empty());
  CHECK_FALSE(validator_mismatch(Etag(kEtag), {}).empty());         // cannot vouch any more
  CHECK_FALSE(validator_mismatch({}, Etag(kEtag)).empty());         // an older record vouches for nothing
}

TEST_CASE("a record with a validator keeps its keys in byte order and old readers read it") {
  const std::string five =
      "d8:bitfield1:\xc0" "9:file_sizei40000e9:final_url33:https://dl.example.test/setup.exe"
      "9:piece_numi3e10:piece_sizei16384ee";
  CHECK(engine::encode_resume_meta(Meta({})) == five);  // without one: the old record, byte for byte

  const std::string with_etag = engine::encode_resume_meta(Meta(Etag(kEtag)));
  CHECK(with_etag == "d8:bitfield1:\xc0" "4:etag17:" + std::string(kEtag) +
                         "9:file_sizei40000e9:final_url33:https://dl.example.test/setup.exe"
                         "9:piece_numi3e10:piece_sizei16384ee");
  const std::string with_date = engine::encode_resume_meta(Meta(Date(kDate)));
  CHECK(with_date == "d8:bitfield1:\xc0" "9:file_sizei40000e9:final_url33:https://dl.example.test/setup.exe"
                     "13:last_modified29:" + std::string(kDate) + "9:piece_numi3e10:piece_sizei16384ee");

  for (const std::string& record : {with_etag, with_date}) {
    CAPTURE(record);
    // An old reader sees the same five values as in the old record, and the
    // checks it applies accept them.
    CHECK(FiveKeys(record) == five);
    resume_meta back;
    std::string why;
    REQUIRE(engine::decode_resume_meta(record, back, &why));
    CHECK(engine::check_resume_meta(back, 40000, 40000).empty());
    CHECK(engine::encode_resume_meta(back) == record);
  }
  resume_meta back;
  REQUIRE(engine::decode_resume_meta(with_date, back));
  CHECK(back.validator == Date(kDate));

  // An old record loads, with no validator.
  REQUIRE(engine::decode_resume_meta(five, back));
  CHECK(back.validator.empty());
  CHECK(back.bitfield == std::string(1, static_cast<char>(0xc0)));

  // A validator that no answer could have given makes the record unusable:
  // it would go back to the server as a header value.
  const std::pair<const char*, std::string> bad[] = {
      {"tag as integer", "4:etagi7e"},
      {"weak tag", "4:etag7:W/\"abc\""},
      {"tag without quotes", "4:etag3:abc"},
      {"line break in the date", "13:last_modified9:Tue\r\nX: 1"},
      {"tag and date both", "4:etag5:\"abc\"13:last_modified3:Tue"},
  };
  for (const auto& c : bad) {
    CAPTURE(c.first);
    std::string record = "d8:bitfield1:\xc0" + c.second;
    // keys in order: a date key goes after final_url
    if (c.second.rfind("13:", 0) == 0)
      record = "d8:bitfield1:\xc0" "9:file_sizei40000e9:final_url0:" + c.second + "9:piece_numi3e10:piece_sizei16384ee";
    else
      record += "9:file_sizei40000e9:final_url0:9:piece_numi3e10:piece_sizei16384ee";
    resume_meta out;
    std::string why;
    CHECK_FALSE(engine::decode_resume_meta(record, out, &why));
    CHECK(why.find("validator") != std::string::npos);
  }
}

TEST_CASE("the meta file keeps the validator across a save and a load") {
  zvtest::TempDir dir("meta-validator");
  std::wstring path = Utf8ToWide((dir.path() / "P.cfg").u8string());
  engine::resume_meta_file f;
  std::error_code ec;
  REQUIRE(f.open(path, ec));
  REQUIRE(f.save(Meta(Etag(kEtag)), ec));
  REQUIRE(f.save(Meta({}), ec));  // a shorter record leaves no stale key behind
  resume_meta back;
  REQUIRE(f.load(back) == engine::resume_meta_file::kMeta_Loaded);
  CHECK(back.validator.empty());
  REQUIRE(f.save(Meta(Date(kDate)), ec));
  f.close();
  REQUIRE(engine::read_resume_meta_file(path, back));
  CHECK(back.validator == Date(kDate));
}
