#include "engine/storage.h"

#include "engine/bencode.h"

#include <system_error>

namespace engine {

// ---------------------------------------------------------------- default_storge

default_storge::~default_storge() { close(); }

void default_storge::open(const std::wstring& path, std::error_code& ec) {
  file_.open(path, ec);
  last_error_ = ec;
}

void default_storge::close() { file_.close(); }

int64_t default_storge::write(const char* data, int64_t offset, int size) {
  int64_t n = file_.write(data, offset, size, last_error_);
  return n == size ? n : -1;
}

int64_t default_storge::write(const char* data, int size) { return write(data, -1, size); }

int64_t default_storge::read(char* data, int64_t offset, int size) {
  return file_.read(data, offset, size, last_error_);
}

int64_t default_storge::read(char* data, int size) { return read(data, -1, size); }

bool default_storge::at_end() {
  int64_t here = file_.position();
  char byte;
  int64_t n = file_.read(&byte, -1, 1, last_error_);
  file_.seek(here);
  return n <= 0;
}

void default_storge::set_length(int64_t length, std::error_code& ec) {
  file_.set_length(length, ec);
  last_error_ = ec;
}

// ---------------------------------------------------------------- meta record

std::string encode_resume_meta(const resume_meta& meta) {
  bencode::entry e;
  e["bitfield"] = meta.bitfield;
  e["file_size"] = meta.file_size;
  e["final_url"] = meta.final_url;
  e["piece_num"] = meta.piece_num;
  e["piece_size"] = meta.piece_size;
  if (!meta.validator.etag.empty()) e["etag"] = meta.validator.etag;
  if (!meta.validator.last_modified.empty()) e["last_modified"] = meta.validator.last_modified;
  return bencode::encode(e);
}

namespace {

bool fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

// Printable text without control characters (a header value's bytes).
bool header_safe(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

const bencode::entry* member(const bencode::entry& dict, const char* key, bencode::entry::kind_t kind) {
  const bencode::entry* e = dict.find(key);
  return e && e->kind() == kind ? e : nullptr;
}

}  // namespace

bool decode_resume_meta(const std::string& bytes, resume_meta& out, std::string* why) {
  bencode::entry root;
  std::string error;
  bencode::limits lim;
  lim.max_depth = 8;  // the record is one flat dictionary
  if (!bencode::decode(bytes.data(), bytes.size(), root, nullptr, &error, lim))
    return fail(why, "not bencoded: " + error);
  if (root.kind() != bencode::entry::dictionary_t) return fail(why, "not a dictionary");
  const auto* bitfield = member(root, "bitfield", bencode::entry::string_t);
  const auto* file_size = member(root, "file_size", bencode::entry::int_t);
  const auto* final_url = member(root, "final_url", bencode::entry::string_t);
  const auto* piece_num = member(root, "piece_num", bencode::entry::int_t);
  const auto* piece_size = member(root, "piece_size", bencode::entry::int_t);
  if (!bitfield || !file_size || !final_url || !piece_num || !piece_size)
    return fail(why, "a key is missing or has the wrong type");
  // The validator keys are optional: records of older builds lack them.
  const auto* etag = root.find("etag");
  const auto* last_modified = root.find("last_modified");
  if ((etag && etag->kind() != bencode::entry::string_t) ||
      (last_modified && last_modified->kind() != bencode::entry::string_t))
    return fail(why, "a validator key has the wrong type");
  resume_meta m;
  m.file_size = file_size->integer();
  m.piece_size = piece_size->integer();
  m.piece_num = piece_num->integer();
  m.final_url = final_url->string();
  m.bitfield = bitfield->string();
  if (etag) m.validator.etag = etag->string();
  if (last_modified) m.validator.last_modified = last_modified->string();
  // It goes back to the server as a header value: only what an answer's
  // headers could have given is taken.
  if (m.validator != validator_of(m.validator.etag, m.validator.last_modified) ||
      !header_safe(m.validator.etag) || !header_safe(m.validator.last_modified))
    return fail(why, "the validator is malformed");
  if (m.file_size < 0) return fail(why, "negative file size");
  if (m.piece_size <= 0 || m.piece_size > kMaxResumePieceSize) return fail(why, "piece size out of range");
  // ceil without overflow: file_size may be close to INT64_MAX.
  int64_t pieces = m.file_size / m.piece_size + (m.file_size % m.piece_size != 0 ? 1 : 0);
  if (m.piece_num != pieces) return fail(why, "piece count disagrees with the sizes");
  if (static_cast<int64_t>(m.bitfield.size()) != pieces / 8 + (pieces % 8 != 0 ? 1 : 0))
    return fail(why, "bitfield length disagrees with the piece count");
  if (pieces % 8 != 0) {
    // Bits past the last piece mean nothing; clear them.
    unsigned keep = static_cast<unsigned>(pieces % 8);
    m.bitfield.back() = static_cast<char>(static_cast<unsigned char>(m.bitfield.back()) & (0xff00u >> keep));
  }
  out = std::move(m);
  return true;
}

int64_t resume_meta_complete_end(const resume_meta& meta) {
  for (int64_t i = meta.piece_num - 1; i >= 0; --i) {
    auto byte = static_cast<unsigned char>(meta.bitfield[static_cast<std::size_t>(i / 8)]);
    if (byte & (0x80u >> (i % 8))) {
      int64_t end = (i + 1) * meta.piece_size;
      return end < meta.file_size ? end : meta.file_size;
    }
  }
  return 0;
}

std::string check_resume_meta(const resume_meta& meta, int64_t server_size, int64_t data_length) {
  if (meta.file_size != server_size)
    return "recorded size " + std::to_string(meta.file_size) + " differs from the server's " +
           std::to_string(server_size);
  int64_t needed = resume_meta_complete_end(meta);
  if (needed > 0 && data_length < needed)
    return "data file has " + std::to_string(data_length) + " bytes, the recorded pieces need " +
           std::to_string(needed);
  return {};
}

// ---------------------------------------------------------------- meta file

bool resume_meta_file::open(const std::wstring& path, std::error_code& ec, bool create) {
  return file_.open(path, ec, create);
}

resume_meta_file::load_result resume_meta_file::load(resume_meta& out, std::string* why) {
  std::error_code ec;
  int64_t size = file_.length(ec);
  if (ec) return fail(why, "cannot be measured: " + ec.message()), kMeta_Rejected;
  if (size == 0) return kMeta_Empty;
  if (size > kMaxResumeMetaBytes) return fail(why, "too large"), kMeta_Rejected;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  int64_t n = file_.read(&bytes[0], 0, size, ec);
  if (n != size) return fail(why, ec ? "cannot be read: " + ec.message() : "shorter than its size"), kMeta_Rejected;
  return decode_resume_meta(bytes, out, why) ? kMeta_Loaded : kMeta_Rejected;
}

bool resume_meta_file::save(const resume_meta& meta, std::error_code& ec) {
  std::string bytes = encode_resume_meta(meta);
  if (file_.write(bytes.data(), 0, static_cast<int64_t>(bytes.size()), ec) < 0) return false;
  // A shorter record than the last one leaves no stale tail behind it.
  return file_.set_length(static_cast<int64_t>(bytes.size()), ec);
}

bool read_resume_meta_file(const std::wstring& path, resume_meta& out, std::string* why) {
  resume_meta_file file;
  std::error_code ec;
  if (!file.open(path, ec, false)) return fail(why, "cannot be opened: " + ec.message());
  resume_meta m;
  if (file.load(m, why) != resume_meta_file::kMeta_Loaded) {
    if (why && why->empty()) *why = "empty";
    return false;
  }
  out = std::move(m);
  return true;
}

}  // namespace engine
