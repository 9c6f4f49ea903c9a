#include "seven_zip_core.h"

#include "7z.h"
#include "7zCrc.h"
#include "entry_name.h"
#include "seven_zip_block.h"

namespace {

// The look-ahead buffer of the archive stream while the headers are read:
// the SDK's classic size.
constexpr size_t kLookBufferSize = 16384;
constexpr UInt32 kNoBlock = 0xFFFFFFFF;

// Widens the UTF-16 name into `wide` (kSevenZipNameCapacity units) and checks
// it: not empty, no NUL before its terminator, safe as a relative path, and
// kept by Windows as it is written.
bool TakeName(const UInt16* name, size_t length, wchar_t* wide) {
  if (length < 2) return false;
  for (size_t i = 0; i + 1 < length; ++i) {
    if (name[i] == 0) return false;
    wide[i] = static_cast<wchar_t>(name[i]);
  }
  wide[length - 1] = L'\0';
  return EntryNameIsSafe(wide, length - 1) && EntryNameKeptByWindows(wide, length - 1);
}

// One extraction: the opened archive, the block being decoded and the sink.
class Walk {
 public:
  Walk(ISeekInStreamPtr archive, ISzAllocPtr alloc, SevenZipSink& sink,
       SevenZipSecondThread* thread, uint64_t aheadFrom)
      : archive_(archive), alloc_(alloc), sink_(sink), block_(alloc, thread, aheadFrom) {}
  ~Walk() { ISzAlloc_Free(alloc_, name_); }

  SRes Run(const CSzArEx& db, size_t maxNameLength);

 private:
  SRes TakeNameOf(UInt32 i, size_t maxNameLength, size_t* length);
  SRes EnterBlock(UInt32 block, uint64_t offset);
  SRes Skip(uint64_t count);
  SRes ExtractFile(UInt32 i, size_t length);
  SRes StreamFile(UInt32 i, size_t length, uint64_t size);
  SRes LeaveBlock();

  ISeekInStreamPtr archive_;
  ISzAllocPtr alloc_;
  SevenZipSink& sink_;
  const CSzArEx* db_ = nullptr;
  SevenZipBlockDecoder block_;
  UInt16* name_ = nullptr;
  size_t nameCapacity_ = 0;
  wchar_t wideName_[kSevenZipNameCapacity];
};

SRes Walk::Run(const CSzArEx& db, size_t maxNameLength) {
  db_ = &db;
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    size_t length = 0;
    RINOK(TakeNameOf(i, maxNameLength, &length))
    if (SzArEx_IsDir(&db, i)) {
      // A folder item is made even when it holds nothing, so the unpacked
      // tree is the archive's.
      if (!sink_.CreateFolder(wideName_, length)) return SZ_ERROR_FAIL;
      continue;
    }
    RINOK(ExtractFile(i, length))
  }
  return LeaveBlock();
}

// The name is checked before its data is decoded: a refused name costs no
// decoding, and its length is bounded before a buffer is taken for it.
SRes Walk::TakeNameOf(UInt32 i, size_t maxNameLength, size_t* length) {
  // An archive may leave out the names table altogether; its items then
  // have no name to be written under.
  if (!db_->FileNameOffsets) return SZ_ERROR_FAIL;
  *length = SzArEx_GetFileNameUtf16(db_, i, nullptr);
  if (*length > maxNameLength) return SZ_ERROR_FAIL;
  if (*length > nameCapacity_) {
    ISzAlloc_Free(alloc_, name_);
    nameCapacity_ = *length;
    name_ = static_cast<UInt16*>(ISzAlloc_Alloc(alloc_, *length * sizeof(UInt16)));
    if (!name_) {
      nameCapacity_ = 0;
      return SZ_ERROR_MEM;
    }
  }
  SzArEx_GetFileNameUtf16(db_, i, name_);
  return TakeName(name_, *length, wideName_) ? SZ_OK : SZ_ERROR_FAIL;
}

// Decodes the rest of the block being read, if one is, and checks its end:
// a block is decoded whole even where no walked file holds its last bytes.
SRes Walk::LeaveBlock() {
  if (!block_.IsOpen()) return SZ_OK;
  RINOK(Skip(block_.Size() - block_.Position()))
  const SRes res = block_.Finish();
  block_.Close();
  return res;
}

