// The machine-wide client id: its text form, its check, and how a stored
// registry value is read back. Portable; the registry access is ClientIdStore.
#pragma once

#include <cstdint>
#include <string>

// "%08X-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X" of a GUID's fields: 36
// characters, upper-case hexadecimal except the third group.
std::string FormatClientId(uint32_t data1, uint16_t data2, uint16_t data3, const uint8_t data4[8]);

// A stored id is used when it is ASCII letters, digits and "-" only, at least one.
bool IsValidClientId(const std::string& utf8);

// The text of a REG_SZ value from the bytes the registry returned: UTF-16LE
// up to the first terminator or the end of the data, whichever comes first,
// so a value written without its terminator is never read past its end.
std::wstring ClientIdFromRegistryData(const std::string& bytes);
