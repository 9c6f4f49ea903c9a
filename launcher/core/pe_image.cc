#include "pe_image.h"

#include "le_bytes.h"

bool ImageEndFromHeaders(const uint8_t* head, size_t size, uint64_t* end) {
  constexpr size_t kFileHeaderSize = 20;
  constexpr size_t kSectionHeaderSize = 40;
  if (size < 64 || head[0] != 'M' || head[1] != 'Z') return false;
  const uint64_t pe = Le32(head + 0x3C);
  if (pe + 4 + kFileHeaderSize > size) return false;
  const uint8_t* signature = head + pe;
  if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0)
    return false;
  const uint32_t sections = Le16(signature + 4 + 2);
  const uint32_t optionalSize = Le16(signature + 4 + 16);
  const uint64_t table = pe + 4 + kFileHeaderSize + optionalSize;
  if (sections == 0 || table + sections * kSectionHeaderSize > size) return false;
  uint64_t last = 0;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint8_t* section = head + table + i * kSectionHeaderSize;
    const uint64_t rawEnd = static_cast<uint64_t>(Le32(section + 20)) + Le32(section + 16);
    if (rawEnd > last) last = rawEnd;
  }
  *end = last;
  return true;
}
