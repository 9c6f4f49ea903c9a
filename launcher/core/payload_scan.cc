#include "payload_scan.h"

#include <string.h>

#include "7zCrc.h"
#include "le_bytes.h"

namespace {

constexpr uint32_t kChunk = 64 * 1024;
// A chunk plus the tail of the one before it, so a window that straddles two
// reads is still seen whole.
uint8_t buffer[kChunk + kPayloadWindow - 1];

// The 20 bytes behind the CRC field of a 7z signature header (the next
// header's offset, size and CRC) against that CRC.
bool StartHeaderCrcHolds(const uint8_t* window) {
  return CrcCalc(window + 12, 20) == Le32(window + 8);
}

PayloadKind KindAt(const uint8_t* window) {
  if (IsSevenZipSignature(window)) {
    if (window[32] == 0) return PayloadSevenZip;
    // A whole signature header is an archive, not bytes that happen to look
    // like one: scanning on would take the archive's own contents for the
    // payload.
    if (StartHeaderCrcHolds(window)) return PayloadSevenZipNotLzma;
  }
  if (IsZipLocalHeader(window)) return PayloadZip;
  return PayloadNone;
}

// Fills buffer[from, from + size) as far as the data goes.
bool Fill(ByteReader& reader, uint32_t from, uint32_t size, uint32_t* got) {
  *got = 0;
  while (*got < size) {
    uint32_t part = 0;
    if (!reader.Read(buffer + from + *got, size - *got, &part)) return false;
    if (part == 0) break;
    *got += part;
  }
  return true;
}

}  // namespace

// The signatures are kept inverted, and in writable data the compiler cannot
// fold into constants, so that neither signature appears in the launcher's
// image, where a scan from the file's first byte would stop.
uint8_t payloadSignaturesInverted[10] = {0xAF, 0xB4, 0xFC, 0xFB,                     // ZIP
                                         0xC8, 0x85, 0x43, 0x50, 0xD8, 0xE3};        // 7z

bool IsZipLocalHeader(const uint8_t* bytes) {
  for (int i = 0; i < 4; ++i)
    if ((bytes[i] ^ 0xFF) != payloadSignaturesInverted[i]) return false;
  return true;
}

bool IsSevenZipSignature(const uint8_t* bytes) {
  for (int i = 0; i < 6; ++i)
    if ((bytes[i] ^ 0xFF) != payloadSignaturesInverted[4 + i]) return false;
  return true;
}

bool ScanForPayload(ByteReader& reader, PayloadKind* kind, uint64_t* offset) {
  CrcGenerateTable();
  uint32_t valid = 0;
  if (!Fill(reader, 0, sizeof(buffer), &valid)) return false;
  if (valid < kPayloadWindow) return false;
  uint64_t base = 0;  // offset of buffer[0] from the reader's first byte
  for (;;) {
    const uint32_t windows = valid - kPayloadWindow + 1;
    for (uint32_t i = 0; i < windows; ++i) {
      const PayloadKind found = KindAt(buffer + i);
      if (found != PayloadNone) {
        *kind = found;
        *offset = base + i;
        return true;
      }
    }
    // Keep the 32 bytes whose windows are not complete yet.
    const uint32_t keep = kPayloadWindow - 1;
    memmove(buffer, buffer + valid - keep, keep);
    base += valid - keep;
    uint32_t got = 0;
    if (!Fill(reader, keep, kChunk, &got)) return false;
    if (got == 0) {
      *kind = PayloadNone;
      *offset = 0;
      return true;
    }
    valid = keep + got;
  }
}
