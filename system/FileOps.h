// File-system operations on wide paths, with the results and error codes of
// the std::filesystem functions that do the same job. On Windows they call the
// C runtime and Win32 directly: std::filesystem's path conversions and file
// copies would bring libstdc++'s whole locale and file-stream machinery into
// the static executable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

enum class FileKind { kNotFound, kRegular, kDirectory, kOther, kUnknown };

// The kind of file at `path`; `ec` is set whenever it cannot be examined,
// including when there is none (kNotFound).
FileKind GetFileKind(const std::wstring& path, std::error_code& ec);

// True when something exists at `path`; `ec` is clear when that is known.
bool FileExists(const std::wstring& path, std::error_code& ec);
bool IsRegularFile(const std::wstring& path, std::error_code& ec);
bool IsDirectory(const std::wstring& path, std::error_code& ec);

// The size of a regular file; static_cast<uintmax_t>(-1) and `ec` set otherwise.
std::uintmax_t FileSize(const std::wstring& path, std::error_code& ec);

// Removes a file or an empty folder: true when removed, false with `ec`
// clear when there was nothing to remove.
bool RemoveFile(const std::wstring& path, std::error_code& ec);

// Renames `from` to `to`, replacing a file of that name where the platform allows.
void RenameFile(const std::wstring& from, const std::wstring& to, std::error_code& ec);

// Creates `path` and the folders above it: true when it created any.
bool CreateDirectories(const std::wstring& path, std::error_code& ec);

// The path without its last element ("a\\b.txt" gives "a"), empty when it has one element.
std::wstring ParentPath(const std::wstring& path);

// `path` and `name` joined by the platform's separator.
std::wstring JoinPath(const std::wstring& path, const std::wstring& name);

// fopen of a wide path; `mode` is an fopen mode of ASCII letters such as "rb".
std::FILE* OpenFileWide(const std::wstring& path, const char* mode);
