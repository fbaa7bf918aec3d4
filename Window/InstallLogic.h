// The window's arithmetic and checks that need no window: progress mapping,
// the installer's command line, address and file checks. Portable, so that
// they are tested natively.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Download progress (percent of the file) on the bar: 0..ratio.
int DownloadPercentToBar(int percent, int ratio);

// Byte progress on the bar. `last` is the previous report's byte count and
// is updated: reports never go back (a smaller one counts as last + 10) and
// never pass the total. A total of 0 shows 0.
int DownloadBytesToBar(int64_t bytes, int64_t total, int ratio, int64_t& last);

// The installer's own progress (percent) on the bar: ratio..100.
int InstallPercentToBar(int installPercent, int ratio);

// The number at the start of the progress file's first bytes, as the C
// runtime's decimal conversion reads it (0 when there is none), held to
// 0..100.
int ParseProgressText(const std::string& text);

// " /verysilent /zelvane_down /wait_run /path="<dir>" /progress="<file>"";
// empty when a path holds a double quote or a control character, which no
// folder name may contain and which would break the quoting.
std::wstring BuildSilentCommandLine(const std::wstring& installDir, const std::wstring& progressFile);

// The product installer's exit code means success: 0, 3010 (success, a
// restart is required) and 1641 (success, a restart has been started).
bool IsInstallerSuccess(uint32_t exitCode);

// An installer kept from an earlier attempt in this run (it passed the checks
// before it ran, and they run again before it runs again) is used instead of
// a new download when it has the size the server announces now.
bool IsKeptInstallerUsable(int64_t keptSize, int64_t announcedSize);

// An absolute http:// or https:// address with a host.
bool IsWebAddress(const std::wstring& url);

// The first bytes of a Windows executable: "MZ" and, at the offset it names,
// the "PE\0\0" signature.
bool HasPeHeader(const std::string& head);
// Bytes of a file's start that HasPeHeader needs at most.
constexpr std::size_t kPeHeadBytes = 4096;

// The installation folder with exactly one trailing "\\".
std::wstring WithTrailingBackslash(const std::wstring& path);

// The redirect probe of the extended download address (`extended`, empty when
// there is none): it answers true with `target` set to the redirect's target,
// or true with `target` untouched when no response came; false otherwise.
using RedirectProbe = std::function<bool(const std::wstring& url, std::wstring& target)>;
// The address to download: the redirect's target; the extended address itself
// when the probe got no response; `current` for any other answer.
// `answered` (if given) tells whether the probe gave the address.
std::wstring DownloadUrlAfterProbe(const std::wstring& current, const std::wstring& extended,
                                   const RedirectProbe& probe, bool* answered = nullptr);

// The free space an installer of `size` bytes needs, in MiB: three times its
// size on the installation folder's volume (download, unpacking, product),
// and the bytes still to come (size less the `kept` bytes an earlier attempt
// left) on the data folder's volume, where it is downloaded. 0 when both
// volumes have enough, else the need of the first that lacks it.
int64_t MissingSpaceMiB(int64_t size, int64_t kept, int64_t installFreeMiB, int64_t dataFreeMiB);

// Whole MiB that `bytes` take, rounded up.
int64_t MiBRoundedUp(int64_t bytes);
