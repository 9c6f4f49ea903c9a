#include "certificate_table.h"

#include "le_bytes.h"

namespace {

constexpr uint32_t kEntryHeaderSize = 8;
constexpr uint32_t kRevision1 = 0x0100;
constexpr uint32_t kRevision2 = 0x0200;
constexpr uint32_t kTypePkcsSignedData = 0x0002;
constexpr uint8_t kDerSequence = 0x30;

uint64_t AlignTo8(uint64_t value) { return (value + 7) & ~uint64_t{7}; }

// Reads exactly `size` bytes; a short read is a failure here, since the
// caller has checked that they lie inside the file.
bool ReadExactly(ByteReader& reader, uint8_t* buffer, uint32_t size) {
  uint32_t got = 0;
  return reader.Read(buffer, size, &got) && got == size;
}

enum class EntryCheck { kFine, kHidden, kUnreadable };

// Reads the identifier and length octets of the DER value that starts the
// entry's certificate (`room` bytes at most) and stores its whole size
// (those octets included) in `*total` and their count in `*headerSize`. Only
// a SEQUENCE of definite length qualifies.
EntryCheck ReadDerSize(ByteReader& reader, uint64_t room, uint64_t* total, uint32_t* headerSize) {
  uint8_t octets[6];
  if (room < 2) return EntryCheck::kHidden;
  if (!ReadExactly(reader, octets, 2)) return EntryCheck::kUnreadable;
  if (octets[0] != kDerSequence) return EntryCheck::kHidden;
  uint64_t length = octets[1];
  uint32_t used = 2;
  if (length & 0x80) {
    const uint32_t count = octets[1] & 0x7F;
    // 0x80 is the indefinite form, which DER does not allow; a table is
    // below 4 GiB, so four length octets are enough.
    if (count == 0 || count > 4 || room < 2 + count) return EntryCheck::kHidden;
    if (!ReadExactly(reader, octets + 2, count)) return EntryCheck::kUnreadable;
    length = 0;
    for (uint32_t i = 0; i < count; ++i) length = (length << 8) | octets[2 + i];
    used += count;
  }
  *total = used + length;
  *headerSize = used;
  return EntryCheck::kFine;
}

bool SkipBytes(ByteReader& reader, uint64_t count) {
  while (count > 0) {
    const uint32_t step = count > 0x40000000 ? 0x40000000 : static_cast<uint32_t>(count);
    if (!reader.Skip(step)) return false;
    count -= step;
  }
  return true;
}

// Checks the entry at `position` of a table of `size` bytes (the reader
// stands on its first byte) and leaves the reader, and `*position`, behind
// its padding.
EntryCheck CheckEntry(ByteReader& reader, uint64_t size, uint64_t* position) {
  const uint64_t room = size - *position;
  if (room < kEntryHeaderSize) return EntryCheck::kHidden;
  uint8_t header[kEntryHeaderSize];
  if (!ReadExactly(reader, header, kEntryHeaderSize)) return EntryCheck::kUnreadable;
  const uint64_t length = Le32(header);
  const uint32_t revision = Le16(header + 4);
  if (Le16(header + 6) != kTypePkcsSignedData || (revision != kRevision1 && revision != kRevision2))
    return EntryCheck::kHidden;
  if (length < kEntryHeaderSize || length > room) return EntryCheck::kHidden;

  uint64_t der = 0;
  uint32_t derHeader = 0;
  const EntryCheck derCheck = ReadDerSize(reader, length - kEntryHeaderSize, &der, &derHeader);
  if (derCheck != EntryCheck::kFine) return derCheck;
  const uint64_t signatureEnd = kEntryHeaderSize + der;
  // The length field may count the padding or not, but nothing more.
  if (signatureEnd > length || AlignTo8(length) != AlignTo8(signatureEnd)) return EntryCheck::kHidden;
  if (!SkipBytes(reader, der - derHeader)) return EntryCheck::kUnreadable;

  uint64_t entryEnd = AlignTo8(signatureEnd);
  if (entryEnd > room) entryEnd = room;  // the last entry may end unpadded
  uint8_t padding[8];
  const uint32_t paddingSize = static_cast<uint32_t>(entryEnd - signatureEnd);
  if (!ReadExactly(reader, padding, paddingSize)) return EntryCheck::kUnreadable;
  for (uint32_t i = 0; i < paddingSize; ++i)
    if (padding[i] != 0) return EntryCheck::kHidden;
  *position += entryEnd;
  return EntryCheck::kFine;
}

}  // namespace

bool CertificateTableFromHeaders(const uint8_t* head, size_t size, CertificateTable* table) {
  constexpr uint32_t kSecurityDirectory = 4;
  *table = CertificateTable();
  const uint64_t optional = static_cast<uint64_t>(Le32(head + 0x3C)) + 4 + 20;
  if (optional + 2 > size) return false;
  const uint64_t optionalSize = Le16(head + optional - 20 + 16);  // in the file header
  uint64_t countAt = 0;
  switch (Le16(head + optional)) {
    case 0x10B: countAt = 92; break;   // PE32
    case 0x20B: countAt = 108; break;  // PE32+
    default: return true;
  }
  const uint64_t directory = countAt + 4 + 8 * kSecurityDirectory;
  if (optionalSize < directory + 8) return true;
  if (optional + directory + 8 > size) return false;
  if (Le32(head + optional + countAt) <= kSecurityDirectory) return true;
  table->offset = Le32(head + optional + directory);
  table->size = Le32(head + optional + directory + 4);
  // A directory with an offset but no size names no table either.
  if (table->size == 0) table->offset = 0;
  return true;
}

SealFault CheckSeal(uint64_t imageEnd, const CertificateTable& table, uint64_t fileSize,
                    ByteReader& reader, PayloadSpan* span) {
  if (table.size == 0) {
    *span = {imageEnd, fileSize < imageEnd ? imageEnd : fileSize, false};
    return SealFault::kNone;
  }
  if (table.offset < imageEnd || table.offset > fileSize || table.size > fileSize - table.offset)
    return SealFault::kTableMisplaced;
  if (table.offset + table.size != fileSize) return SealFault::kBytesBehind;
  uint64_t position = 0;
  while (position < table.size) {
    switch (CheckEntry(reader, table.size, &position)) {
      case EntryCheck::kFine: break;
      case EntryCheck::kHidden: return SealFault::kHiddenData;
      case EntryCheck::kUnreadable: return SealFault::kUnreadable;
    }
  }
  *span = {imageEnd, table.offset, true};
  return SealFault::kNone;
}
