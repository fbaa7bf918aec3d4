#include "engine/http_message.h"

#include <algorithm>

namespace engine {

namespace {

bool is_ctl(unsigned char c) { return c < 0x20 || c == 0x7f; }

bool is_token_char(unsigned char c) {
  if (is_ctl(c) || c >= 0x80) return false;
  switch (c) {
    case ' ': case '^': case '`': case '{': case '|': case '}': case ':': return false;
    default: return true;
  }
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string to_lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool iequals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && to_lower(a) == to_lower(b);
}

bool request_opts::find(const std::string& name, std::string& value) const {
  for (const auto& item : items_) {
    if (iequals(item.first, name)) {
      value = item.second;
      return true;
    }
  }
  return false;
}

bool request_opts::remove(const std::string& name) {
  auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& i) { return i.first == name; });
  if (it == items_.end()) return false;
  items_.erase(it);
  return true;
}

void request_opts::set(const std::string& name, const std::string& value) {
  items_.erase(std::remove_if(items_.begin(), items_.end(), [&](const auto& i) { return iequals(i.first, name); }),
               items_.end());
  insert(name, value);
}

bool parse_status_line(const std::string& line, int& status) {
  std::size_t i = 0;
  const auto digits = [&]() {
    std::size_t start = i;
    while (i < line.size() && is_digit(line[i])) ++i;
    return i > start;
  };
  if (line.compare(0, 5, "HTTP/") != 0) return false;
  i = 5;
  if (!digits() || i >= line.size() || line[i++] != '.') return false;
  if (!digits() || i >= line.size() || line[i++] != ' ') return false;
  std::size_t code_start = i;
  if (!digits() || i - code_start != 3 || i >= line.size() || line[i++] != ' ') return false;
  for (; i < line.size(); ++i)
    if (is_ctl(static_cast<unsigned char>(line[i]))) return false;
  status = std::stoi(line.substr(code_start, 3));
  return true;
}

bool parse_header_block(const std::string& block, request_opts& out) {
  std::vector<std::pair<std::string, std::string>> headers;
  std::size_t pos = 0;
  while (pos < block.size()) {
    auto end = block.find("\r\n", pos);
    if (end == std::string::npos) end = block.size();
    std::string line = block.substr(pos, end - pos);
    pos = end + 2;
    if (line.empty()) return false;
    if (line[0] == ' ' || line[0] == '\t') {
      if (headers.empty()) return false;
      for (unsigned char c : line)
        if (c != '\t' && is_ctl(c)) return false;
      headers.back().second += " " + trim(line);
      continue;
    }
    std::size_t i = 0;
    while (i < line.size() && is_token_char(static_cast<unsigned char>(line[i]))) ++i;
    if (i == 0 || i >= line.size() || line[i] != ':') return false;
    std::string name = line.substr(0, i);
    std::string value = line.substr(i + 1);
    for (unsigned char c : value)
      if (c != '\t' && is_ctl(c)) return false;
    headers.emplace_back(name, trim(value));
  }
  for (auto& h : headers) out.insert(h.first, h.second);
  return true;
}

bool parse_decimal(const std::string& text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  int64_t v = 0;
  for (char c : text) {
    if (!is_digit(c)) return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

bool parse_content_range(const std::string& text, content_range& out) {
  if (text.compare(0, 6, "bytes ") != 0) return false;
  auto dash = text.find('-', 6);
  auto slash = text.find('/', 6);
  if (dash == std::string::npos || slash == std::string::npos || dash > slash) return false;
  content_range r;
  if (!parse_decimal(text.substr(6, dash - 6), r.first)) return false;
  if (!parse_decimal(text.substr(dash + 1, slash - dash - 1), r.last)) return false;
  std::string total = text.substr(slash + 1);
  if (total != "*" && !parse_decimal(total, r.total)) return false;
  if (r.last < r.first || (r.total >= 0 && r.last >= r.total)) return false;
  out = r;
  return true;
}

bool parse_chunk_size(const std::string& line, uint64_t& size) {
  std::string field = line.substr(0, line.find(';'));
  field = trim(field);
  if (field.empty() || field.size() > 15) return false;
  uint64_t v = 0;
  for (char c : field) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * 16 + static_cast<uint64_t>(d);
  }
  size = v;
  return true;
}

}  // namespace engine
