// Builds ZIP-style entry streams for tests, including damaged ones: every
// header field can be overridden. Header-only and portable, so host tests and
// Windows tests share it. Needs zlib.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes_builder.h"

namespace tvtest {

// Raw deflate (no zlib or gzip wrapper) of `data` at `level`.
inline std::string RawDeflate(const std::string& data, int level = 6) {
  z_stream s = {};
  deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, data.size()), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

inline uint32_t Crc32(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

struct ZipEntry {
  std::string name;
  std::string data;            // the unpacked content
  bool deflate = false;        // method 8 instead of 0
  std::string extra;           // extra field bytes
  std::optional<uint32_t> crc, packedSize, size;  // header overrides
  std::optional<uint16_t> flags, method;
  std::optional<std::string> packed;              // data bytes as stored, overriding
};

inline std::string LocalEntry(const ZipEntry& e) {
  const std::string packed = e.packed ? *e.packed : (e.deflate ? RawDeflate(e.data) : e.data);
  std::string out = "PK\x03\x04";
  PutLe(out, 20, 2);                           // version needed
  PutLe(out, e.flags.value_or(0), 2);          // general purpose flags
  PutLe(out, e.method.value_or(e.deflate ? 8 : 0), 2);
  PutLe(out, 0, 2);                            // time
  PutLe(out, 0x21, 2);                         // date
  PutLe(out, e.crc ? *e.crc : Crc32(e.data), 4);
  PutLe(out, e.packedSize ? *e.packedSize : static_cast<uint32_t>(packed.size()), 4);
  PutLe(out, e.size ? *e.size : static_cast<uint32_t>(e.data.size()), 4);
  PutLe(out, static_cast<uint32_t>(e.name.size()), 2);
  PutLe(out, static_cast<uint32_t>(e.extra.size()), 2);
  return out + e.name + e.extra + packed;
}

// 30 bytes that begin like a ZIP central directory: they end an entry stream.
inline std::string StreamEnd() {
  std::string out = "PK\x01\x02";
  out.append(26, '\0');
  return out;
}

// The entries one after another, then (when `terminated`) StreamEnd().
inline std::string ZipStream(const std::vector<ZipEntry>& entries, bool terminated = true) {
  std::string out;
  for (const auto& e : entries) out += LocalEntry(e);
  if (terminated) out += StreamEnd();
  return out;
}

}  // namespace tvtest
