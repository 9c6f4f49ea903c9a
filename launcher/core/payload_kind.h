// Kinds of payload the launcher recognises behind its image.
#pragma once

#include <stdint.h>

enum PayloadKind : int32_t {
  PayloadNone = 0,
  PayloadZip = 1,
  PayloadSevenZip = 2,
  // A 7z archive (its start header's CRC holds) whose first packed stream is
  // not LZMA: the launcher cannot take it, and its bytes are no place to go
  // on scanning in.
  PayloadSevenZipNotLzma = 3,
};
