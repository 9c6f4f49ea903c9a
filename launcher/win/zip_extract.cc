#include "zip_extract.h"

#include <stdint.h>

#include "file_helper.h"
#include "file_reader.h"
#include "parent_folders.h"

namespace {

// Writes each entry behind the extraction folder's backslash in the output
// path, creating its folders on the way. A small file is gathered whole and
// handed to the file helper when it closes; a larger one is written here.
class ZipFolderSink final : public ZipEntrySink {
 public:
  ZipFolderSink(DWORD folderLength, wchar_t* outputPath)
      : folderLength_(folderLength), outputPath_(outputPath) {}
  ~ZipFolderSink() {
    // A walk that stopped inside a file: the part written goes with the
    // extraction folder.
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  bool CreateFolders(const wchar_t* name, uint32_t length) override {
    return !HelperWriteFailed() && CreateParentFolders(outputPath_, folderLength_, name, length);
  }

  bool CreateOutputFile(uint32_t size) override {
    if (size <= kHelperFileLimit) return small_.Begin(outputPath_, size);
    file_ = CreateFileW(outputPath_, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
  }

  bool Write(const uint8_t* data, uint32_t size) override {
    if (small_.active()) return small_.Append(data, size);
    DWORD written = 0;
    return WriteFile(file_, data, size, &written, nullptr) && written == size;
  }

  bool CloseOutputFile() override {
    // A file that came short fails its walk already; it is not written.
    if (small_.active()) return small_.Submit(&failedHere_);
    const BOOL closed = CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }

  // The step at which a file written here (not by the helper) failed.
  FileStep failedHere() const { return failedHere_; }

 private:
  DWORD folderLength_;
  wchar_t* outputPath_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  GatheredFile small_;  // a small file being gathered
  FileStep failedHere_ = FileStep::kNone;
};

ZipResult FailureAt(FileStep step) {
  switch (step) {
    case FileStep::kCreate: return ZipResult::kCreateFailed;
    case FileStep::kWrite: return ZipResult::kWriteFailed;
    default: return ZipResult::kCloseFailed;
  }
}

}  // namespace

ZipResult ExtractZipEntries(HANDLE file, uint64_t length, DWORD folderLength, wchar_t* outputPath) {
  FileReader reader(file, length);
  ZipFolderSink sink(folderLength, outputPath);
  const ZipResult walked = WalkZipEntries(reader, folderLength, sink);
  // The files handed to the helper are written (or have failed) before the
  // run goes on with them. A file that failed there failed before whatever
  // stopped the walk after it.
  const HelperOutcome outcome = FinishFileTasks();
  if (outcome.writeFailed) return FailureAt(outcome.failedStep);
  if (sink.failedHere() != FileStep::kNone) return FailureAt(sink.failedHere());
  return walked;
}
