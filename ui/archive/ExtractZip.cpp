#include "ui/archive/ExtractZip.h"

#include <cctype>
#include <system_error>
#include <vector>

#include "log/Log.h"
#include "system/FileOps.h"
#include "system/Strings.h"
#include "ui/archive/NativePath.h"
#include "ui/archive/ZipArchive.h"

namespace SkinUI {
namespace {

std::vector<std::string> SplitSegments(const std::string& name) {
  std::vector<std::string> segments;
  std::string current;
  for (char c : name) {
    if (c == '/') {
      segments.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  segments.push_back(current);
  return segments;
}

bool IsDeviceName(const std::string& segment) {
  std::string base = segment.substr(0, segment.find('.'));
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (base == device) return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '0' && base[3] <= '9';
}

}  // namespace

bool IsSafeEntryName(const std::string& name, std::string& reason) {
  if (name.empty()) {
    reason = "empty name";
    return false;
  }
  if (name[0] == '/' || name[0] == '\\') {
    reason = "absolute path";
    return false;
  }
  for (unsigned char c : name) {
    if (c == '\\') {
      reason = "backslash in name";
      return false;
    }
    if (c == ':') {
      reason = "drive letter or stream name";
      return false;
    }
    if (c < 32 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
      reason = "character not allowed in file names";
      return false;
    }
  }
  std::vector<std::string> segments = SplitSegments(name);
  if (segments.back().empty()) segments.pop_back();  // folder entry "a/b/"
  for (const std::string& segment : segments) {
    if (segment.empty()) {
      reason = "empty path segment";
      return false;
    }
    if (segment == "." || segment == "..") {
      reason = "relative segment";
      return false;
    }
    if (segment.back() == '.' || segment.back() == ' ') {
      reason = "segment ends in a dot or blank";
      return false;
    }
    if (IsDeviceName(segment)) {
      reason = "device name";
      return false;
    }
  }
  return true;
}

bool ExtractZipToFolder(const void* buffer, std::size_t length, const std::wstring& folder,
                        const ExtractLimits& limits) {
  const std::wstring root = ToNativePath(folder);
  std::error_code ec;
  CreateDirectories(root, ec);
  if (!IsDirectory(root, ec)) {
    LOGW(kLog_Info, L"ExtractZipToFolder: cannot create the folder %ls", folder.c_str());
    return false;
  }
  CZipArchive archive;
  if (!archive.Open(buffer, length)) {
    LOGA(kLog_Info, "ExtractZipToFolder: not a usable ZIP archive: %s", archive.LastError().c_str());
    return false;
  }
  if (archive.GetEntryCount() > limits.maxEntries) {
    LOGA(kLog_Info, "ExtractZipToFolder: too many entries (%u)",
           static_cast<unsigned>(archive.GetEntryCount()));
    return false;
  }
  bool allWritten = true;
  std::size_t total = 0;
  for (std::size_t i = 0; i < archive.GetEntryCount(); ++i) {
    const ZipEntry& entry = archive.GetEntry(i);
    std::string reason;
    if (!IsSafeEntryName(entry.name, reason)) {
      LOGA(kLog_Info, "ExtractZipToFolder: refused entry \"%s\": %s", entry.name.c_str(),
           reason.c_str());
      allWritten = false;
      continue;
    }
    std::wstring target = root;
    for (const std::string& segment : SplitSegments(entry.name))
      if (!segment.empty()) target = JoinPath(target, ToNativePath(Utf8ToWide(segment)));
    if (entry.IsFolder()) {
      CreateDirectories(target, ec);
      if (!IsDirectory(target, ec)) {
        LOGA(kLog_Info, "ExtractZipToFolder: cannot create folder \"%s\"", entry.name.c_str());
        allWritten = false;
      }
      continue;
    }
    if (entry.size > limits.maxTotalSize - total) {
      LOGA(kLog_Info, "ExtractZipToFolder: archive unpacks beyond %u bytes at \"%s\"",
           static_cast<unsigned>(limits.maxTotalSize), entry.name.c_str());
      allWritten = false;
      break;
    }
    std::string content;
    if (!archive.Extract(i, content, limits.maxEntrySize)) {
      LOGA(kLog_Info, "ExtractZipToFolder: entry \"%s\" not unpacked: %s", entry.name.c_str(),
           archive.LastError().c_str());
      allWritten = false;
      continue;
    }
    total += content.size();
    CreateDirectories(ParentPath(target), ec);
    std::string error;
    if (!WriteFileReplacing(target, content, error)) {
      LOGA(kLog_Info, "ExtractZipToFolder: entry \"%s\" not written: %s", entry.name.c_str(),
           error.c_str());
      allWritten = false;
    }
  }
  LOGA(kLog_Info, "ExtractZipToFolder: %u entries, %s",
       static_cast<unsigned>(archive.GetEntryCount()),
       allWritten ? "all written" : "some entries failed");
  return allWritten;
}

}  // namespace SkinUI
