// The search for the payload behind the launcher's image.
#pragma once

#include <stdint.h>

#include "byte_reader.h"
#include "payload_kind.h"

// Bytes the scan looks at per candidate position: a 7z signature header is
// recognised by its six signature bytes and a 00 at byte 32.
constexpr uint32_t kPayloadWindow = 33;

// True when `bytes` begins with a ZIP local file header signature, 50 4B 03 04.
bool IsZipLocalHeader(const uint8_t* bytes);
// True when `bytes` begins with the six 7z signature bytes 37 7A BC AF 27 1C.
bool IsSevenZipSignature(const uint8_t* bytes);

// Reads `reader` to its end, or to the first position p at which the 33 bytes
// from p on are a payload start: bytes 37 7A BC AF 27 1C with byte p+32 equal
// to 00 (PayloadSevenZip; tested first), the same signature with another byte
// p+32 and a start header whose CRC-32 (bytes p+8 to p+11, over bytes p+12
// to p+31) holds (PayloadSevenZipNotLzma), else bytes 50 4B 03 04
// (PayloadZip). A 7z signature with another byte p+32 and a CRC that does not
// hold is passed over.
// A signature less than 33 bytes before the end is never found. On success
// stores the kind (PayloadNone when nothing qualifies) and p, counted from
// the reader's first byte. False on a read failure, or when fewer than 33
// bytes can be read at all. Reads through a 64 KiB buffer of its own (not
// reentrant); finds the same position a byte-by-byte scan would.
bool ScanForPayload(ByteReader& reader, PayloadKind* kind, uint64_t* offset);
