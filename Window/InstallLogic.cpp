#include "Window/InstallLogic.h"

#include <cstdlib>
#include <cstring>

int DownloadPercentToBar(int percent, int ratio) { return percent * ratio / 100; }

int DownloadBytesToBar(int64_t bytes, int64_t total, int ratio, int64_t& last) {
  if (bytes < last) bytes = last + 10;
  if (bytes > total) bytes = total;
  last = bytes;
  if (total <= 0) return 0;
  return static_cast<int>(static_cast<double>(bytes) / static_cast<double>(total) * ratio);
}

int InstallPercentToBar(int installPercent, int ratio) {
  return ratio + (100 - ratio) * installPercent / 100;
}

int ParseProgressText(const std::string& text) {
  // strtol stops at the first non-digit; an out-of-range or absurd number
  // must not move the bar outside its scale.
  std::string head = text.substr(0, 10);
  long value = std::strtol(head.c_str(), nullptr, 10);
  if (value < 0) return 0;
  if (value > 100) return 100;
  return static_cast<int>(value);
}

static bool IsQuotable(const std::wstring& path) {
  for (wchar_t c : path)
    if (c == L'"' || c < 0x20) return false;
  return !path.empty();
}

std::wstring BuildSilentCommandLine(const std::wstring& installDir, const std::wstring& progressFile) {
  if (!IsQuotable(installDir) || !IsQuotable(progressFile)) return std::wstring();
  return L" /verysilent /zelvane_down /wait_run /path=\"" + installDir + L"\" /progress=\"" +
         progressFile + L"\"";
}

bool IsInstallerSuccess(uint32_t exitCode) {
  return exitCode == 0 || exitCode == 3010 || exitCode == 1641;
}

bool IsKeptInstallerUsable(int64_t keptSize, int64_t announcedSize) {
  return keptSize > 0 && keptSize == announcedSize;
}

bool IsWebAddress(const std::wstring& url) {
  std::size_t hostStart;
  if (url.compare(0, 7, L"http://") == 0) {
    hostStart = 7;
  } else if (url.compare(0, 8, L"https://") == 0) {
    hostStart = 8;
  } else {
    return false;
  }
  if (url.size() <= hostStart || url[hostStart] == L'/' || url[hostStart] == L':') return false;
  for (wchar_t c : url)
    if (c <= 0x20 || c == 0x7F || c == L'"' || c == L'<' || c == L'>' || c == L'\\') return false;
  return true;
}

bool HasPeHeader(const std::string& head) {
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return false;
  uint32_t offset = 0;
  std::memcpy(&offset, head.data() + 0x3C, 4);  // e_lfanew, little-endian
  if (offset > head.size() - 4) return false;
  return std::memcmp(head.data() + offset, "PE\0\0", 4) == 0;
}

std::wstring WithTrailingBackslash(const std::wstring& path) {
  if (!path.empty() && path.back() == L'\\') return path;
  return path + L"\\";
}

std::wstring DownloadUrlAfterProbe(const std::wstring& current, const std::wstring& extended,
                                   const RedirectProbe& probe, bool* answered) {
  bool given = false;
  std::wstring target = extended;
  if (!extended.empty() && probe) given = probe(extended, target);
  if (answered) *answered = given;
  return given ? target : current;
}

int64_t MiBRoundedUp(int64_t bytes) { return bytes <= 0 ? 0 : (bytes + (1 << 20) - 1) >> 20; }

int64_t MissingSpaceMiB(int64_t size, int64_t kept, int64_t installFreeMiB, int64_t dataFreeMiB) {
  int64_t installNeed = 3 * (size >> 20);
  if (installFreeMiB < installNeed) return installNeed;
  int64_t dataNeed = MiBRoundedUp(size - kept);
  if (dataFreeMiB < dataNeed) return dataNeed;
  return 0;
}
