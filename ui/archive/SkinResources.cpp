#include "ui/archive/SkinResources.h"

#include <memory>
#include <mutex>

#include "log/Log.h"
#include "system/FileOps.h"
#include "system/SystemUtils.h"
#include "ui/archive/NativePath.h"
#include "ui/archive/ZipArchive.h"

namespace SkinUI {
namespace {

const wchar_t kMemoryArchiveName[] = L"membuffer";
constexpr std::size_t kMaxEntryNameLength = 256;

struct ResourceState {
  std::mutex lock;
  std::wstring folder;
  std::wstring archiveName;
  bool keepOpen = true;
  std::unique_ptr<CZipArchive> openArchive;
};

ResourceState& State() {
  static ResourceState state;
  return state;
}

// The archive entry name of a skin file name: ANSI text, "/" separated.
bool ToEntryName(const std::wstring& name, std::string& entry) {
  entry = UnicodeToAnsi(name);
  if (entry.size() >= kMaxEntryNameLength) return false;
  for (char& c : entry)
    if (c == '\\') c = '/';
  return true;
}

bool ReadFromArchive(const CZipArchive& archive, const std::wstring& name, std::size_t maxSize,
                     std::string& bytes, std::wstring& error) {
  std::string entryName;
  int index = ToEntryName(name, entryName) ? archive.FindEntry(entryName, true) : -1;
  if (index < 0) {
    error = L"Could not find ziped file";
    return false;
  }
  if (archive.GetEntry(index).size > maxSize) {
    error = L"File too large";
    return false;
  }
  if (!archive.Extract(static_cast<std::size_t>(index), bytes, maxSize)) {
    LOGA(kLog_Info, "skin entry \"%s\" not unpacked: %s", entryName.c_str(),
         archive.LastError().c_str());
    error = L"Could not unzip file";
    return false;
  }
  return true;
}

bool ReadPlainFile(const std::wstring& path, std::size_t maxSize, std::string& bytes,
                   std::wstring& error) {
  std::error_code ec;
  const std::wstring nativePath = ToNativePath(path);
  if (!IsRegularFile(nativePath, ec)) {
    error = L"Error opening file";
    return false;
  }
  if (FileSize(nativePath, ec) > maxSize) {
    error = L"File too large";
    return false;
  }
  if (!ReadWholeFile(path, bytes, maxSize)) {
    error = L"Could not read file";
    return false;
  }
  return true;
}

bool Lookup(const std::wstring& name, std::size_t maxSize, std::string& bytes,
            std::wstring& error) {
  bytes.clear();
  ResourceState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.archiveName.empty()) return ReadPlainFile(state.folder + name, maxSize, bytes, error);
  if (state.openArchive) return ReadFromArchive(*state.openArchive, name, maxSize, bytes, error);
  CZipArchive archive;
  if (state.archiveName == kMemoryArchiveName ||
      !archive.OpenFile(state.folder + state.archiveName)) {
    error = L"Error opening zip file";
    return false;
  }
  return ReadFromArchive(archive, name, maxSize, bytes, error);
}

}  // namespace

void SetResourceFolder(const std::wstring& path) {
  ResourceState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.folder = path;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') state.folder += L'\\';
}

const std::wstring& GetResourceFolder() { return State().folder; }

void SetResourceArchive(const void* buffer, std::size_t length) {
  ResourceState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.archiveName == kMemoryArchiveName) return;
  state.openArchive.reset();
  state.archiveName = kMemoryArchiveName;
  auto archive = std::make_unique<CZipArchive>();
  if (archive->Open(buffer, length))
    state.openArchive = std::move(archive);
  else
    LOGA(kLog_Info, "skin archive in memory not usable: %s", archive->LastError().c_str());
}

void SetResourceArchive(const std::wstring& fileName, bool keepOpen) {
  ResourceState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.archiveName == fileName && state.keepOpen == keepOpen) return;
  state.openArchive.reset();
  state.archiveName = fileName;
  state.keepOpen = keepOpen;
  if (!keepOpen || fileName.empty()) return;
  auto archive = std::make_unique<CZipArchive>();
  if (archive->OpenFile(state.folder + fileName))
    state.openArchive = std::move(archive);
  else
    LOGW(kLog_Info, L"skin archive %ls not usable", (state.folder + fileName).c_str());
}

const std::wstring& GetResourceArchiveName() { return State().archiveName; }
bool IsArchiveKeptOpen() { return State().keepOpen; }
const CZipArchive* GetArchiveHandle() { return State().openArchive.get(); }

bool LoadSkinFile(const std::wstring& name, std::string& bytes, std::wstring& error) {
  if (!Lookup(name, kMaxLayoutFileSize, bytes, error)) return false;
  if (bytes.empty()) {
    error = L"File is empty";
    return false;
  }
  return true;
}

bool LoadSkinImage(const std::wstring& name, std::string& bytes, std::wstring& error) {
  if (Lookup(name, kMaxImageFileSize, bytes, error) && !bytes.empty()) return true;
  std::wstring diskError;
  if (ReadPlainFile(name, kMaxImageFileSize, bytes, diskError) && !bytes.empty()) return true;
  if (error.empty()) error = diskError;
  return false;
}

void ResetSkinResources() {
  ResourceState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.folder.clear();
  state.archiveName.clear();
  state.keepOpen = true;
  state.openArchive.reset();
}

}  // namespace SkinUI
