// Process-wide registration of where skin files come from, and the lookup of
// a skin file (layout or image) by name.
//
// With no archive registered a skin file is the resource folder followed by
// its name, read from disk. With an archive (a ZIP file under the resource
// folder, or "membuffer": one held in memory) the name is looked up in it,
// "\\" taken as "/" and letter case ignored, so "img\\browse-df.png" and
// "IMG/Browse-DF.png" find the same entry. Images not found that way are
// tried once more as a path on disk (absolute or relative to the current
// folder): the downloaded banner pictures are shown like that.
#pragma once

#include <cstddef>
#include <string>

namespace SkinUI {

class CZipArchive;

// Largest layout file accepted ("File too large" beyond it).
constexpr std::size_t kMaxLayoutFileSize = 4194304;
// Largest image file read.
constexpr std::size_t kMaxImageFileSize = 16u << 20;

// Stores the folder; a "\\" is appended when it does not end in "\\" or "/".
void SetResourceFolder(const std::wstring& path);
const std::wstring& GetResourceFolder();

// Registers an archive held in memory; the buffer must outlive the process's
// use of the skin. A second memory archive is ignored (the first stays).
void SetResourceArchive(const void* buffer, std::size_t length);
// Registers a ZIP file under the resource folder; with keepOpen it is opened
// once now, otherwise at each lookup. Unchanged settings change nothing.
void SetResourceArchive(const std::wstring& fileName, bool keepOpen);

// Empty (plain files), "membuffer", or the registered ZIP file name.
const std::wstring& GetResourceArchiveName();
bool IsArchiveKeptOpen();
// The archive opened and kept for lookups, or null.
const CZipArchive* GetArchiveHandle();

// Reads a layout file: fails with "File is empty" or "File too large" as well
// as the lookup's own messages ("Error opening file", "Could not read file",
// "Error opening zip file", "Could not find ziped file", "Could not unzip file").
bool LoadSkinFile(const std::wstring& name, std::string& bytes, std::wstring& error);

// Reads an image file: the lookup above, then the name as a path on disk.
bool LoadSkinImage(const std::wstring& name, std::string& bytes, std::wstring& error);

// Back to the initial state: no folder, no archive (for tests).
void ResetSkinResources();

}  // namespace SkinUI
