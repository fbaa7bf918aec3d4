// File helpers for the skin and settings code. Paths are wide strings in the
// installer's own form ("\\" separated); elsewhere than on Windows both "\\"
// and "/" separate, so the same code and tests run natively.
#pragma once

#include <cstddef>
#include <string>

namespace SkinUI {

// The path in the platform's form: elsewhere than on Windows "\\" becomes "/".
std::wstring ToNativePath(const std::wstring& path);

// Reads a whole regular file when it holds at most maxSize bytes.
bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::size_t maxSize);

// Writes `bytes` to a companion file beside `target` and renames it over the
// target, so that the target is either the complete new file or unchanged.
bool WriteFileReplacing(const std::wstring& target, const std::string& bytes,
                        std::string& error);

}  // namespace SkinUI
