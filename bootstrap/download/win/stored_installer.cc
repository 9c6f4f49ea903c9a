// Removal of the stored runtime installer and its run folder; shared by the
// worker and whoever releases the installation's context.
#include "stored_installer.h"

#include <shlwapi.h>

namespace tovik {

void RemoveStoredInstaller(const wchar_t* path, HANDLE held) {
  // The handle goes first: while it is open, nobody may delete the file.
  if (held != INVALID_HANDLE_VALUE && held != nullptr) CloseHandle(held);
  // Best effort: a file that cannot be deleted stays, and so does its folder.
  DeleteFileW(path);
  wchar_t folder[MAX_PATH];
  lstrcpynW(folder, path, MAX_PATH);
  // Best effort: a folder that still holds something stays.
  if (PathRemoveFileSpecW(folder)) RemoveDirectoryW(folder);
}

void ReleaseStoredInstaller(StoredInstaller& installer) {
  if (installer.path != nullptr) RemoveStoredInstaller(installer.path, installer.file);
  delete[] installer.path;
  installer.path = nullptr;
  installer.file = INVALID_HANDLE_VALUE;
}

}  // namespace tovik
