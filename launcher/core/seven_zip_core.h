// Reading a 7z archive with the LZMA SDK's decoder and handing each file to a
// sink. Portable: the launcher drives it over its own open file and writes
// into the extraction folder; the tests and the fuzzer drive it over memory.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "7z.h"
#include "7zTypes.h"
#include "launcher_constants.h"

// Receives the files and folder items of an archive, in archive order.
class SevenZipSink {
 public:
  // A folder item: `name` and `nameLength` as for WriteFile. Creates the
  // folder and the folders on its way; one that exists already is fine.
  // False stops the extraction as a failure.
  virtual bool CreateFolder(const wchar_t* name, size_t nameLength) = 0;
  // `name` is the file's relative name with "/" between folders: `nameLength`
  // UTF-16 units, its terminator included (name[nameLength - 1] is 0). It has
  // already passed the refused-name rule (EntryNameIsSafe) and the length
  // limit. `data` holds the file's `size` bytes (null when size is 0) and is
  // valid only during the call. False stops the extraction as a failure.
  virtual bool WriteFile(const wchar_t* name, size_t nameLength, const uint8_t* data,
                         size_t size) = 0;

 protected:
  ~SevenZipSink() = default;
};

// Brings a file's block into memory, with SzArEx_Extract's contract (the
// 7z decoder's own call, which the launcher uses). A caller may decode
// blocks ahead of the walk and hand them over; what it returns must be what
// SzArEx_Extract would.
class SevenZipBlocks {
 public:
  virtual SRes Extract(const CSzArEx* db, ILookInStreamPtr stream, UInt32 fileIndex,
                       UInt32* blockIndex, Byte** outBuffer, size_t* outBufferSize, size_t* offset,
                       size_t* outSizeProcessed, ISzAllocPtr allocMain, ISzAllocPtr allocTemp) = 0;
  // The walk ends: the archive's database (`db` above) is freed next.
  virtual void Release() = 0;

 protected:
  ~SevenZipBlocks() = default;
};

// Longest name any caller can accept, terminator included (MAX_PATH).
inline constexpr size_t kSevenZipNameCapacity = kPathCapacity;

// The largest extraction folder length + 1 + name units (terminator not
// counted) the launcher accepts: a name starts at index L + 1 of the output
// path and, with its terminator, must end inside kPathCapacity.
inline constexpr uint32_t kSevenZipPathLimit = kPathCapacity - 2;

// The `maxNameLength` (terminator included) for an extraction folder of
// `folderLength` characters: L + 1 + length < 260; 0 when no name fits.
inline constexpr size_t SevenZipMaxNameLength(uint32_t folderLength) {
  return folderLength + 2 < kPathCapacity ? kPathCapacity - 2 - folderLength : 0;
}

// Opens the 7z archive that starts at the current position of `archive` (the
// signature header; the archive's offsets count from there) and hands every
// file to `sink`. Each solid block is decoded once, into one buffer from
// `allocMain` that stays cached while its files are written. Names of more
// than `maxNameLength` units (terminator included; capped at
// kSevenZipNameCapacity), empty names, items without a name (an archive
// without a names table) and names that EntryNameIsSafe or
// EntryNameKeptByWindows refuses stop the
// extraction, before the file's block is decoded; folder items obey the
// same rules. Everything allocated is
// released before returning. `blocks`, when given, brings the blocks into
// memory in place of SzArEx_Extract.
// Returns SZ_OK when every file was handed over and accepted; otherwise the
// SDK's result, SZ_ERROR_MEM, or SZ_ERROR_FAIL (a refused name or a sink
// failure). Files handed over before a failure stay with the sink.
SRes ExtractSevenZipArchive(ISeekInStreamPtr archive, ISzAllocPtr allocMain,
                            ISzAllocPtr allocTemp, size_t maxNameLength, SevenZipSink& sink,
                            SevenZipBlocks* blocks = nullptr);
