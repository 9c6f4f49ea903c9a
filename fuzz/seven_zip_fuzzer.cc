// Arbitrary bytes through the launcher's 7z open-and-extract flow, into memory.
#include <stddef.h>
#include <stdint.h>

#include "7zAlloc.h"
#include "memory_archive.h"
#include "seven_zip_core.h"

namespace {

// Headers may declare any size; a block larger than this is refused as the
// launcher's allocator would refuse one larger than memory.
constexpr size_t kLargestBlock = 64u << 20;

void* CappedAlloc(ISzAllocPtr p, size_t size) {
  return size > kLargestBlock ? nullptr : SzAlloc(p, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryArchive archive(data, size);
  MemorySink sink;
  const ISzAlloc alloc = {CappedAlloc, SzFree};
  ExtractSevenZipArchive(&archive.vt, &alloc, &alloc, kSevenZipNameCapacity, sink);
  return 0;
}
