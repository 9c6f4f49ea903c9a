// Little-endian fields of the formats the launcher reads (PE headers, ZIP
// local file headers).
#pragma once

#include <stdint.h>

inline uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
