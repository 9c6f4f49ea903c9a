// Kinds of payload the launcher recognises behind its image.
#pragma once

#include <stdint.h>

enum PayloadKind : int32_t {
  PayloadNone = 0,
  PayloadZip = 1,
  PayloadSevenZip = 2,
};
