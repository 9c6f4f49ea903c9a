#include "zip_extract.h"

#include <stdint.h>

#include "file_helper.h"
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
    return !HelperWriteFailed() && CreateParentFolders(outputPath_, folderLength_, name, length);
  }

  bool CreateOutputFile(uint32_t size) override { return file_.Create(outputPath_, size); }

  bool Write(const uint8_t* data, uint32_t size) override { return file_.Write(data, size); }

  // A small file that came short fails its walk already; it is not written.
  bool CloseOutputFile() override { return file_.Close(&failedHere_); }

  // The step at which a small file written here (not by the helper) failed.
  FileStep failedHere() const { return failedHere_; }

 private:
  DWORD folderLength_;
  wchar_t* outputPath_;
  OutputFile file_;
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
