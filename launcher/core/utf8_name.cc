#include "utf8_name.h"

size_t Utf8Sequence(const uint8_t* bytes, size_t size, uint32_t* c) {
  if (size == 0) return 0;
  const uint8_t lead = bytes[0];
  size_t extra = 0;
  uint32_t minimum = 0;
  uint32_t value = 0;
  if (lead < 0x80) {
    *c = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    value = lead & 0x1F, extra = 1, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    value = lead & 0x0F, extra = 2, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    value = lead & 0x07, extra = 3, minimum = 0x10000;
  } else {
    return 0;
  }
  if (extra >= size) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    if ((bytes[k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (bytes[k] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *c = value;
  return extra + 1;
}

namespace {

uint32_t Decode(const uint8_t* bytes, uint32_t size, wchar_t* name, uint32_t capacity,
                bool strict) {
  uint32_t out = 0;
  for (uint32_t i = 0; i < size;) {
    uint32_t c = 0;
    size_t length = Utf8Sequence(bytes + i, size - i, &c);
    if (length == 0) {
      if (strict) return 0;
      c = 0xFFFD;
      length = 1;
    }
    if (c >= 0x10000) {
      if (capacity - out < 2) return 0;
      c -= 0x10000;
      name[out++] = static_cast<wchar_t>(0xD800 + (c >> 10));
      name[out++] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
      if (out >= capacity) return 0;
      name[out++] = static_cast<wchar_t>(c);
    }
    i += static_cast<uint32_t>(length);
  }
  return out;
}

}  // namespace

uint32_t DecodeUtf8Name(const uint8_t* bytes, uint32_t size, wchar_t* name, uint32_t capacity) {
  return Decode(bytes, size, name, capacity, false);
}

uint32_t DecodeUtf8NameStrict(const uint8_t* bytes, uint32_t size, wchar_t* name,
                              uint32_t capacity) {
  return Decode(bytes, size, name, capacity, true);
}
