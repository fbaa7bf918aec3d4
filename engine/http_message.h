// Request option lists and the pure parsers of a response head: the status
// line, the header block, "Content-Range", decimal and chunk-size fields.
// Everything that reads text from a server is here, bounded, and free of I/O.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace engine {

// Limits on what a server can make us hold.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxChunkLine = 1024;

// An ordered list of (name, value) pairs. Names starting with "_" are
// instructions to the stream ("_request_method", "_http_version",
// "_request_body", "_url", "_path", "_status_code"), the rest are headers.
class request_opts {
 public:
  void insert(const std::string& name, const std::string& value) { items_.emplace_back(name, value); }
  // First entry whose name equals `name` ignoring ASCII case.
  bool find(const std::string& name, std::string& value) const;
  std::string get(const std::string& name) const {
    std::string v;
    find(name, v);
    return v;
  }
  // Erases the first entry whose name matches exactly.
  bool remove(const std::string& name);
  // Replaces every entry of that name (any case) by one entry.
  void set(const std::string& name, const std::string& value);
  void clear() { items_.clear(); }
  const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }

  bool fake_continue = false;

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

bool iequals(const std::string& a, const std::string& b);
std::string to_lower(std::string s);

// "HTTP/d.d ddd reason" (without the line end). Status in `status`.
bool parse_status_line(const std::string& line, int& status);

// Header lines "name: value" separated by "\r\n", folded continuation lines
// allowed, with no empty line inside. Appends to `out`. False when malformed.
bool parse_header_block(const std::string& block, request_opts& out);

// A non-negative decimal without sign or blanks that fits in int64.
bool parse_decimal(const std::string& text, int64_t& value);

struct content_range {
  int64_t first = -1, last = -1, total = -1;  // total -1 for "*"
};
// "bytes first-last/total" (total may be "*").
bool parse_content_range(const std::string& text, content_range& out);

// The size field of a chunk-size line (extensions after ";" ignored),
// without the line end. False when it is not hex or would exceed 2^60.
bool parse_chunk_size(const std::string& line, uint64_t& size);

}  // namespace engine
