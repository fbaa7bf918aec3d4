// File digests through OpenSSL's EVP interface, and the SHA-256 pin that a
// product's settings may give for its installer. Portable.
#pragma once

#include <openssl/types.h>

#include <cstdio>
#include <string>

// Opens a file for binary reading: the wide path as it stands on Windows,
// UTF-8 with "\\" read as "/" elsewhere. Null when it cannot be opened.
std::FILE* OpenFileForReading(const std::wstring& path);

// The file's digest as lowercase hexadecimal digits; empty when the file
// cannot be read to its end.
std::string GetFileDigestHex(const std::wstring& path, const EVP_MD* md);
std::string GetFileSha256(const std::wstring& path);

// Checks the file against a pin of 64 hexadecimal digits (either case). An
// empty pin asks nothing and passes. A malformed pin, an unreadable file or a
// different digest fail with `why` saying which.
bool MatchesSha256Pin(const std::wstring& path, const std::wstring& pin, std::string& why);
