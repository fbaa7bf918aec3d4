// Client id text rules and reading a stored REG_SZ value up to its real end.
#include <doctest/doctest.h>

#include <regex>

#include "common/ClientId.h"

namespace {

std::string Utf16(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

}  // namespace

TEST_CASE("FormatClientId: groups of 8-4-4-4-12, only the third in lower case") {
  const uint8_t tail[8] = {0xAB, 0xCD, 0x01, 0x23, 0x45, 0x67, 0x89, 0xEF};
  std::string id = FormatClientId(0x0A1B2C3D, 0xBEEF, 0xCAFE, tail);
  CHECK(id == "0A1B2C3D-BEEF-cafe-ABCD-0123456789EF");
  CHECK(std::regex_match(id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9a-f]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
  CHECK(IsValidClientId(id));
}

TEST_CASE("IsValidClientId accepts letters, digits and hyphens only") {
  CHECK(IsValidClientId("abc-123"));
  CHECK(IsValidClientId("-"));
  for (const char* bad : {"", "{0A1B2C3D-BEEF-cafe-ABCD-0123456789EF}", "a b", "a\nb", "caf\xc3\xa9", "a_b"}) {
    CAPTURE(std::string(bad));
    CHECK_FALSE(IsValidClientId(bad));
  }
}

TEST_CASE("ClientIdFromRegistryData ends at the terminator or at the returned size") {
  const std::u16string id = u"0A1B2C3D-BEEF-cafe-ABCD-0123456789EF";
  CHECK(ClientIdFromRegistryData(Utf16(id) + std::string(2, '\0')) == L"0A1B2C3D-BEEF-cafe-ABCD-0123456789EF");
  CHECK(ClientIdFromRegistryData(Utf16(id)) == L"0A1B2C3D-BEEF-cafe-ABCD-0123456789EF");  // no terminator
  CHECK(ClientIdFromRegistryData(Utf16(u"ab") + std::string(2, '\0') + Utf16(u"zz")) == L"ab");
  CHECK(ClientIdFromRegistryData(Utf16(u"ab") + "x") == L"ab");  // odd byte count
  CHECK(ClientIdFromRegistryData(std::string()).empty());
  CHECK(ClientIdFromRegistryData(std::string(2, '\0')).empty());
}
