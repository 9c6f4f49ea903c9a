// Reading a 7z archive with the LZMA SDK's decoders and handing each file to a
// sink in pieces. Portable: the launcher drives it over its own open file and
// writes into the extraction folder; tvpack's check, the tests and the fuzzer
// drive it over memory.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "7z.h"
#include "7zTypes.h"
#include "launcher_constants.h"
#include "seven_zip_thread.h"

// Receives the files and folder items of an archive, in archive order. A
// file comes in pieces: BeginFile, WriteFile for each piece, then EndFile
// once all of its bytes came and its CRC matched, or DiscardFile when its
// data turned out damaged or the walk stops inside it.
class SevenZipSink {
 public:
  // A folder item: `name` and `nameLength` as for BeginFile. Creates the
  // folder and the folders on its way; one that exists already is fine.
  // False stops the extraction as a failure.
  virtual bool CreateFolder(const wchar_t* name, size_t nameLength) = 0;
  // A file of `size` bytes begins. `name` is its relative name with "/"
  // between folders: `nameLength` UTF-16 units, its terminator included
  // (name[nameLength - 1] is 0), valid only during the call. It has already
  // passed the refused-name rule (EntryNameIsSafe) and the length limit.
  // False stops the extraction as a failure (no DiscardFile follows).
  virtual bool BeginFile(const wchar_t* name, size_t nameLength, uint64_t size) = 0;
  // The file's next `size` (> 0) bytes, valid only during the call. False
  // stops the extraction as a failure; DiscardFile follows.
  virtual bool WriteFile(const uint8_t* data, size_t size) = 0;
  // Every byte came and the file's stored CRC (where the archive holds one)
  // matched; for the last file of a solid block, the block also ended
  // whole. False stops the extraction as a failure (no DiscardFile follows).
  virtual bool EndFile() = 0;
  // The file begun will not be completed: its data is damaged, or the walk
  // stops inside it. A sink that wrote part of it removes that part, so
  // that what stays is only files that were checked whole.
  virtual void DiscardFile() = 0;

 protected:
  ~SevenZipSink() = default;
};

// The largest piece of a file handed to SevenZipSink::WriteFile.
inline constexpr size_t kSevenZipPieceSize = 1u << 20;

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
// file to `sink`, in pieces of at most kSevenZipPieceSize bytes. Each solid
// block is decoded once, in pieces straight into its files: memory is the
// coders' dictionaries (each no larger than the block) and fixed buffers,
// whatever the block's size; block and file sizes are 64-bit. Names of more
// than `maxNameLength` units (terminator included; capped at
// kSevenZipNameCapacity), empty names, items without a name (an archive
// without a names table) and names that EntryNameIsSafe or
// EntryNameKeptByWindows refuses stop the extraction before the file's data
// is decoded; folder items obey the same rules. A file's first piece is
// decoded before the sink hears of the file, so a file that fits in one
// piece and is damaged is never begun. Everything allocated (from
// `allocMain`; `allocTemp` serves the archive's headers) is released before
// returning. With a `thread`, blocks of at least `aheadFrom` bytes are
// decoded on it, ahead of the checks and the sink (SevenZipBlockDecoder).
// Returns SZ_OK when every file was handed over and accepted; otherwise the
// SDK's result (SZ_ERROR_DATA, SZ_ERROR_CRC, SZ_ERROR_UNSUPPORTED, ...),
// SZ_ERROR_MEM, or SZ_ERROR_FAIL (a refused name or a sink failure). Files
// completed before a failure stay with the sink.
SRes ExtractSevenZipArchive(ISeekInStreamPtr archive, ISzAllocPtr allocMain,
                            ISzAllocPtr allocTemp, size_t maxNameLength, SevenZipSink& sink,
                            SevenZipSecondThread* thread = nullptr,
                            uint64_t aheadFrom = kSevenZipAheadFrom);
