// Command line of the demo product installer.
//
// The web installer starts the downloaded installer with
//    /verysilent /zelvane_down /wait_run /path="D:\Apps\" /progress="X\temp.progress"
// (with a leading blank and no program name). The installation folder ends in a
// backslash directly followed by the closing quote, so the C runtime's argument
// rules (where \" is an escaped quote) would glue the two paths together.
// Windows paths cannot contain double quotes, so here a quote only opens or
// closes a quoted stretch and backslashes are always literal.
#pragma once

#include <string>
#include <vector>

namespace zvdemo {

struct InstallerArgs {
  std::wstring installDir;    // absolute, ends in one backslash
  std::wstring progressFile;  // absolute file path
};

// Splits a raw command line into tokens: blanks and tabs separate them outside
// quotes, quotes are removed, backslashes stay as they are. An unterminated
// quote fails (false).
bool SplitCommandLine(const std::wstring& line, std::vector<std::wstring>& tokens);

// Parses the installer's command line. A leading program name (any first token
// that is no switch) is skipped. Every other token must be one of the five
// switches, each exactly once: /verysilent, /zelvane_down, /wait_run,
// /path=<folder>, /progress=<file> (switch names without regard to case).
// Paths must be absolute drive or UNC paths without wildcard, pipe, angle
// bracket, control characters, stream colons or ".." segments; forward slashes
// become backslashes. On failure `error` tells why and `args` is untouched.
bool ParseInstallerCommandLine(const std::wstring& line, InstallerArgs& args, std::wstring& error);

// The command line the installer hands to its temporary copy: the copy's path
// in quotes, then the switches in the order the web installer uses.
std::wstring BuildCopyCommandLine(const std::wstring& copyPath, const InstallerArgs& args);

// The product folder below the installation folder: each non-empty folder
// name followed by a backslash (the same rule the web installer uses for its
// domain file and for starting the product).
std::wstring ProductFolder(const std::wstring& installDir, const std::wstring& dir1,
                           const std::wstring& dir2);

// True when `name` equals `expected` without regard to ASCII case.
bool EqualsNoCase(const std::wstring& name, const std::wstring& expected);

}  // namespace zvdemo
