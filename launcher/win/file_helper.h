// A second thread for the run's many small file operations. Each create,
// write-out and delete of a small file is mostly waiting for the system
// (under Wine, for its server), and two of them at once take little more
// than one: the helper takes whole small files to write and files to delete
// from a queue, while the main thread decodes, writes the large files, or
// takes queued work itself when it has nothing else to do.
//
// The helper starts with the first task handed over and lives until the
// process ends. Where it cannot start (a system without condition variables,
// no thread to be had), nothing is ever queued and the callers do every
// operation themselves, as they would without it.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

// The step at which a file failed.
enum class FileStep { kNone, kCreate, kWrite, kClose };

// A small file gathered whole: its full path and its bytes.
struct FileTask;

// The largest file handed to the helper whole; larger ones are written in
// pieces by the caller.
inline constexpr uint64_t kHelperFileLimit = 256u << 10;

// One output file of an extraction, as both extraction sinks write it: a
// small file is gathered whole and handed to the helper when it closes; a
// larger one is created at once and written here, piece by piece.
class OutputFile {
 public:
  ~OutputFile() { Discard(); }
  // Starts a file of `size` bytes at `path`, which must name it until Close
  // or Discard; it must not exist yet. False when it cannot be created (a
  // large one) or memory is short (a small one).
  bool Create(const wchar_t* path, uint64_t size);
  // False when the bytes cannot be written, or would go beyond the size
  // announced.
  bool Write(const uint8_t* data, size_t size);
  // Completes the file: a small one is queued for the helper when there is
  // room, else written here and now. False when it cannot be completed here,
  // when a small one came short of its size (nothing is written then), or
  // when a file handed to the helper failed already. A small file written
  // here that fails leaves its step in `failed`, where given; a large one's
  // failures show in the call that met them.
  bool Close(FileStep* failed = nullptr);
  // Gives the file up: a large one is closed and deleted, a small one
  // forgotten (nothing of it was written). Nothing when no file is open.
  void Discard();

 private:
  const wchar_t* path_ = nullptr;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  FileTask* task_ = nullptr;  // a small file being gathered
  size_t size_ = 0;
  size_t filled_ = 0;
};

// Deletes the file `path` (`pathLength` characters): queued when there is
// room, else done here (a failure then shows in GetLastError). True when
// queued or deleted.
bool SubmitDelete(const wchar_t* path, DWORD pathLength);

// What the queued operations met since the last FinishFileTasks.
struct HelperOutcome {
  bool writeFailed;  // a file could not be created, written or closed (it was removed)
  FileStep failedStep;  // where the first of them failed
  bool deleteHeld;   // a delete failed because something holds the file
};
// Cheap, at any time: a queued file could not be written, so the extraction
// has failed already.
bool HelperWriteFailed();
// Carries out whatever is still queued, taking tasks itself while the helper
// works on others, waits until the helper is idle, and returns what the
// queued operations met (and forgets it).
HelperOutcome FinishFileTasks();
