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

// The file is a Windows executable (PE header), not empty, of the size the
// server announced (when it announced one), and, when a publisher is named,
// carries a valid Authenticode signature of that publisher. On false, `why`
// says what failed.
bool VerifyDownloadedInstaller(const std::wstring& exePath, int64_t expectedSize,
                               const std::wstring& publisher, std::wstring& why);
