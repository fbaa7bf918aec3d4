// What keeps a download on disk: the storage that writes received bytes at
// their offsets into the data file (P.tmp), and the resume meta file (P.cfg),
// a bencoded dictionary with the file size, the piece size, the piece count,
// the piece bitfield and the final address, and the server's validator of
// the file under "etag" or "last_modified" when it gave one.
//
// The meta file is not trusted: it is accepted only when it decodes within
// bounds, has the five keys with their types, agrees with itself and with the
// server's size, and the data file is long enough for every piece it calls
// complete (see check_resume_meta). Anything else means "start over".
#pragma once

#include "engine/random_file.h"
#include "engine/validator.h"

#include <cstdint>
#include <string>
#include <system_error>

namespace engine {

class storage_interface {
 public:
  virtual ~storage_interface() = default;
  // Opens or creates the data file; existing content is kept.
  virtual void open(const std::wstring& path, std::error_code& ec) = 0;
  virtual void close() = 0;
  // Writes all `size` bytes at `offset` (-1: at the current position).
  // Returns size when every byte is on its way to the disk, -1 otherwise: a
  // caller counts the bytes as downloaded only on a complete write.
  virtual int64_t write(const char* data, int64_t offset, int size) = 0;
  virtual int64_t write(const char* data, int size) = 0;
  // Up to size bytes (fewer at the end of the file); -1 on error.
  virtual int64_t read(char* data, int64_t offset, int size) = 0;
  virtual int64_t read(char* data, int size) = 0;
  // True when nothing can be read at the current position.
  virtual bool at_end() = 0;
  // Cuts or extends the data file to `length` bytes: to 0 when a download
  // starts without valid resume state (no stale tail survives), to the file
  // size once every byte has arrived. Storages that cannot do it say so.
  virtual void set_length(int64_t length, std::error_code& ec) {
    ec = std::make_error_code(std::errc::function_not_supported);
  }
  // The error of the last failed operation (success after a good one).
  virtual std::error_code last_error() const { return {}; }
};

// The data file through one random_file.
class default_storge : public storage_interface {
 public:
  ~default_storge() override;
  void open(const std::wstring& path, std::error_code& ec) override;
  void close() override;
  int64_t write(const char* data, int64_t offset, int size) override;
  int64_t write(const char* data, int size) override;
  int64_t read(char* data, int64_t offset, int size) override;
  int64_t read(char* data, int size) override;
  bool at_end() override;
  void set_length(int64_t length, std::error_code& ec) override;
  std::error_code last_error() const override { return last_error_; }

 private:
  random_file file_;
  std::error_code last_error_;
};

// The content of the meta file.
struct resume_meta {
  std::string final_url;
  int64_t file_size = 0, piece_size = 0, piece_num = 0;
  std::string bitfield;  // ceil(piece_num / 8) bytes, most significant bit first
  // The file's validator when the server gave one; a record of an older
  // build has none.
  resource_validator validator;
};

// Largest meta file read back: a bitfield of 2^24 pieces plus the address.
constexpr int64_t kMaxResumeMetaBytes = 4 * 1024 * 1024;
constexpr int64_t kMaxResumePieceSize = int64_t(1) << 30;

// The canonical encoding; keys in ascending byte order: bitfield, etag (if
// any), file_size, final_url, last_modified (if any), piece_num, piece_size.
// A reader that knows only the five keys without the validator reads it as
// before.
std::string encode_resume_meta(const resume_meta& meta);
// Decodes and checks the record on its own: a dictionary with the five keys
// of the right types, file_size >= 0, 0 < piece_size <= 1 GiB,
// piece_num = ceil(file_size / piece_size), bitfield of ceil(piece_num / 8)
// bytes (bits past piece_num are cleared); "etag" (a strong tag) or else
// "last_modified" are optional strings without control characters. `why`
// (if given) says what failed.
bool decode_resume_meta(const std::string& bytes, resume_meta& out, std::string* why = nullptr);
// The checks against the download at hand: the server's size must equal
// the recorded one, and the data file (data_length bytes long) must reach the
// end of the last piece marked complete. Empty when it may be used, else why not.
std::string check_resume_meta(const resume_meta& meta, int64_t server_size, int64_t data_length);
// End of the last complete piece (0 when none is).
int64_t resume_meta_complete_end(const resume_meta& meta);

// The meta file as the engine holds it for a run: opened once, read back at
// the start, rewritten in place (and cut to its new length) on every save.
class resume_meta_file {
 public:
  enum load_result { kMeta_Rejected = -1, kMeta_Empty = 0, kMeta_Loaded = 1 };

  // With create false a missing file is an error instead of being made.
  bool open(const std::wstring& path, std::error_code& ec, bool create = true);
  void close() { file_.close(); }
  bool is_open() const { return file_.is_open(); }
  // Reads and decodes the whole file. kMeta_Empty for a new (empty) file;
  // kMeta_Rejected for a file that cannot be read, is too large, or does not
  // decode (why says so). The caller still applies check_resume_meta.
  load_result load(resume_meta& out, std::string* why = nullptr);
  // Writes the record at offset 0 and sets the file's length to it.
  bool save(const resume_meta& meta, std::error_code& ec);

 private:
  random_file file_;
};

// Reads a meta file without keeping it open (the driver looks at leftovers
// before a download starts). False when it cannot be opened, read or decoded.
bool read_resume_meta_file(const std::wstring& path, resume_meta& out, std::string* why = nullptr);

}  // namespace engine
