// Unpacking a ZIP archive held in memory into a folder. The start-up sequence
// calls it on the settings archive (RT_RCDATA 105) with the data folder +
// "language\\" as target:
//
//   SkinUI::ExtractZipToFolder(resource.data(), resource.size(), dataDir + L"language\\");
//
// Entries are written only inside `folder`: names that are absolute, carry a
// drive letter or a ":", contain "." / ".." segments, begin with a separator,
// contain "\\" or characters Windows forbids, or name a device are refused
// with a log line. Every entry is inflated and CRC-checked in memory (with
// bounded sizes) before its file is written, and a file is replaced only by
// a complete new copy. Existing files of the same names are replaced.
#pragma once

#include <cstddef>
#include <string>

namespace SkinUI {

// Limits of one unpacking run.
struct ExtractLimits {
  std::size_t maxEntrySize = 64u << 20;
  std::size_t maxTotalSize = 256u << 20;
  std::size_t maxEntries = 4096;
};

// True when every entry was written; false (after logging the cause) when the
// archive could not be opened or any entry was refused or failed. The good
// entries of a partly bad archive are still written.
bool ExtractZipToFolder(const void* buffer, std::size_t length, const std::wstring& folder,
                        const ExtractLimits& limits = ExtractLimits());

// True when an entry name is safe to create below a folder. On false,
// `reason` says why.
bool IsSafeEntryName(const std::string& name, std::string& reason);

}  // namespace SkinUI
