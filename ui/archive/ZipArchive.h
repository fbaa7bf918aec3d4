// Reader for ZIP archives held in memory or read from a file: the central
// directory, stored and deflated entries (zlib raw inflate), CRC-32 checked.
// Every size read from the archive is checked against the buffer and against
// a cap before anything is allocated, so a corrupt or hostile archive ends in
// a failure with a message, never in a crash or an unbounded allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace SkinUI {

struct ZipEntry {
  std::string name;            // as stored, "/" separated
  uint16_t flags = 0;
  uint16_t method = 0;         // 0 stored, 8 deflated
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;           // uncompressed size as declared
  uint64_t localHeaderOffset = 0;

  bool IsFolder() const { return !name.empty() && name.back() == '/'; }
};

class CZipArchive {
 public:
  // Largest entry that Extract unpacks unless told otherwise.
  static constexpr std::size_t kDefaultMaxEntrySize = 64u << 20;
  // Largest archive file OpenFile reads.
  static constexpr std::size_t kMaxArchiveFileSize = 256u << 20;

  CZipArchive() = default;
  CZipArchive(const CZipArchive&) = delete;
  CZipArchive& operator=(const CZipArchive&) = delete;

  // Opens an archive over a buffer the caller keeps alive while it is open.
  bool Open(const void* data, std::size_t size);
  // Reads a whole archive file and opens it over the copy it keeps.
  bool OpenFile(const std::wstring& path);
  void Close();
  bool IsOpen() const { return data_ != nullptr; }

  std::size_t GetEntryCount() const { return entries_.size(); }
  const ZipEntry& GetEntry(std::size_t index) const { return entries_[index]; }
  // Index of the entry with that name, or -1. With ignoreCase, ASCII letters
  // compare without regard to case.
  int FindEntry(const std::string& name, bool ignoreCase) const;

  // Unpacks one entry into `out`. Fails (with LastError set) when the entry
  // is encrypted, uses another method, lies outside the archive, declares a
  // size above maxSize, inflates to a size other than the declared one or
  // has a wrong CRC-32. `out` holds the whole entry only on success.
  bool Extract(std::size_t index, std::string& out,
               std::size_t maxSize = kDefaultMaxEntrySize) const;

  const std::string& LastError() const { return error_; }

 private:
  bool Fail(const std::string& message) const;
  bool ReadCentralDirectory();

  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
  std::string owned_;
  std::vector<ZipEntry> entries_;
  mutable std::string error_;
};

}  // namespace SkinUI
