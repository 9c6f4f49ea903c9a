#include "parent_folders.h"

#include "entry_name.h"

namespace {

// The folders the last name made or found, as the leading part of that name
// up to and including its last "/": a later name that starts with the same
// folders needs none of them made again (nothing removes a folder while the
// payload is unpacked). Kept for one output buffer and folder length.
struct MadeFolders {
  const wchar_t* outputPath = nullptr;
  DWORD folderLength = 0;
  DWORD length = 0;  // characters of `name` that are known folders
  wchar_t name[MAX_PATH + 2];
};
MadeFolders made;

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// The folder at `path` exists now: made, or there before. A file of that name
// is no folder.
bool FolderReady(const wchar_t* path) {
  if (CreateDirectoryW(path, nullptr)) return true;
  if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool CreateParentFolders(wchar_t* outputPath, DWORD folderLength, const wchar_t* name,
                         DWORD nameLength) {
  DWORD visible = 0;
  while (visible < nameLength && name[visible] != L'\0') ++visible;
  if (!EntryNameIsSafe(name, visible)) return false;
  // The buffer holds MAX_PATH + 2 characters: the folder, its backslash and
  // the name with its terminator.
  if (folderLength + 1 + nameLength > MAX_PATH + 2) return false;
  if (made.outputPath != outputPath || made.folderLength != folderLength) {
    made.outputPath = outputPath;
    made.folderLength = folderLength;
    made.length = 0;
  }
  // Folders this name shares with the last one, whole levels only.
  DWORD known = 0;
  for (DWORD i = 0; i < made.length && i < visible && name[i] == made.name[i]; ++i)
    if (IsSeparator(name[i])) known = i + 1;
  wchar_t* target = outputPath + folderLength + 1;
  CopyMemory(target, name, known * sizeof(wchar_t));
  DWORD last = known;
  for (DWORD i = known; i < nameLength; ++i) {
    if (IsSeparator(name[i])) {
      target[i] = L'\0';
      if (!FolderReady(outputPath)) {
        // Nothing below the failed folder is known to exist.
        made.length = 0;
        return false;
      }
      last = i + 1;
    }
    target[i] = name[i];
  }
  CopyMemory(made.name, name, last * sizeof(wchar_t));
  made.length = last;
  return true;
}
