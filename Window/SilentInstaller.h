// Running the downloaded product installer, and the checks made before it
// is run with the installer's administrator rights.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Runs exePath with " /verysilent /zelvane_down /wait_run /path="dir"
// /progress="file"" and waits for it to end. False when the command line
// cannot be built or the process cannot be started; otherwise true with the
// process's exit code.
bool RunSilentInstaller(const std::wstring& exePath, const std::wstring& installDir,
                        const std::wstring& progressFile, DWORD* exitCode);

// The checks made before the downloaded installer runs, in this order: the
// file is not empty and has the size the server announced (when it announced
// one); it starts with a PE header; its SHA-256 is the pinned one (when a pin
// of 64 hexadecimal digits is given; any other non-empty pin fails); and,
// when a publisher is named, its Authenticode signature holds for this exact
// image, chains to a root of the system store and names that publisher,
// checked first with OpenSSL and then by WinVerifyTrust. On false, `why` says
// what failed.
bool VerifyDownloadedInstaller(const std::wstring& exePath, int64_t expectedSize, const std::wstring& sha256Pin,
                               const std::wstring& publisher, std::wstring& why);
