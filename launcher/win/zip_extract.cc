#include "zip_extract.h"

#include <stdint.h>

#include "file_reader.h"
#include "parent_folders.h"

namespace {

// Writes each entry behind the extraction folder's backslash in the output
// path, creating its folders on the way.
class ZipFolderSink final : public ZipEntrySink {
 public:
  ZipFolderSink(DWORD folderLength, wchar_t* outputPath)
      : folderLength_(folderLength), outputPath_(outputPath) {}

  bool CreateFolders(const wchar_t* name, uint32_t length) override {
    return CreateParentFolders(outputPath_, folderLength_, name, length);
  }

  bool CreateOutputFile() override {
    file_ = CreateFileW(outputPath_, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
  }

  bool Write(const uint8_t* data, uint32_t size) override {
    DWORD written = 0;
    return WriteFile(file_, data, size, &written, nullptr) && written == size;
  }

  bool CloseOutputFile() override {
    const BOOL closed = CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }

 private:
  DWORD folderLength_;
  wchar_t* outputPath_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace

ZipResult ExtractZipEntries(HANDLE file, uint64_t length, DWORD folderLength, wchar_t* outputPath) {
  FileReader reader(file, length);
  ZipFolderSink sink(folderLength, outputPath);
  return WalkZipEntries(reader, folderLength, sink);
}
