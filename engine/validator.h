// The server's validator of a file: what tells one build of the file from
// another of the same size. A strong ETag when the server gives one (a weak
// "W/" tag cannot guard a byte range), otherwise the Last-Modified date.
// Kept in the resume meta file and sent back as "If-Range", so that bytes of
// two different builds never end up in one file.
#pragma once

#include <string>

namespace engine {

struct resource_validator {
  std::string etag;           // a strong entity tag, quotes included; empty when none
  std::string last_modified;  // the HTTP date, only when there is no strong tag

  bool empty() const { return etag.empty() && last_modified.empty(); }
  // The value of an "If-Range" header: the tag, else the date.
  const std::string& if_range() const { return etag.empty() ? last_modified : etag; }
  // For the log: ETag "..." / Last-Modified ... / no validator.
  std::string describe() const;
  bool operator==(const resource_validator& o) const { return etag == o.etag && last_modified == o.last_modified; }
  bool operator!=(const resource_validator& o) const { return !(*this == o); }
};

// The validator of an answer from its "ETag" and "Last-Modified" values
// (either may be empty). A weak or malformed tag is passed over.
resource_validator validator_of(const std::string& etag, const std::string& last_modified);

// Why a stored validator does not vouch for the server's current file, or
// empty when it does (both equal). A server that names no validator cannot
// vouch for anything: a stored one then counts as different.
std::string validator_mismatch(const resource_validator& stored, const resource_validator& served);

}  // namespace engine
