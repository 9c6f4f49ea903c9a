// A payload held in memory, read the way the launcher reads its own file: a
// ByteReader for the scan and the ZIP-style walk, and an ISeekInStream for
// the 7z reader. The tests and the fuzzers feed payloads to the launcher's
// portable core through them (the launcher reads its file through
// launcher/win/file_reader.h, tvpack through its own package readers).
// Nothing is copied: the bytes must outlive the reader.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "7zTypes.h"
#include "byte_reader.h"

// Reads `size` bytes at `data` from offset `start` on. Hands out at most
// `piece` bytes per Read and fails every read that would touch bytes from
// offset `failAt` on (both for tests of readers that come in parts or fail).
class MemoryByteReader : public ByteReader {
 public:
  MemoryByteReader(const uint8_t* data, size_t size, uint64_t start = 0, size_t piece = SIZE_MAX,
                   size_t failAt = SIZE_MAX)
      : data_(data), size_(size), position_(start), piece_(piece), failAt_(failAt) {}

  // Inline, like every member of the class: programs built with RTTI (the
  // tests) derive from it, and a class without a key function gets its type
  // information wherever it is used.
  bool Read(uint8_t* buffer, uint32_t size, uint32_t* got) override {
    const uint64_t left = position_ < size_ ? size_ - position_ : 0;
    uint64_t n = left < size ? left : size;
    if (n > piece_) n = piece_;
    if (n > 0 && position_ + n > failAt_) return false;
    if (n > 0) memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += n;
    *got = static_cast<uint32_t>(n);
    return true;
  }
  // Moving past the end succeeds; the next read then comes up short.
  bool Skip(uint32_t count) override {
    position_ += count;
    return true;
  }
  // Offset of the next byte from `data`.
  uint64_t position() const { return position_; }

 private:
  const uint8_t* data_;
  size_t size_;
  uint64_t position_;
  size_t piece_;
  size_t failAt_;
};

// A 7z archive inside `size` bytes at `data`, its signature at offset
// `start`. Positions are those of the whole buffer, like a file handle's on
// the launcher's file; a seek before `start` fails (SZ_ERROR_READ).
struct MemoryInStream {
  ISeekInStream vt;
  const uint8_t* data;
  size_t size;
  uint64_t start;
  uint64_t position;  // from `data`

  MemoryInStream(const uint8_t* bytes, size_t count, uint64_t from = 0)
      : vt{Read, Seek}, data(bytes), size(count), start(from), position(from) {}

 private:
  static MemoryInStream* Self(ISeekInStreamPtr p) {
    return Z7_CONTAINER_FROM_VTBL(p, MemoryInStream, vt);
  }
  static SRes Read(ISeekInStreamPtr p, void* buffer, size_t* size) {
    MemoryInStream* s = Self(p);
    const uint64_t left = s->position < s->size ? s->size - s->position : 0;
    if (*size > left) *size = static_cast<size_t>(left);
    if (*size) memcpy(buffer, s->data + s->position, *size);
    s->position += *size;
    return SZ_OK;
  }
  static SRes Seek(ISeekInStreamPtr p, Int64* pos, ESzSeek origin) {
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
};
