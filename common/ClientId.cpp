#include "common/ClientId.h"

#include <cstdio>
#include <regex>

#include "system/Strings.h"

std::string FormatClientId(uint32_t data1, uint16_t data2, uint16_t data3, const uint8_t data4[8]) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(data1), static_cast<unsigned>(data2), static_cast<unsigned>(data3),
                data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
  return text;
}

bool IsValidClientId(const std::string& utf8) {
  static const std::regex pattern("[a-zA-Z0-9\\-]+");
  return std::regex_match(utf8, pattern);
}

std::wstring ClientIdFromRegistryData(const std::string& bytes) {
  size_t end = bytes.size() & ~static_cast<size_t>(1);
  for (size_t i = 0; i + 1 < end; i += 2) {
    if (bytes[i] == 0 && bytes[i + 1] == 0) {
      end = i;
      break;
    }
  }
  return Utf16LeToWide(bytes.substr(0, end));
}
