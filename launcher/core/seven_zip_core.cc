#include "seven_zip_core.h"

#include "7z.h"
#include "7zCrc.h"
#include "entry_name.h"

namespace {

// The look-ahead buffer of the archive stream: the SDK's classic size.
constexpr size_t kLookBufferSize = 16384;

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

}  // namespace

SRes ExtractSevenZipArchive(ISeekInStreamPtr archive, ISzAllocPtr allocMain,
                            ISzAllocPtr allocTemp, size_t maxNameLength, SevenZipSink& sink,
                            SevenZipBlocks* blocks) {
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
  if (result != SZ_OK) {
    SzArEx_Free(&db, allocMain);
    return result;
  }

  // The block cache: the last decoded solid block, kept across files so each
  // block is decoded once for all of its files.
  UInt32 blockIndex = 0xFFFFFFFF;
  Byte* outBuffer = nullptr;
  size_t outBufferSize = 0;

  UInt16* name = nullptr;
  size_t nameCapacity = 0;
  wchar_t wideName[kSevenZipNameCapacity];

  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    // An archive may leave out the names table altogether; its items then
    // have no name to be written under.
    if (!db.FileNameOffsets) {
      result = SZ_ERROR_FAIL;
      break;
    }
    // The name is checked before its block is decoded: a refused name costs
    // no decoding, and its length is bounded before a buffer is taken for it.
    const size_t length = SzArEx_GetFileNameUtf16(&db, i, nullptr);
    if (length > maxNameLength) {
      result = SZ_ERROR_FAIL;
      break;
    }
    if (length > nameCapacity) {
      ISzAlloc_Free(allocMain, name);
      nameCapacity = length;
      name = static_cast<UInt16*>(ISzAlloc_Alloc(allocMain, length * sizeof(UInt16)));
      if (!name) {
        result = SZ_ERROR_MEM;
        break;
      }
    }
    SzArEx_GetFileNameUtf16(&db, i, name);
    if (!TakeName(name, length, wideName)) {
      result = SZ_ERROR_FAIL;
      break;
    }

    if (SzArEx_IsDir(&db, i)) {
      // A folder item is made even when it holds nothing, so the unpacked
      // tree is the archive's.
      if (!sink.CreateFolder(wideName, length)) {
        result = SZ_ERROR_FAIL;
        break;
      }
      continue;
    }

    size_t offset = 0;
    size_t size = 0;
    result = blocks ? blocks->Extract(&db, &look.vt, i, &blockIndex, &outBuffer, &outBufferSize,
                                      &offset, &size, allocMain, allocTemp)
                    : SzArEx_Extract(&db, &look.vt, i, &blockIndex, &outBuffer, &outBufferSize,
                                     &offset, &size, allocMain, allocTemp);
    if (result != SZ_OK) break;

    const uint8_t* data = size ? outBuffer + offset : nullptr;
    if (!sink.WriteFile(wideName, length, data, size)) {
      result = SZ_ERROR_FAIL;
      break;
    }
  }

  if (blocks) blocks->Release();
  ISzAlloc_Free(allocMain, name);
  ISzAlloc_Free(allocMain, outBuffer);
  SzArEx_Free(&db, allocMain);
  return result;
}
