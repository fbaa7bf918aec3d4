// Portable string helpers. Wide strings are the platform's wchar_t strings:
// UTF-16 on Windows, UTF-32 elsewhere; the conversions handle both.
#pragma once

#include <string>

std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);
// Decodes UTF-16LE bytes (an optional byte-order mark is skipped); unpaired
// surrogates become U+FFFD.
std::wstring Utf16LeToWide(const std::string& bytes);

// Replaces every occurrence of `from`, continuing after each inserted text.
void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to);
void ReplaceAll(std::string& text, const std::string& from, const std::string& to);

// The part after the last separator ("/" counts as "\\").
std::wstring GetFileNameFromPath(const std::wstring& path);

// Host and path of an "http://" or "https://" address: true with both set;
// false when no "/" follows the host (host set); true and nothing changed
// when the address has neither scheme.
bool SplitUrl(const std::wstring& url, std::wstring& host, std::wstring& path);

// The path with its "." and ".." segments resolved (RFC 3986, 5.2.4).
std::string RemoveDotSegments(std::string path);
