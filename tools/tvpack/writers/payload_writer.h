// Writing a payload the launcher takes: the ZIP-style stream or a 7z archive.
// Both writers are deterministic: the same items, level and bytes give the
// same payload (no times, no host fields). Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include <string>
#include <vector>

#include "pack_rules.h"

// Where the payload goes. Offsets count from the payload's first byte.
class PayloadSink {
 public:
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Overwrites bytes written before (the 7z start header).
  virtual bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) = 0;
  // Everything before `offset` is written for good: no WriteAt will change
  // it. A sink may let a reader see those bytes while the rest is written.
  virtual void Settled(uint64_t offset) { (void)offset; }

 protected:
  ~PayloadSink() = default;
};

// Hands out the bytes of a file item (never called for folders). The 7z
// writer calls it from several threads at once.
class ItemSource {
 public:
  // Fills `*data` with the item's bytes; false with `*error` set when it
  // cannot be read or no longer has the size seen by the folder walk.
  virtual bool Read(const PackItem& item, std::string* data, std::string* error) = 0;
  // Up to `size` bytes of the item from `offset` on; `*got` is short only at
  // the item's end. False with `*error` set when it cannot be read. This one
  // reads the whole item and copies the part: enough for items in memory.
  virtual bool ReadPart(const PackItem& item, uint64_t offset, uint8_t* buffer, size_t size,
                        size_t* got, std::string* error) {
    std::string data;
    if (!Read(item, &data, error)) return false;
    *got = offset < data.size() ? static_cast<size_t>(std::min<uint64_t>(size, data.size() - offset)) : 0;
    if (*got) memcpy(buffer, data.data() + offset, *got);
    return true;
  }

 protected:
  ~ItemSource() = default;
};

class PackProgress {
 public:
  // `bytes` more of the items' bytes and `files` more items are packed.
  virtual void Advance(uint64_t bytes, uint32_t files) = 0;

 protected:
  ~PackProgress() = default;
};

// The ZIP-style stream, in the order of `items`: per item a local header
// (times fixed at 1980-01-01 00:00, UTF-8 name flag), its name and data;
// deflate (raw, zlib at `level` 1-9) where it makes the item smaller, else
// stored; level 0 stores everything; folder items as entries whose name ends
// in "/". Then the central directory and its end record. False with
// `*error` set on a read or write failure, or when the payload reaches 4 GiB.
// Files are read and deflated in 4 MiB pieces on `threads` threads (at least
// 1); the pieces depend on the file alone, so every thread count gives the
// same bytes. Holds at most about 32 MiB of files read ahead, or one larger
// file. Tells the sink what is settled after each entry.
bool WriteZipPayload(const std::vector<PackItem>& items, int level, unsigned threads,
                     ItemSource& source, PayloadSink& sink, PackProgress& progress,
                     std::string* error);

// A 7z archive (format version 0.4) of `items`: files of at least one byte in
// solid blocks of up to 64 MiB, each LZMA-coded at `level` 0-9; blocks of
// programs (files that start with PE headers) also pass through the x86
// branch filter; files that look like random bytes and that fast deflate
// cannot shrink are copied into blocks of their own, behind the coded ones.
// The first block's packed stream starts with LZMA, so byte 32 of the
// archive is 00 as the launcher's scan requires. Empty files and folders
// are items without data. Names and CRC-32 of every file in a plain header.
// With `threads` of 2 or more, every block is coded with the multi-threaded
// match finder, and blocks side by side one per two threads; the bytes are
// the same as with one thread. A header larger than its LZMA coding is stored coded.
// Files are read in parts of 1 MiB (ReadPart) and never held whole: a block
// goes from its files through the coder into the sink; only blocks waiting
// for their turn beside another are kept, packed. A file whose size is no
// longer what the folder walk saw stops the payload.
bool WriteSevenZipPayload(const std::vector<PackItem>& items, int level, unsigned threads,
                          ItemSource& source, PayloadSink& sink, PackProgress& progress,
                          std::string* error);
