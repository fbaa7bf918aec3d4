// INI text reading for the settings files and the address table, the same
// on every platform.
//
// Two readers: ParseIniText keeps the address table's rules (case-sensitive
// sections and keys, lines without "=" skipped); ReadIniString and
// ReadIniSection read a file the way the system's profile reader does
// (section and key names compare ignoring case, the first section of a name
// counts, blanks around keys and values removed, a byte-order mark chooses
// UTF-16LE, UTF-16BE or UTF-8, otherwise the ANSI code page).
#pragma once

#include <cstddef>
#include <map>
#include <string>

using IniSection = std::map<std::wstring, std::wstring>;
using IniTable = std::map<std::wstring, IniSection>;

// section name -> (key -> value). Entries before the first header belong to
// the section with the empty name; a later duplicate key replaces an earlier one.
IniTable ParseIniText(const std::wstring& text);

// True when size is more than 1 and the first UTF-16 unit is 0xFEFF or 0xFFFE.
bool HasUtf16Bom(const void* data, std::size_t size);

// The text of INI file bytes, decoded by their byte-order mark.
std::wstring DecodeIniBytes(const std::string& bytes);

// One value of a file; empty when the file, section or key is missing.
std::wstring ReadIniString(const std::wstring& file, const std::wstring& section,
                           const std::wstring& key);

// Every entry of a section stored into `table` (replacing values of keys it
// already has, keeping the others); an entry without "=" is a key with an
// empty value. False when the file or section is missing.
bool ReadIniSection(const std::wstring& file, const std::wstring& section, IniSection& table);
