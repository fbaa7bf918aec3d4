// Any bytes as an address or as a Location against a fixed base: parsing
// and resolution never crash, and what parses prints back to itself.
#include "engine/url.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::error_code ec;
  engine::url u = engine::url::parse(text, ec);
  if (!ec) {
    engine::url again = engine::url::parse(u.text(), ec);
    if (ec || again.text() != u.text()) std::abort();
  } else if (!u.empty()) {
    std::abort();
  }
  engine::url base = engine::url::parse("https://user@host.test:8443/a/b/c?q=1#f", ec);
  engine::url r = engine::resolve_reference(base, text, ec);
  if (!ec) (void)r.text();
  (void)engine::escape_url_text(text);
  return 0;
}
