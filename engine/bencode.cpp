#include "engine/bencode.h"

#include "engine/error.h"

#include <system_error>

namespace engine {
namespace bencode {

namespace {

[[noreturn]] void wrong_type() { throw std::system_error(make_error_code(kErr_InvalidEntryType)); }

class reader {
 public:
  reader(const char* data, std::size_t size, const limits& lim) : p_(data), end_(data + size), lim_(lim) {}

  bool value(entry& out, int depth) {
    if (depth >= lim_.max_depth) return fail("nesting too deep");
    if (++elements_ > lim_.max_elements) return fail("too many elements");
    if (p_ == end_) return fail("data ends before a value");
    char c = *p_;
    if (c == 'i') {
      ++p_;
      int64_t v = 0;
      if (!integer('e', v)) return false;
      out = entry(v);
      return true;
    }
    if (c >= '0' && c <= '9') {
      std::string s;
      if (!string(s)) return false;
      out = entry(std::move(s));
      return true;
    }
    if (c == 'l') {
      ++p_;
      out = entry::make_list();
      auto& items = out.list();
      for (;;) {
        if (p_ == end_) return fail("data ends inside a list");
        if (*p_ == 'e') break;
        items.emplace_back();
        if (!value(items.back(), depth + 1)) return false;
      }
      ++p_;
      return true;
    }
    if (c == 'd') {
      ++p_;
      out = entry::make_dictionary();
      auto& members = out.dict();
      for (;;) {
        if (p_ == end_) return fail("data ends inside a dictionary");
        if (*p_ == 'e') break;
        if (++elements_ > lim_.max_elements) return fail("too many elements");
        std::string key;
        if (*p_ < '0' || *p_ > '9') return fail("dictionary key is not a string");
        if (!string(key)) return false;
        entry v;
        if (!value(v, depth + 1)) return false;
        if (!members.emplace(std::move(key), std::move(v)).second) return fail("duplicate dictionary key");
      }
      ++p_;
      return true;
    }
    return fail("unknown value type");
  }

  std::size_t offset(const char* start) const { return static_cast<std::size_t>(p_ - start); }
  const std::string& error() const { return error_; }

 private:
  bool fail(const char* why) {
    if (error_.empty()) error_ = why;
    return false;
  }

  // Decimal digits with an optional "-", up to the terminator; rejects
  // overflow rather than wrapping.
  bool integer(char terminator, int64_t& v) {
    bool negative = false;
    if (p_ != end_ && *p_ == '-') {
      negative = true;
      ++p_;
    }
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    int digits = 0;
    while (p_ != end_ && *p_ >= '0' && *p_ <= '9') {
      uint64_t d = static_cast<uint64_t>(*p_ - '0');
      if (magnitude > (limit - d) / 10) return fail("integer out of range");
      magnitude = magnitude * 10 + d;
      ++digits;
      ++p_;
    }
    if (digits == 0) return fail("integer without digits");
    if (p_ == end_ || *p_ != terminator) return fail("integer not terminated");
    ++p_;
    v = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
  }

  // "<length>:<bytes>"; the length must fit in what is left of the input,
  // so no allocation is ever larger than the input itself.
  bool string(std::string& s) {
    int64_t n = 0;
    if (!integer(':', n)) return false;
    if (n < 0 || static_cast<uint64_t>(n) > static_cast<uint64_t>(end_ - p_)) return fail("string longer than the data");
    s.assign(p_, static_cast<std::size_t>(n));
    p_ += n;
    return true;
  }

  const char* p_;
  const char* end_;
  const limits& lim_;
  std::size_t elements_ = 0;
  std::string error_;
};

}  // namespace

int64_t entry::integer() const {
  if (kind_ != int_t) wrong_type();
  return integer_;
}

const std::string& entry::string() const {
  if (kind_ != string_t) wrong_type();
  return string_;
}

const entry::list_type& entry::list() const {
  if (kind_ != list_t) wrong_type();
  return list_;
}

const entry::dictionary_type& entry::dict() const {
  if (kind_ != dictionary_t) wrong_type();
  return dict_;
}

entry::list_type& entry::list() {
  if (kind_ != list_t) wrong_type();
  return list_;
}

entry::dictionary_type& entry::dict() {
  if (kind_ != dictionary_t) wrong_type();
  return dict_;
}

entry& entry::operator[](const std::string& key) {
  if (kind_ == undefined_t) kind_ = dictionary_t;
  return dict()[key];
}

const entry* entry::find(const std::string& key) const {
  if (kind_ != dictionary_t) return nullptr;
  auto it = dict_.find(key);
  return it == dict_.end() ? nullptr : &it->second;
}

bool decode(const char* data, std::size_t size, entry& out, std::size_t* consumed, std::string* error,
            const limits& lim) {
  reader r(data, size, lim);
  entry result;
  bool ok = r.value(result, 0);
  out = ok ? std::move(result) : entry();
  if (consumed) *consumed = ok ? r.offset(data) : 0;
  if (error) *error = ok ? std::string() : r.error();
  return ok;
}

bool decode(const std::string& data, entry& out, std::string* error) {
  return decode(data.data(), data.size(), out, nullptr, error);
}

void encode_to(const entry& e, std::string& out) {
  switch (e.kind()) {
    case entry::int_t:
      out += 'i';
      out += std::to_string(e.integer());
      out += 'e';
      break;
    case entry::string_t:
      out += std::to_string(e.string().size());
      out += ':';
      out += e.string();
      break;
    case entry::list_t:
      out += 'l';
      for (const auto& item : e.list()) encode_to(item, out);
      out += 'e';
      break;
    case entry::dictionary_t:
      out += 'd';
      for (const auto& kv : e.dict()) {  // std::map keeps bytewise ascending order
        out += std::to_string(kv.first.size());
        out += ':';
        out += kv.first;
        encode_to(kv.second, out);
      }
      out += 'e';
      break;
    case entry::undefined_t:
      break;
  }
}

std::string encode(const entry& e) {
  std::string out;
  encode_to(e, out);
  return out;
}

}  // namespace bencode
}  // namespace engine