// Makes block `block` the one being read, at `offset` from its start.
SRes Walk::EnterBlock(UInt32 block, uint64_t offset) {
  // Files follow their blocks' order; a walk that went back would decode
  // the block again from its start.
  if (block != block_.Index() || offset < block_.Position()) {
    RINOK(LeaveBlock())
    RINOK(block_.Open(db_, block, archive_))
  }
  return Skip(offset - block_.Position());
}

// Decodes and drops `count` bytes of the block: bytes no file is written from.
SRes Walk::Skip(uint64_t count) {
  while (count > 0) {
    const Byte* data = nullptr;
    size_t size = 0;
    RINOK(block_.Read(count < kSevenZipPieceSize ? static_cast<size_t>(count) : kSevenZipPieceSize,
                      &data, &size))
    count -= size;
  }
  return SZ_OK;
}

SRes Walk::ExtractFile(UInt32 i, size_t length) {
  const UInt32 block = db_->FileToFolder[i];
  const uint64_t size = SzArEx_GetFileSize(db_, i);
  if (block == kNoBlock) {
    // A file without data: nothing to decode or check.
    if (!sink_.BeginFile(wideName_, length, 0) || !sink_.EndFile()) return SZ_ERROR_FAIL;
    return SZ_OK;
  }
  const uint64_t offset = db_->UnpackPositions[i] - db_->UnpackPositions[db_->FolderToFile[block]];
  RINOK(EnterBlock(block, offset))
  if (size > block_.Size() - offset) return SZ_ERROR_FAIL;
  return StreamFile(i, length, size);
}

// Decodes the file's bytes from the block into the sink, piece by piece.
SRes Walk::StreamFile(UInt32 i, size_t length, uint64_t size) {
  // A file that is its whole block (the archive then stores one CRC for
  // both) is checked once, as the block, before it is complete.
  const bool checkFile = SzBitWithVals_Check(&db_->CRCs, i) &&
                         !(size == block_.Size() && block_.ChecksCrc(db_->CRCs.Vals[i]));
  UInt32 crc = CRC_INIT_VAL;
  uint64_t left = size;
  bool begun = false;
  SRes res = SZ_OK;
  do {
    const Byte* data = nullptr;
    size_t piece = 0;
    if (left > 0) {
      res = block_.Read(left < kSevenZipPieceSize ? static_cast<size_t>(left) : kSevenZipPieceSize,
                        &data, &piece);
      if (res != SZ_OK) break;
      if (checkFile) crc = CrcUpdate(crc, data, piece);
      left -= piece;
    }
    if (!begun) {
      // Begun only once its first piece decoded.
      if (!sink_.BeginFile(wideName_, length, size)) return SZ_ERROR_FAIL;
      begun = true;
    }
    if (piece > 0 && !sink_.WriteFile(data, piece)) {
      res = SZ_ERROR_FAIL;
      break;
    }
  } while (left > 0);
  if (res == SZ_OK && checkFile && CRC_GET_DIGEST(crc) != db_->CRCs.Vals[i]) res = SZ_ERROR_CRC;
  // The last file of a block is complete only once the block ended whole
  // (its coders' ends, every packed byte, the block's own CRC).
  if (res == SZ_OK && block_.Position() == block_.Size()) res = block_.Finish();
  if (res != SZ_OK) {
    if (begun) sink_.DiscardFile();
    return res;
  }
  return sink_.EndFile() ? SZ_OK : SZ_ERROR_FAIL;
}

}  // namespace

SRes ExtractSevenZipArchive(ISeekInStreamPtr archive, ISzAllocPtr allocMain,
                            ISzAllocPtr allocTemp, size_t maxNameLength, SevenZipSink& sink,
                            SevenZipSecondThread* thread, uint64_t aheadFrom) {
  if (maxNameLength > kSevenZipNameCapacity) maxNameLength = kSevenZipNameCapacity;

  Byte lookBuffer[kLookBufferSize];
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, 0);
  look.buf = lookBuffer;
  look.bufSize = kLookBufferSize;
  look.realStream = archive;
  LookToRead2_INIT(&look);

  CrcGenerateTable();

  CSzArEx db;
  SzArEx_Init(&db);
  SRes result = SzArEx_Open(&db, &look.vt, allocMain, allocTemp);
  if (result == SZ_OK) {
    // The blocks are read from the archive stream itself, each packed
    // stream through a buffer of its own.
    Walk walk(archive, allocMain, sink, thread, aheadFrom);
    result = walk.Run(db, maxNameLength);
  }
  SzArEx_Free(&db, allocMain);
  return result;
}
