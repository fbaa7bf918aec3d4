// The bounded bencode reader and the canonical writer.
#include <doctest/doctest.h>

#include "engine/bencode.h"
#include "engine/error.h"

#include <string>
#include <system_error>

using engine::bencode::decode;
using engine::bencode::encode;
using engine::bencode::entry;

TEST_CASE("bencode values decode and encode back to the same bytes") {
  const std::string cases[] = {
      "i0e", "i-42e", "i9223372036854775807e", "i-9223372036854775808e", "0:", "5:hello", "le", "de",
      "li1e3:twoli3eee", "d1:ai1e1:bl1:xee", std::string("d3:\xff\x00zi1ee", 10),
  };
  for (const std::string& text : cases) {
    CAPTURE(text);
    entry e;
    std::string why;
    REQUIRE(decode(text, e, &why));
    CHECK(encode(e) == text);
  }
}

TEST_CASE("bencode rejects malformed and hostile input without large allocations") {
  struct {
    std::string text;
    const char* what;
  } cases[] = {
      {"", "empty"},
      {"x", "unknown type"},
      {"ie", "integer without digits"},
      {"i-e", "sign only"},
      {"i12", "unterminated integer"},
      {"i12x", "junk in integer"},
      {"i9223372036854775808e", "integer overflow"},
      {"i-9223372036854775809e", "negative overflow"},
      {"i99999999999999999999999e", "long integer"},
      {"5:abc", "string past the end"},
      {"99999999999999:abc", "huge string length"},
      {"99999999999999999999999:a", "string length overflow"},
      {"-1:a", "negative string length"},
      {"l", "open list"},
      {"li1e", "unterminated list"},
      {"d", "open dictionary"},
      {"d3:key", "key without value"},
      {"di1ei2ee", "integer key"},
      {"d1:ai1e1:ai2ee", "duplicate key"},
      {std::string(101, 'l') + std::string(101, 'e'), "nesting beyond 100"},
      {std::string(1000000, 'l'), "very deep nesting"},
  };
  for (const auto& c : cases) {
    CAPTURE(c.what);
    entry e = entry(int64_t(7));
    std::string why;
    CHECK_FALSE(decode(c.text, e, &why));
    CHECK(e.kind() == entry::undefined_t);
    CHECK_FALSE(why.empty());
  }
  entry e;
  CHECK(decode(std::string(100, 'l') + std::string(100, 'e'), e, nullptr));  // exactly at the limit
}

TEST_CASE("bencode element count is bounded") {
  std::string many = "l";
  for (int i = 0; i < 70000; ++i) many += "i1e";
  many += "e";
  entry e;
  std::string why;
  CHECK_FALSE(decode(many, e, &why));
  engine::bencode::limits lim;
  lim.max_elements = 100000;
  CHECK(decode(many.data(), many.size(), e, nullptr, &why, lim));
  CHECK(e.list().size() == 70000);
}

TEST_CASE("bencode decodes one value and ignores what follows") {
  std::string text = "d1:ai1ee trailing bytes of an older, longer record";
  entry e;
  std::size_t used = 0;
  REQUIRE(decode(text.data(), text.size(), e, &used));
  CHECK(used == 8);
  CHECK(e["a"].integer() == 1);
}

TEST_CASE("bencode entries: typed access, keys in bytewise order") {
  entry e;
  e["zeta"] = int64_t(1);
  e["alpha"] = "x";
  e["\xc3\xa9"] = int64_t(2);  // a byte >= 0x80 sorts after ASCII
  CHECK(encode(e) == "d5:alpha1:x4:zetai1e2:\xc3\xa9i2ee");

  CHECK(e.find("alpha")->string() == "x");
  CHECK(e.find("missing") == nullptr);
  try {
    (void)e["alpha"].integer();
    FAIL("no exception");
  } catch (const std::system_error& err) {
    CHECK(engine::is_http_error(err.code(), 10));
    CHECK(std::string(err.what()).find("invalid type requested from entry") != std::string::npos);
  }
  entry undefined;
  CHECK_NOTHROW(undefined["k"]);  // an undefined value turns into a dictionary
  CHECK(undefined.kind() == entry::dictionary_t);
  CHECK_THROWS_AS(entry(int64_t(1))["k"], std::system_error);
}
