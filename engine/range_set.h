// A set of half-open byte intervals [first, end) within [0, size), with its
// own lock: the engine keeps one for the bytes handed out to connections and
// one for the bytes that have arrived, and turns the latter into the piece
// bitfield of the resume meta file.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace engine {

class range_set {
 public:
  void reset(int64_t size);
  // Accepts [first, end) only when 0 <= first < end <= size.
  bool add(int64_t first, int64_t end);
  // Takes [first, end) out of the set again (a range given back).
  void remove(int64_t first, int64_t end);
  // Complement within [0, size), in order.
  std::vector<std::pair<int64_t, int64_t>> gaps();
  // The first gap that starts after `from` or contains it (cut to start at
  // `from`), else the first gap of all. False when there is none.
  bool first_gap(int64_t from, int64_t& first, int64_t& end);
  bool is_full();
  // Bytes covered (after merging).
  int64_t total();
  int64_t size();
  // Largest end of any interval (0 when empty).
  int64_t highest_end();
  // One bit per piece (most significant bit first), set when the whole
  // piece is in the set; ceil(size / piece_size) bits in ceil(bits / 8) bytes.
  std::vector<uint8_t> to_bitfield(int64_t piece_size, int64_t& bit_count);
  void from_bitfield(const std::vector<uint8_t>& bits, int64_t bit_count, int64_t piece_size);

 private:
  void coalesce_locked();
  std::mutex lock_;
  int64_t size_ = 0;
  std::map<int64_t, int64_t> intervals_;
  bool dirty_ = false;
};

}  // namespace engine
