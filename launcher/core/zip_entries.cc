#include "zip_entries.h"

#include <string.h>
#include <zlib.h>

#include "7zCrc.h"
#include "entry_name.h"
#include "launcher_constants.h"
#include "le_bytes.h"
#include "payload_scan.h"
#include "utf8_name.h"

namespace {

constexpr uint32_t kHeaderSize = 30;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kPathLimit = kPathCapacity;
constexpr uint32_t kChunk = 256 * 1024;
constexpr uint32_t kFlagEncrypted = 1u << 0;
constexpr uint32_t kFlagDataDescriptor = 1u << 3;
constexpr uint32_t kMethodStored = 0;
constexpr uint32_t kMethodDeflate = 8;
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;

uint8_t input[kChunk];
// One byte more than a chunk: a deflate stream that runs past the
// uncompressed size shows itself by filling that byte.
uint8_t output[kChunk + 1];

// Where a ZIP file's entries end: its central directory (the first header
// begins 50 4B 01 02) or, when that is empty, its end record (50 4B 05 06).
bool IsZipCentralHeader(const uint8_t* bytes) {
  return bytes[0] == 0x50 && bytes[1] == 0x4B && bytes[2] == 0x01 && bytes[3] == 0x02;
}
bool IsZipEndRecord(const uint8_t* bytes) {
  return bytes[0] == 0x50 && bytes[1] == 0x4B && bytes[2] == 0x05 && bytes[3] == 0x06;
}

// Reads `size` bytes or up to the end of the data; a reader may hand them out
// in parts.
bool ReadUpTo(ByteReader& reader, uint8_t* buffer, uint32_t size, uint32_t* done) {
  *done = 0;
  while (*done < size) {
    uint32_t got = 0;
    if (!reader.Read(buffer + *done, size - *done, &got)) return false;
    if (got == 0) break;
    *done += got;
  }
  return true;
}

bool ReadExactly(ByteReader& reader, uint8_t* buffer, uint32_t size) {
  uint32_t done = 0;
  return ReadUpTo(reader, buffer, size, &done) && done == size;
}

// The entries' CRC-32 is the 7z decoder's (the same polynomial, kept in the
// register form: CRC_INIT_VAL at the start, CRC_GET_DIGEST at the end), so
// the launcher carries one table and one routine for both payload kinds.
ZipResult CopyStored(ByteReader& reader, uint32_t size, ZipEntrySink& sink, uint32_t* crc) {
  while (size > 0) {
    const uint32_t part = size < kChunk ? size : kChunk;
    if (!ReadExactly(reader, input, part)) return ZipResult::kShortRead;
    *crc = CrcUpdate(*crc, input, part);
    if (!sink.Write(input, part)) return ZipResult::kWriteFailed;
    size -= part;
  }
  return ZipResult::kEnded;
}

ZipResult Inflate(ByteReader& reader, uint32_t packedSize, uint32_t size, ZipEntrySink& sink,
                  uint32_t* crc) {
  z_stream stream = {};
  // The zlib version this code was written against; zlib accepts any 1.x.
  const int init = inflateInit2_(&stream, -15, "1.2.11", static_cast<int>(sizeof(z_stream)));
  if (init == Z_MEM_ERROR) return ZipResult::kOutOfMemory;
  if (init != Z_OK) return ZipResult::kBadDeflate;

  uint32_t unread = packedSize;
  uint32_t produced = 0;
  ZipResult result = ZipResult::kEnded;
  for (;;) {
    if (stream.avail_in == 0 && unread > 0) {
      const uint32_t part = unread < kChunk ? unread : kChunk;
      if (!ReadExactly(reader, input, part)) {
        result = ZipResult::kShortRead;
        break;
      }
      unread -= part;
      stream.next_in = input;
      stream.avail_in = part;
    }
    const uint32_t room = size - produced;
    stream.next_out = output;
    stream.avail_out = room >= kChunk ? kChunk : room + 1;
    const uInt offered = stream.avail_out;
    const uInt available = stream.avail_in;
    const int status = inflate(&stream, Z_NO_FLUSH);
    const uint32_t made = offered - stream.avail_out;
    if (made > room) {
      result = ZipResult::kDeflateLong;
      break;
    }
    if (made > 0) {
      *crc = CrcUpdate(*crc, output, made);
      if (!sink.Write(output, made)) {
        result = ZipResult::kWriteFailed;
        break;
      }
      produced += made;
    }
    if (status == Z_STREAM_END) {
      if (produced != size) result = ZipResult::kDeflateShort;
      break;
    }
    if (status == Z_MEM_ERROR) {
      result = ZipResult::kOutOfMemory;
      break;
    }
    if (status != Z_OK && status != Z_BUF_ERROR) {
      result = ZipResult::kBadDeflate;
      break;
    }
    if (made == 0 && stream.avail_in == available) {
      // No progress although input was offered, or none is left: the stream
      // does not end within the compressed size.
      result = stream.avail_in == 0 && unread == 0 ? ZipResult::kDeflateTruncated
                                                   : ZipResult::kBadDeflate;
      break;
    }
  }
  inflateEnd(&stream);
  // The next header follows the compressed data, however much of it the
  // deflate stream used.
  if (result == ZipResult::kEnded && unread > 0 && !reader.Skip(unread))
    result = ZipResult::kSkipFailed;
  return result;
}

// Characters of `name` before its first terminator, at most `length`.
uint32_t VisibleLength(const wchar_t* name, uint32_t length) {
  uint32_t i = 0;
  while (i < length && name[i] != L'\0') ++i;
  return i;
}

}  // namespace

