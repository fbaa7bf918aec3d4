// Any bytes as a resume meta file: a record that is accepted must be
// self-consistent and safe to turn into byte intervals.
#include "engine/range_set.h"
#include "engine/storage.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  engine::resume_meta m;
  std::string why;
  if (!engine::decode_resume_meta(bytes, m, &why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  if (m.piece_size <= 0 || m.file_size < 0) std::abort();
  if (m.piece_num != m.file_size / m.piece_size + (m.file_size % m.piece_size ? 1 : 0)) std::abort();
  if (static_cast<int64_t>(m.bitfield.size()) != (m.piece_num + 7) / 8) std::abort();
  int64_t end = engine::resume_meta_complete_end(m);
  if (end < 0 || end > m.file_size) std::abort();
  if (!engine::check_resume_meta(m, m.file_size, end).empty()) std::abort();

  // What the engine does with an accepted record.
  engine::range_set done;
  done.reset(m.file_size);
  done.from_bitfield(std::vector<uint8_t>(m.bitfield.begin(), m.bitfield.end()), m.piece_num, m.piece_size);
  if (done.total() > m.file_size || done.highest_end() != end) std::abort();
  int64_t bits = 0;
  auto back = done.to_bitfield(m.piece_size, bits);
  if (bits != m.piece_num || std::string(back.begin(), back.end()) != m.bitfield) std::abort();

  engine::resume_meta again;
  if (!engine::decode_resume_meta(engine::encode_resume_meta(m), again)) std::abort();
  if (again.bitfield != m.bitfield || again.final_url != m.final_url || again.validator != m.validator) std::abort();
  // The validator goes back to the server as a header value.
  for (unsigned char c : m.validator.if_range())
    if (c < 0x20 || c == 0x7f) std::abort();
  return 0;
}
