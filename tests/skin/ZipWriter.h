// A small ZIP writer for test archives: stored or deflated entries, with the
// option to lie in the headers (CRC, sizes) the way a corrupt or hostile
// archive does.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zvtest {

struct ZipFixtureEntry {
  std::string name;
  std::string data;
  bool deflate = true;
  // Overrides of what the headers declare (-1: the true value).
  int64_t declaredSize = -1;
  int64_t declaredCrc = -1;
};

inline std::string RawDeflate(const std::string& data) {
  z_stream s;
  std::memset(&s, 0, sizeof(s));
  deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, static_cast<uLong>(data.size())) + 16, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(&out[0]);
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

inline std::string MakeZip(const std::vector<ZipFixtureEntry>& entries) {
  auto put16 = [](std::string& o, uint32_t v) {
    o.push_back(static_cast<char>(v & 0xFF));
    o.push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  auto put32 = [&](std::string& o, uint32_t v) {
    put16(o, v & 0xFFFF);
    put16(o, v >> 16);
  };
  std::string body, directory;
  for (const ZipFixtureEntry& e : entries) {
    const std::string packed = e.deflate ? RawDeflate(e.data) : e.data;
    const uint32_t crc = e.declaredCrc >= 0
                             ? static_cast<uint32_t>(e.declaredCrc)
                             : static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                                           static_cast<uInt>(e.data.size())));
    const uint32_t size =
        e.declaredSize >= 0 ? static_cast<uint32_t>(e.declaredSize) : static_cast<uint32_t>(e.data.size());
    const uint32_t offset = static_cast<uint32_t>(body.size());
    const uint16_t method = e.deflate ? 8 : 0;
    put32(body, 0x04034b50); put16(body, 20); put16(body, 0); put16(body, method);
    put16(body, 0); put16(body, 0); put32(body, crc);
    put32(body, static_cast<uint32_t>(packed.size())); put32(body, size);
    put16(body, static_cast<uint32_t>(e.name.size())); put16(body, 0);
    body += e.name;
    body += packed;
    put32(directory, 0x02014b50); put16(directory, 20); put16(directory, 20); put16(directory, 0);
    put16(directory, method); put16(directory, 0); put16(directory, 0); put32(directory, crc);
    put32(directory, static_cast<uint32_t>(packed.size())); put32(directory, size);
    put16(directory, static_cast<uint32_t>(e.name.size())); put16(directory, 0); put16(directory, 0);
    put16(directory, 0); put16(directory, 0); put32(directory, 0); put32(directory, offset);
    directory += e.name;
  }
  std::string out = body + directory;
  put32(out, 0x06054b50); put16(out, 0); put16(out, 0);
  put16(out, static_cast<uint32_t>(entries.size())); put16(out, static_cast<uint32_t>(entries.size()));
  put32(out, static_cast<uint32_t>(directory.size())); put32(out, static_cast<uint32_t>(body.size()));
  put16(out, 0);
  return out;
}

}  // namespace zvtest
