#include "ui/archive/ZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "ui/archive/NativePath.h"

namespace SkinUI {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndOfDirectorySignature = 0x06054b50;
constexpr std::size_t kEndOfDirectorySize = 22;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kMaxCommentSize = 0xFFFF;

uint16_t Read16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool NamesEqual(const std::string& a, const std::string& b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  if (!ignoreCase) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// Raw inflate of `input` into exactly `expected` bytes. One spare byte of
// output room shows an entry that inflates beyond its declared size without
// ever producing more than that one byte.
bool InflateExactly(const unsigned char* input, std::size_t inputSize, std::size_t expected,
                    std::string& out, std::string& error) {
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
    error = "inflate initialisation failed";
    return false;
  }
  out.assign(expected + 1, '\0');
  stream.next_in = const_cast<Bytef*>(input);
  stream.avail_in = static_cast<uInt>(inputSize);
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(expected + 1);
  int status = Z_OK;
  while (status == Z_OK) {
    status = inflate(&stream, Z_NO_FLUSH);
    if (status == Z_OK && (stream.avail_out == 0 || stream.avail_in == 0)) break;
  }
  const std::size_t produced = stream.total_out;
  inflateEnd(&stream);
  if (produced > expected) {
    error = "entry inflates beyond its declared size";
  } else if (status != Z_STREAM_END) {
    error = (status == Z_DATA_ERROR) ? "corrupt deflate data" : "deflate data truncated";
  } else if (produced != expected) {
    error = "entry is shorter than its declared size";
  } else {
    out.resize(expected);
    return true;
  }
  out.clear();
  return false;
}

}  // namespace

bool CZipArchive::Fail(const std::string& message) const {
  error_ = message;
  return false;
}

bool CZipArchive::Open(const void* data, std::size_t size) {
  if (owned_.data() != data) owned_.clear();
  entries_.clear();
  data_ = static_cast<const unsigned char*>(data);
  size_ = size;
  if (!data_ || !ReadCentralDirectory()) {
    const std::string error = error_.empty() ? std::string("no archive data") : error_;
    Close();
    return Fail(error);
  }
  error_.clear();
  return true;
}

bool CZipArchive::OpenFile(const std::wstring& path) {
  Close();
  std::string bytes;
  if (!ReadWholeFile(path, bytes, kMaxArchiveFileSize)) return Fail("cannot read the archive file");
  owned_.swap(bytes);
  return Open(owned_.data(), owned_.size());
}

void CZipArchive::Close() {
  data_ = nullptr;
  size_ = 0;
  entries_.clear();
  owned_.clear();
}

bool CZipArchive::ReadCentralDirectory() {
  if (size_ < kEndOfDirectorySize) return Fail("archive too short");
  // The end record sits in the last 22 bytes plus at most one comment.
  std::size_t lowest = size_ > kEndOfDirectorySize + kMaxCommentSize
                           ? size_ - kEndOfDirectorySize - kMaxCommentSize
                           : 0;
  std::size_t end = size_ - kEndOfDirectorySize + 1;
  const unsigned char* record = nullptr;
  while (end-- > lowest) {
    const unsigned char* p = data_ + end;
    if (Read32(p) == kEndOfDirectorySignature &&
        end + kEndOfDirectorySize + Read16(p + 20) <= size_) {
      record = p;
      break;
    }
  }
  if (!record) return Fail("no end of central directory record");
  const uint16_t count = Read16(record + 10);
  const uint32_t directorySize = Read32(record + 12);
  const uint32_t directoryOffset = Read32(record + 16);
  if (count == 0xFFFF || directorySize == 0xFFFFFFFFu || directoryOffset == 0xFFFFFFFFu)
    return Fail("ZIP64 archives are not supported");
  const std::size_t recordOffset = static_cast<std::size_t>(record - data_);
  if (static_cast<uint64_t>(directoryOffset) + directorySize > recordOffset)
    return Fail("central directory lies outside the archive");

  const unsigned char* p = data_ + directoryOffset;
  const unsigned char* const directoryEnd = p + directorySize;
  entries_.reserve(count);
  for (uint16_t i = 0; i < count; ++i) {
    if (static_cast<std::size_t>(directoryEnd - p) < kCentralHeaderSize ||
        Read32(p) != kCentralHeaderSignature)
      return Fail("corrupt central directory");
    const std::size_t nameLength = Read16(p + 28);
    const std::size_t extraLength = Read16(p + 30);
    const std::size_t commentLength = Read16(p + 32);
    const std::size_t recordSize = kCentralHeaderSize + nameLength + extraLength + commentLength;
    if (static_cast<std::size_t>(directoryEnd - p) < recordSize)
      return Fail("corrupt central directory");
    ZipEntry entry;
    entry.flags = Read16(p + 8);
    entry.method = Read16(p + 10);
    entry.crc32 = Read32(p + 16);
    entry.compressedSize = Read32(p + 20);
    entry.size = Read32(p + 24);
    entry.localHeaderOffset = Read32(p + 42);
    entry.name.assign(reinterpret_cast<const char*>(p + kCentralHeaderSize), nameLength);
    if (entry.compressedSize == 0xFFFFFFFFu || entry.size == 0xFFFFFFFFu ||
        entry.localHeaderOffset == 0xFFFFFFFFu)
      return Fail("ZIP64 entries are not supported");
    entries_.push_back(std::move(entry));
    p += recordSize;
  }
  return true;
}

int CZipArchive::FindEntry(const std::string& name, bool ignoreCase) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (NamesEqual(entries_[i].name, name, ignoreCase)) return static_cast<int>(i);
  return -1;
}

bool CZipArchive::Extract(std::size_t index, std::string& out, std::size_t maxSize) const {
  out.clear();
  if (!IsOpen() || index >= entries_.size()) return Fail("no such entry");
  const ZipEntry& entry = entries_[index];
  if (entry.flags & 1) return Fail("encrypted entries are not supported");
  if (entry.method != 0 && entry.method != 8) return Fail("unsupported compression method");
  if (entry.size > maxSize) return Fail("entry larger than allowed");

  const uint64_t local = entry.localHeaderOffset;
  if (local + kLocalHeaderSize > size_ || Read32(data_ + local) != kLocalHeaderSignature)
    return Fail("corrupt local header");
  const uint64_t dataOffset =
      local + kLocalHeaderSize + Read16(data_ + local + 26) + Read16(data_ + local + 28);
  if (dataOffset + entry.compressedSize > size_) return Fail("entry data truncated");
  const unsigned char* input = data_ + dataOffset;
  const std::size_t inputSize = static_cast<std::size_t>(entry.compressedSize);
  const std::size_t expected = static_cast<std::size_t>(entry.size);

  if (entry.method == 0) {
    if (inputSize != expected) return Fail("stored entry size disagrees with its data");
    out.assign(reinterpret_cast<const char*>(input), inputSize);
  } else {
    std::string error;
    if (!InflateExactly(input, inputSize, expected, out, error)) return Fail(error);
  }
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(out.data()),
                          static_cast<uInt>(out.size()));
  if (static_cast<uint32_t>(crc) != entry.crc32) {
    out.clear();
    return Fail("CRC-32 mismatch");
  }
  error_.clear();
  return true;
}

}  // namespace SkinUI
