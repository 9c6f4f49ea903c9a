// A 7z archive in memory and a sink that keeps what comes out: the host
// tests' and the fuzzer's stand-ins for the launcher's file and folder.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include <zlib.h>

#include "7zTypes.h"
#include "seven_zip_core.h"

// A 7z archive of `packed` (the packed streams) and the plain `header` that
// follows them, behind a signature header with both CRCs right.
inline std::string SevenZipArchive(const std::string& packed, const std::string& header) {
  auto le = [](std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  auto crc = [](const std::string& s, size_t from, size_t n) {
    return crc32(0, reinterpret_cast<const Bytef*>(s.data()) + from, static_cast<uInt>(n));
  };
  std::string next;
  le(next, packed.size(), 8);
  le(next, header.size(), 8);
  le(next, crc(header, 0, header.size()), 4);
  std::string out("7z\xBC\xAF\x27\x1C\x00\x04", 8);
  le(out, crc(next, 0, next.size()), 4);
  return out + next + packed + header;
}

// An ISeekInStream over `size` bytes at `data` (not copied), at position 0.
struct MemoryArchive {
  ISeekInStream vt{&Read, &Seek};
  const uint8_t* data;
  size_t size;
  size_t position = 0;

  MemoryArchive(const uint8_t* d, size_t n) : data(d), size(n) {}

  static MemoryArchive* Self(ISeekInStreamPtr p) {
    return const_cast<MemoryArchive*>(reinterpret_cast<const MemoryArchive*>(p));
  }
  static SRes Read(ISeekInStreamPtr p, void* buf, size_t* size) {
    MemoryArchive* self = Self(p);
    const size_t left = self->position < self->size ? self->size - self->position : 0;
    if (*size > left) *size = left;
    if (*size) memcpy(buf, self->data + self->position, *size);
    self->position += *size;
    return SZ_OK;
  }
  static SRes Seek(ISeekInStreamPtr p, Int64* pos, ESzSeek origin) {
    MemoryArchive* self = Self(p);
    Int64 base = origin == SZ_SEEK_SET ? 0
                 : origin == SZ_SEEK_CUR ? static_cast<Int64>(self->position)
                                         : static_cast<Int64>(self->size);
    const Int64 target = base + *pos;
    if (target < 0) return SZ_ERROR_PARAM;
    self->position = static_cast<size_t>(target);
    *pos = target;
    return SZ_OK;
  }
};

// Keeps every file by its name (narrowed to UTF-8 for ASCII names; other
// units as "?"), in order; refuses the file after `failAfter` accepted ones.
struct MemorySink final : SevenZipSink {
  std::map<std::string, std::string> files;
  std::vector<std::string> order;
  size_t failAfter = SIZE_MAX;

  bool WriteFile(const wchar_t* name, size_t nameLength, const uint8_t* data,
                 size_t size) override {
    std::string narrow;
    for (size_t i = 0; i + 1 < nameLength; ++i)
      narrow += name[i] < 0x80 ? static_cast<char>(name[i]) : '?';
    if (name[nameLength - 1] != 0) __builtin_trap();
    order.push_back(narrow);
    if (order.size() > failAfter) return false;
    files[narrow] = size ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    return true;
  }
};