ZipResult WalkZipEntries(ByteReader& reader, uint32_t folderLength, ZipEntrySink& sink,
                         ZipStop* stop) {
  CrcGenerateTable();
  uint8_t header[kHeaderSize];
  uint8_t nameBytes[kPathLimit];
  wchar_t name[kPathLimit];
  if (stop) stop->nameSize = 0;
  for (;;) {
    uint32_t got = 0;
    if (!ReadUpTo(reader, header, kHeaderSize, &got)) return ZipResult::kShortRead;
    // An end record without a comment is 22 bytes, so it may end the file
    // before 30 bytes were read.
    if (got >= kEndRecordSize && IsZipEndRecord(header)) return ZipResult::kEnded;
    if (got < kHeaderSize) return ZipResult::kShortRead;
    if (IsZipCentralHeader(header)) return ZipResult::kEnded;
    if (!IsZipLocalHeader(header)) return ZipResult::kBadSignature;
    const uint32_t flags = Le16(header + 6);
    const uint32_t method = Le16(header + 8);
    const uint32_t expectedCrc = Le32(header + 14);
    const uint32_t packedSize = Le32(header + 18);
    const uint32_t size = Le32(header + 22);
    const uint32_t nameSize = Le16(header + 26);
    const uint32_t extraSize = Le16(header + 28);

    if (folderLength + 1 + nameSize > kZipPathLimit) return ZipResult::kNameTooLong;
    if (!ReadExactly(reader, nameBytes, nameSize)) return ZipResult::kShortRead;
    if (stop) {
      stop->method = method;
      stop->nameSize = nameSize;
      memcpy(stop->name, nameBytes, nameSize);
    }
    // The header must describe the data that follows it: without a central
    // directory there is no other place to learn where an entry ends.
    if (flags & kFlagEncrypted) return ZipResult::kEncrypted;
    if (flags & kFlagDataDescriptor) return ZipResult::kDataDescriptor;
    if (method != kMethodStored && method != kMethodDeflate) return ZipResult::kUnsupportedMethod;
    if (packedSize == kZip64Marker || size == kZip64Marker) return ZipResult::kZip64;

    if (nameSize == 0) return ZipResult::kNameUndecodable;
    // Strict: a name the system would decode with replacement characters
    // would be unpacked under another name than the one the payload holds.
    // A UTF-8 name never needs more UTF-16 characters than it has bytes, so
    // the terminator always fits.
    const uint32_t chars = DecodeUtf8NameStrict(nameBytes, nameSize, name, kPathLimit - 1);
    if (chars == 0) return ZipResult::kNameNotUtf8;
    name[chars] = L'\0';
    const uint32_t visible = VisibleLength(name, chars);
    if (!EntryNameIsSafe(name, visible)) return ZipResult::kNameRefused;
    if (!EntryNameKeptByWindows(name, visible)) return ZipResult::kNameNotKept;

    if (!sink.CreateFolders(name, chars + 1)) return ZipResult::kFolderFailed;
    if (!reader.Skip(extraSize)) return ZipResult::kSkipFailed;
    // A folder entry carries no data.
    if (name[chars - 1] == L'/' || name[chars - 1] == L'\\') continue;
    if (!sink.CreateOutputFile(size)) return ZipResult::kCreateFailed;

    uint32_t crc = CRC_INIT_VAL;
    ZipResult result = method == kMethodStored ? CopyStored(reader, size, sink, &crc)
                                               : Inflate(reader, packedSize, size, sink, &crc);
    if (result == ZipResult::kEnded && CRC_GET_DIGEST(crc) != expectedCrc)
      result = ZipResult::kCrcMismatch;
    if (!sink.CloseOutputFile() && result == ZipResult::kEnded) result = ZipResult::kCloseFailed;
    if (result != ZipResult::kEnded) return result;
  }
}
