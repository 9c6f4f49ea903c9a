// The launcher's own file as a ByteReader for the portable core.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "byte_reader.h"

// Moves the file's position to `offset` from its start. False on failure.
bool SeekTo(HANDLE file, uint64_t offset);

// Reads the file in large blocks so that the many small reads of entry
// headers and names do not each go to the system. One buffer of 64 KiB for
// all readers (not reentrant): a reader's buffered bytes belong to the file
// position it left behind. It yields at most `limit` bytes from the file's
// position at its construction: the end of the part it may read.
class FileReader final : public ByteReader {
 public:
  explicit FileReader(HANDLE file, uint64_t limit = UINT64_MAX) : file_(file), left_(limit) {}

  bool Read(uint8_t* buffer, uint32_t size, uint32_t* got) override;
  bool Skip(uint32_t count) override;

 private:
  HANDLE file_;
  uint64_t left_;  // bytes the reader may still hand out
  DWORD next_ = 0;
  DWORD end_ = 0;
};
