// Any bytes into the bencode reader: no crash, no runaway allocation, and
// whatever decodes re-encodes to a form that decodes to the same encoding.
#include "engine/bencode.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace engine::bencode;
  entry e;
  std::size_t used = 0;
  std::string why;
  if (!decode(reinterpret_cast<const char*>(data), size, e, &used, &why)) {
    if (why.empty() || e.kind() != entry::undefined_t) std::abort();
    return 0;
  }
  if (used == 0 || used > size) std::abort();
  std::string once = encode(e);
  entry again;
  if (!decode(once.data(), once.size(), again, &used, &why) || used != once.size()) std::abort();
  if (encode(again) != once) std::abort();
  return 0;
}
