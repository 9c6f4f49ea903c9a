// The small interface the portable core reads through, so the same payload
// logic runs on a Windows file handle, on a package's bytes in tvpack and on
// bytes in memory in the tests.
#pragma once

#include <stdint.h>

// A forward-only source of bytes.
class ByteReader {
 public:
  // Reads up to `size` bytes into `buffer` and stores the count in `*got`.
  // `*got` is less than `size` only at the end of the data. False on a read
  // failure (then `*got` is unspecified).
  virtual bool Read(uint8_t* buffer, uint32_t size, uint32_t* got) = 0;
  // Moves `count` bytes forward without reading them. Moving past the end
  // succeeds; the next read then comes up short. False on failure.
  virtual bool Skip(uint32_t count) = 0;

 protected:
  ~ByteReader() = default;
};
