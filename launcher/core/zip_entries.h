// The ZIP-style entry stream: local file headers one after another, each
// followed by its name, extra field and data, ended by the ZIP's central
// directory (50 4B 01 02) or its end record (50 4B 05 06). Any other bytes
// where a header belongs mean the stream is damaged.
#pragma once

#include <stdint.h>

#include "byte_reader.h"
#include "launcher_constants.h"

// The largest extraction folder length + 1 + name bytes the walk accepts: the
// name, behind the folder and its backslash, must leave room for the
// terminator in kPathCapacity.
inline constexpr uint32_t kZipPathLimit = kPathCapacity - 1;

// Where the unpacked entries go. The walker calls, per file entry:
// CreateFolders, CreateOutputFile, Write (zero or more times), CloseOutputFile.
class ZipEntrySink {
 public:
  // Decodes the UTF-8 name bytes into at most `capacity` UTF-16 characters.
  // Returns the number of characters, 0 on failure (an empty name is one).
  virtual uint32_t DecodeName(const uint8_t* bytes, uint32_t size, wchar_t* name,
                              uint32_t capacity) = 0;
  // Places `name` (`length` characters, its terminator included) behind the
  // extraction folder and creates each folder named before a "/".
  virtual bool CreateFolders(const wchar_t* name, uint32_t length) = 0;
  // Creates the file named by the last CreateFolders; fails if it exists.
  virtual bool CreateOutputFile() = 0;
  virtual bool Write(const uint8_t* data, uint32_t size) = 0;
  virtual bool CloseOutputFile() = 0;

 protected:
  ~ZipEntrySink() = default;
};

enum class ZipResult {
  kEnded,            // the stream ended at a central directory or end record
  kShortRead,        // a read failed or came up short (header, name or data)
  kBadSignature,     // a header is neither an entry nor a stream end
  kSkipFailed,       // moving past an extra field failed
  kNameTooLong,      // folder length + 1 + name bytes exceeds kZipPathLimit (259)
  kNameUndecodable,  // the name decoded to nothing (also an empty name)
  kNameRefused,      // the name could leave the extraction folder
  kFolderFailed,     // a folder on the way to the file could not be created
  kCreateFailed,     // the output file could not be created (or exists)
  kWriteFailed,
  kCloseFailed,
  kOutOfMemory,      // the inflater could not be set up for lack of memory
  kBadDeflate,       // the deflate data is damaged or not a raw deflate stream
  kDeflateShort,     // the stream ended before producing the uncompressed size
  kDeflateLong,      // the stream goes on beyond the uncompressed size
  kDeflateTruncated, // the compressed size ran out before the stream's end
  kCrcMismatch,      // the unpacked bytes do not match the header's CRC-32
};

// Unpacks every entry of the stream at the reader's position. `folderLength`
// is the extraction folder's length L in characters: names of L + n + 1 >= 260
// bytes are refused. Method 0 is stored, any other raw deflate. Data moves in
// chunks of 64 KiB through buffers of the walker's own (not reentrant), so
// memory does not grow with entry size. Each file is checked against its
// CRC-32 after its last byte was written; a deflated entry must produce exactly
// its uncompressed size. Returns kEnded only where a central directory header
// or an end record follows the last entry (an end record may be the last 22
// bytes of the data); other bytes there are kBadSignature, the end of the data
// kShortRead, so a damaged or cut stream never passes for a complete one.
// Stops at the first failure and returns its cause; what was written before
// stays written.
ZipResult WalkZipEntries(ByteReader& reader, uint32_t folderLength, ZipEntrySink& sink);
