// The few platform services the log facility needs, kept apart so that the
// facility itself stays portable.
#pragma once

#include <cstdio>
#include <string>

namespace zvlog {

// Full path of the module that contains the log code.
std::wstring ModuleFilePath();
// Wide text to the narrow form written to the file (the OEM code page on
// Windows, UTF-8 elsewhere); unmappable characters become the default char.
std::string WideToLogText(const std::wstring& text);
// Narrow (ANSI code page) text to wide.
std::wstring AnsiToWideText(const std::string& text);
// Paths use "\\" as separator inside the facility; these map them for the OS.
bool PathExists(const std::wstring& path);
void MakeDirectory(const std::wstring& path);
// Opens for appending in binary mode; null on failure.
std::FILE* OpenForAppend(const std::wstring& path);
// Moves a file to a new name, replacing what is there.
bool RenameReplacing(const std::wstring& from, const std::wstring& to);

}  // namespace zvlog
