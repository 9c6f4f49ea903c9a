// Fuzzes what the launcher reads from its own file: the PE headers that give
// the image end, the payload scan, and the ZIP-style entry walker.
#include <cstddef>
#include <cstdint>
#include <string>

#include "memory_io.h"
#include "payload_scan.h"
#include "pe_image.h"
#include "zip_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t end = 0;
  ImageEndFromHeaders(data, size, &end);
  if (size == 0) return 0;

  // The first byte picks the extraction folder length and how the reader
  // splits its data.
  const uint32_t folderLength = data[0] % 200;
  const size_t piece = 1 + data[0] % 37;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  tvtest::MemoryReader scanReader(bytes, piece);
  PayloadKind kind = PayloadNone;
  uint64_t offset = 0;
  if (ScanForPayload(scanReader, &kind, &offset) && kind != PayloadNone && offset > bytes.size())
    __builtin_trap();

  tvtest::MemoryReader reader(bytes, piece);
  tvtest::MemorySink sink;
  WalkZipEntries(reader, folderLength, sink);
  return 0;
}
