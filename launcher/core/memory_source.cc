#include "memory_source.h"

#include <string.h>

namespace {

MemoryInStream* Self(ISeekInStreamPtr p) { return Z7_CONTAINER_FROM_VTBL(p, MemoryInStream, vt); }

SRes MemoryRead(ISeekInStreamPtr p, void* buffer, size_t* size) {
  MemoryInStream* s = Self(p);
  const uint64_t left = s->position < s->size ? s->size - s->position : 0;
  if (*size > left) *size = static_cast<size_t>(left);
  if (*size) memcpy(buffer, s->data + s->position, *size);
  s->position += *size;
  return SZ_OK;
}

SRes MemorySeek(ISeekInStreamPtr p, Int64* pos, ESzSeek origin) {
  MemoryInStream* s = Self(p);
  Int64 base = 0;
  if (origin == SZ_SEEK_CUR) base = static_cast<Int64>(s->position);
  if (origin == SZ_SEEK_END) base = static_cast<Int64>(s->size);
  const Int64 to = base + *pos;
  if (to < static_cast<Int64>(s->start)) return SZ_ERROR_READ;
  s->position = static_cast<uint64_t>(to);
  *pos = to;
  return SZ_OK;
}

}  // namespace

MemoryInStream::MemoryInStream(const uint8_t* bytes, size_t count, uint64_t from)
    : vt{MemoryRead, MemorySeek}, data(bytes), size(count), start(from), position(from) {}
