// The part of a package a payload may be read from. A signed launcher's
// signature covers the image and everything behind it up to the certificate
// table, but not the table itself: a payload, or part of one, inside the table
// or behind it would run under a signature that never covered it. So in a
// signed file the payload lies between the image's end and the table's start,
// and the table must be nothing but signature entries at the file's end.
// Portable: the launcher checks its own file with it, tvpack a package.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "byte_reader.h"

// The certificate table named by the PE headers' security directory.
struct CertificateTable {
  uint64_t offset = 0;  // file offset of its first byte
  uint64_t size = 0;    // 0: the file carries no signature
};

// Reads the security directory from the PE headers in `head` (the file's
// first `size` bytes; the caller has checked them with ImageEndFromHeaders).
// An optional header that is neither PE32 nor PE32+, or too short to hold
// the directory, names no table (size 0). False when `head` ends inside it.
bool CertificateTableFromHeaders(const uint8_t* head, size_t size, CertificateTable* table);

// Why a signed file's payload cannot be trusted. kNone also for an unsigned
// file.
enum class SealFault {
  kNone,
  kTableMisplaced,  // the table starts inside the image or runs past the file's end
  kBytesBehind,     // the table does not end the file
  kHiddenData,      // the table holds more than its signature entries
  kUnreadable,      // the table could not be read
};

// Where the payload may lie: bytes [start, end) of the file.
struct PayloadSpan {
  uint64_t start = 0;
  uint64_t end = 0;
  bool signedFile = false;
};

// Decides the payload span of a file of `fileSize` bytes whose image ends at
// `imageEnd`: [imageEnd, fileSize) when `table` is empty; else, when the
// table lies behind the image, ends the file and holds nothing but signature
// entries, [imageEnd, table.offset). A signature entry is its 8-byte header
// (length, revision 1.0 or 2.0, type PKCS signed data) and one DER SEQUENCE
// of definite length; its length field counts the header and the DER bytes,
// with or without the padding behind them, which is at most 7 zero bytes up to
// the next multiple of 8; the entries fill the table exactly (the last one may
// end unpadded at the table's end). `reader` yields the table's bytes from
// its first one; it is read only when the table's place is right.
// On kNone `*span` is set; otherwise it is left as it was.
SealFault CheckSeal(uint64_t imageEnd, const CertificateTable& table, uint64_t fileSize,
                    ByteReader& reader, PayloadSpan* span);
