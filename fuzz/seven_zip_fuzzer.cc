// 7z archives through the launcher's open-and-extract flow, into memory.
//
// The decoder checks the CRCs of the signature header and of the header, so
// mutated archives would almost never open. The input is therefore not an
// archive but what one is made of - 2 bytes little-endian: the length H of
// the header; H bytes: the header; the rest: the packed streams - and the
// harness lays them out as an archive (packed streams, then the header) behind
// a signature header with both CRCs right, so that mutations reach the header
// parser and the names. The header comes first in the input so that a length
// limit cuts the packed data, not the names. (seven_zip_seeds.py turns
// archives into this form.)
//
// Every name that reaches the sink must pass the name rule and stay inside
// the folder.
#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>

#include "7zAlloc.h"
#include "memory_archive.h"
#include "name_oracle.h"
#include "seven_zip_core.h"

using namespace tvtest;

namespace {

// Headers may declare any size and dictionary; an allocation larger than
// this is refused as the launcher's allocator would refuse one larger than
// memory. Blocks are decoded in pieces, so only dictionaries and buffers
// come through here; a lower bound keeps the executions fast.
constexpr size_t kLargestBlock = 1u << 20;

// The blocks handed out and not yet freed. The decoder loses a few bytes when
// a header repeats a time property (its reader overwrites the earlier bit
// vector); the launcher ends right after extracting, so that costs nothing
// there, and the harness frees what is left after each run instead of
// reporting it. Releases by the launcher's own code are checked by the unit
// tests under the leak checker.
std::set<void*> live;

void* CappedAlloc(ISzAllocPtr p, size_t size) {
  void* block = size > kLargestBlock ? nullptr : SzAlloc(p, size);
  if (block) live.insert(block);
  return block;
}

void TrackedFree(ISzAllocPtr p, void* address) {
  live.erase(address);
  SzFree(p, address);
}

void CheckName(const wchar_t* name, size_t nameLength) {
  if (nameLength < 2 || nameLength > kSevenZipNameCapacity || name[nameLength - 1] != L'\0')
    __builtin_trap();
  for (size_t i = 0; i + 1 < nameLength; ++i)
    if (name[i] == L'\0') __builtin_trap();
  tvfuzz::CheckSunkName(name, nameLength - 1);
}

// Checks the sink's protocol as well: pieces only inside a begun file, no
// more bytes than the file's size, and a completed file whole.
struct CheckingSink final : SevenZipSink {
  bool open = false;
  uint64_t size = 0;
  uint64_t got = 0;

  bool CreateFolder(const wchar_t* name, size_t nameLength) override {
    if (open) __builtin_trap();
    CheckName(name, nameLength);
    return true;
  }
  bool BeginFile(const wchar_t* name, size_t nameLength, uint64_t fileSize) override {
    if (open) __builtin_trap();
    CheckName(name, nameLength);
    open = true;
    size = fileSize;
    got = 0;
    return true;
  }
  bool WriteFile(const uint8_t* data, size_t pieceSize) override {
    if (!open || pieceSize == 0 || pieceSize > kSevenZipPieceSize || got + pieceSize > size)
      __builtin_trap();
    got += pieceSize;
    // Touch every byte handed over: the sanitizers see a bad offset or size.
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < pieceSize; ++i) sum = sum + data[i];
    return true;
  }
  bool EndFile() override {
    if (!open || got != size) __builtin_trap();
    open = false;
    return true;
  }
  void DiscardFile() override {
    if (!open) __builtin_trap();
    open = false;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t headerSize = data[0] | (data[1] << 8);
  if (headerSize > size - 2) headerSize = size - 2;
  const std::string header(reinterpret_cast<const char*>(data) + 2, headerSize);
  const std::string packedBytes(reinterpret_cast<const char*>(data) + 2 + headerSize,
                                size - 2 - headerSize);
  const std::string archive = SevenZipArchive(packedBytes, header);

  MemoryArchive stream(reinterpret_cast<const uint8_t*>(archive.data()), archive.size());
  CheckingSink sink;
  const ISzAlloc alloc = {CappedAlloc, TrackedFree};
  ExtractSevenZipArchive(&stream.vt, &alloc, &alloc, kSevenZipNameCapacity, sink);
  if (sink.open) __builtin_trap();
  for (void* block : live) SzFree(&alloc, block);
  live.clear();
  return 0;
}
