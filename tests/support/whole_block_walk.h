// The launcher's earlier 7z walk, kept as the tests' reference: each solid
// block decoded whole into memory by the SDK's own SzArEx_Extract, its files
// handed over afterwards. The streaming walk must unpack the same trees and
// refuse the same archives; this one needs memory for a whole block.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "7z.h"
#include "7zCrc.h"
#include "entry_name.h"
#include "memory_source.h"
#include "seven_zip_core.h"

namespace tvtest {

inline SRes WholeBlockWalk(ISeekInStreamPtr archive, ISzAllocPtr alloc, size_t maxNameLength,
                           SevenZipSink& sink) {
  Byte lookBuffer[16384];
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, 0);
  look.buf = lookBuffer;
  look.bufSize = sizeof(lookBuffer);
  look.realStream = archive;
  LookToRead2_INIT(&look);
  CrcGenerateTable();
  CSzArEx db;
  SzArEx_Init(&db);
  SRes result = SzArEx_Open(&db, &look.vt, alloc, alloc);
  UInt32 blockIndex = 0xFFFFFFFF;
  Byte* outBuffer = nullptr;
  size_t outBufferSize = 0;
  UInt16 name[kSevenZipNameCapacity];
  wchar_t wide[kSevenZipNameCapacity];
  for (UInt32 i = 0; result == SZ_OK && i < db.NumFiles; ++i) {
    const size_t length = db.FileNameOffsets ? SzArEx_GetFileNameUtf16(&db, i, nullptr) : 0;
    if (length < 2 || length > maxNameLength) {
      result = SZ_ERROR_FAIL;
      break;
    }
    SzArEx_GetFileNameUtf16(&db, i, name);
    for (size_t c = 0; c < length; ++c) wide[c] = static_cast<wchar_t>(name[c]);
    for (size_t c = 0; c + 1 < length; ++c)
      if (!wide[c]) result = SZ_ERROR_FAIL;
    if (result != SZ_OK || !EntryNameIsSafe(wide, length - 1) ||
        !EntryNameKeptByWindows(wide, length - 1)) {
      result = SZ_ERROR_FAIL;
      break;
    }
    if (SzArEx_IsDir(&db, i)) {
      if (!sink.CreateFolder(wide, length)) result = SZ_ERROR_FAIL;
      continue;
    }
    size_t offset = 0;
    size_t size = 0;
    result = SzArEx_Extract(&db, &look.vt, i, &blockIndex, &outBuffer, &outBufferSize, &offset,
                            &size, alloc, alloc);
    if (result != SZ_OK) break;
    if (!sink.BeginFile(wide, length, size)) {
      result = SZ_ERROR_FAIL;
      break;
    }
    for (size_t at = 0; at < size; at += kSevenZipPieceSize) {
      const size_t piece = size - at < kSevenZipPieceSize ? size - at : kSevenZipPieceSize;
      if (!sink.WriteFile(outBuffer + offset + at, piece)) result = SZ_ERROR_FAIL;
    }
    if (result != SZ_OK) {
      sink.DiscardFile();
      break;
    }
    if (!sink.EndFile()) result = SZ_ERROR_FAIL;
  }
  ISzAlloc_Free(alloc, outBuffer);
  SzArEx_Free(&db, alloc);
  return result;
}

}  // namespace tvtest
