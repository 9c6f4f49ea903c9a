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
// CreateFolders, CreateOutputFile, Write (zero or more times), CloseOutputFile;
// per folder entry, CreateFolders alone.
class ZipEntrySink {
 public:
  // Places `name` (`length` characters, its terminator included) behind the
  // extraction folder and creates each folder named before a "/" or "\". A
  // folder entry's name ends with one, so its own folder is created too.
  virtual bool CreateFolders(const wchar_t* name, uint32_t length) = 0;
  // Creates the file named by the last CreateFolders; fails if it exists.
  // `size` is the header's uncompressed size: the walk hands over exactly
  // that many bytes, or fails.
  virtual bool CreateOutputFile(uint32_t size) = 0;
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
  kNameUndecodable,  // the name is empty
  kNameNotUtf8,      // the name is not well-formed UTF-8
  kNameRefused,      // the name could leave the extraction folder
  kNameNotKept,      // Windows would write the name otherwise (EntryNameKeptByWindows)
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
  kEncrypted,        // general purpose flag bit 0
  kDataDescriptor,   // flag bit 3: CRC and sizes follow the data, the header holds none
  kUnsupportedMethod,  // a compression method other than 0 (stored) and 8 (deflate)
  kZip64,            // a size of 0xFFFFFFFF: the real sizes are in a zip64 extra field
};

// The entry a walk stopped at, for messages: its header's method and its raw
// name bytes (empty when the walk stopped before reading a name).
struct ZipStop {
  uint32_t method = 0;
  uint32_t nameSize = 0;
  uint8_t name[kPathCapacity] = {};
};

// Unpacks every entry of the stream at the reader's position. `folderLength`
// is the extraction folder's length L in characters: names of L + n + 1 >= 260
// bytes are refused. Method 0 is stored, 8 raw deflate. Before anything is
// created for an entry, its header and name are checked: an entry that is
// encrypted, has a data descriptor, another method or zip64 sizes, and a name
// that is not well-formed UTF-8, could leave the extraction folder or would
// be written under another name, stop the walk. A name ending in "/" or "\" is a folder entry: its folders are
// created and it carries no data. Data moves in
// chunks of 256 KiB through buffers of the walker's own (not reentrant), so
// memory does not grow with entry size. Each file is checked against its
// CRC-32 after its last byte was written; a deflated entry must produce exactly
// its uncompressed size. Returns kEnded only where a central directory header
// or an end record follows the last entry (an end record may be the last 22
// bytes of the data); other bytes there are kBadSignature, the end of the data
// kShortRead, so a damaged or cut stream never passes for a complete one.
// Stops at the first failure and returns its cause; what was written before
// stays written.
// When `stop` is given, it receives the entry the walk stopped at.
ZipResult WalkZipEntries(ByteReader& reader, uint32_t folderLength, ZipEntrySink& sink,
                         ZipStop* stop = nullptr);
