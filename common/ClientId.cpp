#include "common/ClientId.h"

#include <algorithm>
#include <cstdio>

#include "system/Strings.h"

std::string FormatClientId(uint32_t data1, uint16_t data2, uint16_t data3, const uint8_t data4[8]) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(data1), static_cast<unsigned>(data2), static_cast<unsigned>(data3),
                data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
  return text;
}

// One or more ASCII letters, digits or hyphens, byte by byte: no locale is
// consulted, so bytes of multi-byte UTF-8 characters never pass.
bool IsValidClientId(const std::string& utf8) {
  return !utf8.empty() && std::all_of(utf8.begin(), utf8.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
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
