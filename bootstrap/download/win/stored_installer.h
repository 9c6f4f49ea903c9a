// The downloaded runtime installer once it is stored: its path and the handle
// that keeps it from being changed. The download worker fills the record; the
// installation context holds it and releases it at the end of the run.
#pragma once

#include <windows.h>

namespace tovik {

struct StoredInstaller {
  // Full path of the stored installer, allocated with new[] (not from the
  // process heap); absent (null) until the worker has stored one.
  wchar_t* path = nullptr;
  // The installer held open (reading shared, writing and deleting not)
  // until the record is released; set with `path`.
  HANDLE file = INVALID_HANDLE_VALUE;
};

// Closes the record's file, deletes the file its path names and that file's
// run folder (best effort), frees the path and leaves both absent.
void ReleaseStoredInstaller(StoredInstaller& installer);
// Closes `held` (unless INVALID_HANDLE_VALUE or null), deletes the file at
// `path` and then the folder that holds it, if empty. Best effort.
void RemoveStoredInstaller(const wchar_t* path, HANDLE held);

}  // namespace tovik
