#include "seven_zip.h"

#include "7zAlloc.h"
#include "decode_thread.h"
#include "file_helper.h"
#include "file_reader.h"
#include "parent_folders.h"
#include "seven_zip_core.h"

// The decoder holds the six 7z signature bytes as a constant in the image. A
// payload scan that met them followed, 32 bytes on, by 00 would take the
// image itself for a 7z payload. The linker sorts ".rdata$" sections by name,
// so this section of 40 bytes 0xFF lies directly behind the constant's
// (".rdata$k7zSignature", see CMakeLists.txt); its alignment (4 or 16) leaves
// a gap of at most 15 bytes after the 6 signature bytes, so byte 32 is 0xFF.
// The link keeps only sections that something refers to: ExtractSevenZip
// reads the guard, so it stays.
asm(".section .rdata$k7zSignatureGuard,\"dr\"\n"
    "tv_7zSignatureGuard:\n\t.fill 40,1,0xff\n\t.text");
extern "C" const unsigned char k7zSignatureGuard[40] asm("tv_7zSignatureGuard");

namespace {

// The launcher's file as the decoder's stream, cut at `end`: reads stop
// there and the decoder's "end of file" is there, so an archive whose
// headers point beyond it is damaged, not read from outside the part a
// signature covers.
struct BoundedFileStream {
  ISeekInStream vt;
  HANDLE file;
  uint64_t position;  // the file pointer, kept here so reads need no query
  uint64_t end;
};

SRes BoundedRead(ISeekInStreamPtr p, void* buffer, size_t* size) {
  BoundedFileStream* s = Z7_CONTAINER_FROM_VTBL(p, BoundedFileStream, vt);
  const uint64_t left = s->position < s->end ? s->end - s->position : 0;
  // One call reads at most 1 GiB: a DWORD holds it on every build.
  DWORD wanted = static_cast<DWORD>(*size < (1u << 30) ? *size : (1u << 30));
  if (wanted > left) wanted = static_cast<DWORD>(left);
  *size = 0;
  if (wanted == 0) return SZ_OK;
  DWORD read = 0;
  if (!ReadFile(s->file, buffer, wanted, &read, nullptr)) return SZ_ERROR_READ;
  s->position += read;
  *size = read;
  return SZ_OK;
}

SRes BoundedSeek(ISeekInStreamPtr p, Int64* pos, ESzSeek origin) {
  BoundedFileStream* s = Z7_CONTAINER_FROM_VTBL(p, BoundedFileStream, vt);
  Int64 base = 0;
  if (origin == SZ_SEEK_CUR) base = static_cast<Int64>(s->position);
  if (origin == SZ_SEEK_END) base = static_cast<Int64>(s->end);
  const Int64 to = base + *pos;
  if (to < 0 || !SeekTo(s->file, static_cast<uint64_t>(to))) return SZ_ERROR_READ;
  s->position = static_cast<uint64_t>(to);
  *pos = to;
  return SZ_OK;
}

// Writes each file behind the extraction folder's backslash in the output
// path, creating its folders on the way. A small file reaches the file
// helper only once its CRC has matched (so a damaged one is never created).
class ExtractionFolderSink final : public SevenZipSink {
 public:
  ExtractionFolderSink(DWORD folderLength, wchar_t* outputPath)
      : folderLength_(folderLength), outputPath_(outputPath) {}

  bool CreateFolder(const wchar_t* name, size_t nameLength) override {
    // With a separator behind it, the folder's own name is one of the
    // folders on the way.
    wchar_t folder[kSevenZipNameCapacity + 1];
    CopyMemory(folder, name, (nameLength - 1) * sizeof(wchar_t));
    folder[nameLength - 1] = L'/';
    folder[nameLength] = L'\0';
    return !HelperWriteFailed() &&
           CreateParentFolders(outputPath_, folderLength_, folder,
                               static_cast<DWORD>(nameLength + 1));
  }

  bool BeginFile(const wchar_t* name, size_t nameLength, uint64_t size) override {
    // The output path keeps the file's name until the next file begins, so
    // that DiscardFile can delete it. Creating it also refuses a second file
    // of the same name.
    return !HelperWriteFailed() &&
           CreateParentFolders(outputPath_, folderLength_, name, static_cast<DWORD>(nameLength)) &&
           file_.Create(outputPath_, size);
  }

  bool WriteFile(const uint8_t* data, size_t size) override { return file_.Write(data, size); }

  // Every byte came: the core checked the file's size and CRC.
  bool EndFile() override { return file_.Close(); }

  void DiscardFile() override { file_.Discard(); }

 private:
  DWORD folderLength_;
  wchar_t* outputPath_;
  OutputFile file_;
};

}  // namespace

bool ExtractSevenZip(HANDLE file, uint64_t start, uint64_t end, DWORD folderLength,
                     wchar_t* outputPath) {
  if (k7zSignatureGuard[0] != 0xFF) return false;
  BoundedFileStream archive = {{BoundedRead, BoundedSeek}, file, start, end};
  if (!SeekTo(file, start)) return false;

  const ISzAlloc allocMain = {SzAlloc, SzFree};
  const ISzAlloc allocTemp = {SzAlloc, SzFree};

  ExtractionFolderSink sink(folderLength, outputPath);
  const bool done = ExtractSevenZipArchive(&archive.vt, &allocMain, &allocTemp,
                                           SevenZipMaxNameLength(folderLength), sink,
                                           DecodeThread()) == SZ_OK;
  // The files handed to the helper are written (or have failed) before the
  // run goes on with them.
  return !FinishFileTasks().writeFailed && done;
}
