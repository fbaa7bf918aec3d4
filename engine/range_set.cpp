#include "engine/range_set.h"

#include <algorithm>

namespace engine {

void range_set::reset(int64_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  size_ = size;
  intervals_.clear();
  dirty_ = false;
}

bool range_set::add(int64_t first, int64_t end) {
  std::lock_guard<std::mutex> guard(lock_);
  if (first < 0 || first >= end || end > size_) return false;
  auto& slot = intervals_[first];
  slot = std::max(slot, end);
  dirty_ = true;
  // Merge at once: the sets are walked on every allocation and poll.
  coalesce_locked();
  return true;
}

void range_set::coalesce_locked() {
  if (!dirty_) return;
  std::map<int64_t, int64_t> merged;
  for (const auto& iv : intervals_) {
    if (!merged.empty()) {
      auto last = std::prev(merged.end());
      if (iv.first <= last->second) {
        last->second = std::max(last->second, iv.second);
        continue;
      }
    }
    merged.emplace(iv.first, iv.second);
  }
  intervals_.swap(merged);
  dirty_ = false;
}

void range_set::remove(int64_t first, int64_t end) {
  std::lock_guard<std::mutex> guard(lock_);
  coalesce_locked();
  if (first >= end) return;
  std::map<int64_t, int64_t> kept;
  for (const auto& iv : intervals_) {
    if (iv.second <= first || iv.first >= end) {
      kept.emplace(iv.first, iv.second);
      continue;
    }
    if (iv.first < first) kept.emplace(iv.first, first);
    if (iv.second > end) kept.emplace(end, iv.second);
  }
  intervals_.swap(kept);
}

std::vector<std::pair<int64_t, int64_t>> range_set::gaps() {
  std::lock_guard<std::mutex> guard(lock_);
  coalesce_locked();
  std::vector<std::pair<int64_t, int64_t>> out;
  int64_t pos = 0;
  for (const auto& iv : intervals_) {
    if (iv.first > pos) out.emplace_back(pos, iv.first);
    pos = std::max(pos, iv.second);
  }
  if (pos < size_) out.emplace_back(pos, size_);
  return out;
}

bool range_set::first_gap(int64_t from, int64_t& first, int64_t& end) {
  auto all = gaps();
  if (all.empty()) return false;
  for (const auto& g : all) {
    if (g.first > from || (g.first <= from && from < g.second)) {
      first = std::max(g.first, from);
      end = g.second;
      return true;
    }
  }
  first = all.front().first;
  end = all.front().second;
  return true;
}

bool range_set::is_full() {
  std::lock_guard<std::mutex> guard(lock_);
  coalesce_locked();
  return intervals_.size() == 1 && intervals_.begin()->first == 0 && intervals_.begin()->second == size_;
}

int64_t range_set::total() {
  std::lock_guard<std::mutex> guard(lock_);
  coalesce_locked();
  int64_t sum = 0;
  for (const auto& iv : intervals_) sum += iv.second - iv.first;
  return sum;
}

int64_t range_set::size() {
  std::lock_guard<std::mutex> guard(lock_);
  return size_;
}

int64_t range_set::highest_end() {
  std::lock_guard<std::mutex> guard(lock_);
  return intervals_.empty() ? 0 : std::prev(intervals_.end())->second;
}

std::vector<uint8_t> range_set::to_bitfield(int64_t piece_size, int64_t& bit_count) {
  std::lock_guard<std::mutex> guard(lock_);
  coalesce_locked();
  bit_count = piece_size > 0 ? (size_ + piece_size - 1) / piece_size : 0;
  std::vector<uint8_t> bits(static_cast<std::size_t>((bit_count + 7) / 8), 0);
  for (const auto& iv : intervals_) {
    // Pieces wholly inside [first, end).
    int64_t a = (iv.first + piece_size - 1) / piece_size;
    for (int64_t i = a; i < bit_count; ++i) {
      int64_t piece_end = std::min((i + 1) * piece_size, size_);
      if (piece_end > iv.second) break;
      bits[static_cast<std::size_t>(i / 8)] |= static_cast<uint8_t>(0x80u >> (i % 8));
    }
  }
  return bits;
}

void range_set::from_bitfield(const std::vector<uint8_t>& bits, int64_t bit_count, int64_t piece_size) {
  std::lock_guard<std::mutex> guard(lock_);
  intervals_.clear();
  const auto bit = [&](int64_t i) {
    return i < bit_count && static_cast<std::size_t>(i / 8) < bits.size() &&
           (bits[static_cast<std::size_t>(i / 8)] & (0x80u >> (i % 8))) != 0;
  };
  for (int64_t i = 0; i < bit_count;) {
    if (!bit(i)) {
      ++i;
      continue;
    }
    int64_t b = i;
    while (bit(b + 1)) ++b;
    int64_t first = i * piece_size, end = std::min((b + 1) * piece_size, size_);
    if (first < end) intervals_[first] = end;
    i = b + 1;
  }
  dirty_ = true;
  coalesce_locked();
}

}  // namespace engine
