// Any bytes as a response head: status line, header block and the fields
// the engine reads from it (Content-Length, Content-Range, chunk sizes).
#include "engine/http_message.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t eol = text.find("\r\n");
  std::string line = text.substr(0, eol);
  int status = -1;
  if (engine::parse_status_line(line, status) && (status < 0 || status > 999)) std::abort();

  engine::request_opts headers;
  if (eol != std::string::npos && engine::parse_header_block(text.substr(eol + 2), headers)) {
    for (const auto& kv : headers.items()) {
      int64_t n = 0;
      if (engine::iequals(kv.first, "Content-Length") && engine::parse_decimal(kv.second, n) && n < 0) std::abort();
      engine::content_range r;
      if (engine::iequals(kv.first, "Content-Range") && engine::parse_content_range(kv.second, r)) {
        if (r.first < 0 || r.last < r.first) std::abort();
        if (r.total != -1 && r.total <= r.last) std::abort();
      }
    }
  }
  uint64_t chunk = 0;
  if (engine::parse_chunk_size(line, chunk) && chunk > (uint64_t(1) << 60)) std::abort();
  return 0;
}
