#include "engine/validator.h"

namespace engine {

namespace {

std::string trim(const std::string& s) {
  const char* blanks = " \t";
  auto first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// A strong tag is an opaque string in double quotes with no quote inside.
bool strong_etag(const std::string& tag) {
  return tag.size() >= 2 && tag.front() == '"' && tag.back() == '"' &&
         tag.find('"', 1) == tag.size() - 1;
}

}  // namespace

std::string resource_validator::describe() const {
  if (!etag.empty()) return "ETag " + etag;
  if (!last_modified.empty()) return "Last-Modified " + last_modified;
  return "no validator";
}

resource_validator validator_of(const std::string& etag, const std::string& last_modified) {
  resource_validator v;
  std::string tag = trim(etag);
  if (strong_etag(tag))
    v.etag = tag;
  else
    v.last_modified = trim(last_modified);
  return v;
}

std::string validator_mismatch(const resource_validator& stored, const resource_validator& served) {
  if (stored == served) return {};
  return "the file was recorded with " + stored.describe() + ", the server now sends " + served.describe();
}

}  // namespace engine
