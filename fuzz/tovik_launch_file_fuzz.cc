// Fuzz target: the bootstrapper's ".launch" bytes, as read (at most 260).
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "launch_file_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > tovik::kLaunchFileReadLimit) size = tovik::kLaunchFileReadLimit;
  // Exactly as large as the read buffer, so any overrun shows.
  char* bytes = new char[tovik::kLaunchFileReadLimit];
  memcpy(bytes, data, size);
  const char* relative = tovik::ParseLaunchFile(bytes, size);
  if (relative != nullptr) {
    size_t length = strlen(relative);
    if (relative + length >= bytes + size) __builtin_trap();
  }
  delete[] bytes;
  return 0;
}
