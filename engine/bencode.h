// Bencoding of the resume meta file: integers, byte strings, lists and
// dictionaries. The reader is bounded (nesting depth, element count, the
// input's own length) because the file on disk is not trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace engine {
namespace bencode {

class entry {
 public:
  enum kind_t { undefined_t, int_t, string_t, list_t, dictionary_t };
  using list_type = std::vector<entry>;
  using dictionary_type = std::map<std::string, entry>;

  entry() = default;
  entry(int64_t v) : kind_(int_t), integer_(v) {}  // NOLINT: a value converts to its entry
  entry(std::string v) : kind_(string_t), string_(std::move(v)) {}
  entry(const char* v) : kind_(string_t), string_(v) {}
  static entry make_list() { return entry(list_t); }
  static entry make_dictionary() { return entry(dictionary_t); }

  kind_t kind() const { return kind_; }

  // Typed access. A value of another kind throws std::system_error with the
  // engine error 10 ("invalid type requested from entry").
  int64_t integer() const;
  const std::string& string() const;
  const list_type& list() const;
  const dictionary_type& dict() const;
  list_type& list();
  dictionary_type& dict();

  // Dictionary member; an undefined entry becomes an empty dictionary first.
  entry& operator[](const std::string& key);
  // Null when this is no dictionary or the key is missing.
  const entry* find(const std::string& key) const;

 private:
  explicit entry(kind_t k) : kind_(k) {}
  kind_t kind_ = undefined_t;
  int64_t integer_ = 0;
  std::string string_;
  list_type list_;
  dictionary_type dict_;
};

struct limits {
  int max_depth = 100;                 // levels of nested lists and dictionaries
  std::size_t max_elements = 1 << 16;  // every value counts, keys included
};

// Decodes one value from the start of [data, data + size). Bytes after it
// are ignored; `consumed` (if given) says where it ended. On failure the
// result is undefined and `error` (if given) says why. Dictionary keys must
// be unique; their order is not checked.
bool decode(const char* data, std::size_t size, entry& out, std::size_t* consumed = nullptr,
            std::string* error = nullptr, const limits& lim = limits());
bool decode(const std::string& data, entry& out, std::string* error = nullptr);

// Canonical form: dictionary keys in ascending bytewise order.
std::string encode(const entry& e);
void encode_to(const entry& e, std::string& out);

}  // namespace bencode
}  // namespace engine
