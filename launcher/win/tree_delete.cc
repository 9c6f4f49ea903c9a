#include "tree_delete.h"

#include "file_helper.h"

namespace {

// The long-path form of the folder, then each entry's name below it. The
// system's limit for such a path is 32767 characters.
constexpr DWORD kLongPathCapacity = 32768;
wchar_t path[kLongPathCapacity];

// Shared by every level of the walk: a level reads what it needs of an entry
// before it descends, and the next FindNextFileW fills it anew.
WIN32_FIND_DATAW found;

// Deeper trees are left as they are rather than risk the stack.
constexpr int kMaxDepth = 512;

// Set by a delete that failed because something holds the entry: worth
// another try in a moment.
bool held = false;

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Notes why a delete failed.
void NoteFailure() {
  const DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
      error == ERROR_ACCESS_DENIED)
    held = true;
}

void ClearReadOnly(DWORD attributes) {
  // Best effort: a failure shows as the delete failing.
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

// Empties the folder named by path[0, length) and removes it; true when it
// is gone.
bool DeleteFolder(DWORD length, DWORD attributes, int depth) {
  if (depth < kMaxDepth && length + 3 < kLongPathCapacity) {
    path[length] = L'\\';
    path[length + 1] = L'*';
    path[length + 2] = L'\0';
    HANDLE search = FindFirstFileW(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (IsDotOrDotDot(found.cFileName)) continue;
        const DWORD nameLength = lstrlenW(found.cFileName);
        if (length + 1 + nameLength >= kLongPathCapacity) continue;
        CopyMemory(path + length + 1, found.cFileName, (nameLength + 1) * sizeof(wchar_t));
        const DWORD entryAttributes = found.dwFileAttributes;
        if (entryAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          if (entryAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or a folder link: removing it leaves its target.
            ClearReadOnly(entryAttributes);
            if (!RemoveDirectoryW(path)) NoteFailure();
          } else {
            DeleteFolder(length + 1 + nameLength, entryAttributes, depth + 1);
          }
        } else {
          // A file link is deleted as the link too. The file helper may
          // take it; this thread goes on with the walk meanwhile.
          ClearReadOnly(entryAttributes);
          if (!SubmitDelete(path, length + 1 + nameLength)) NoteFailure();
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  path[length] = L'\0';
  // The files handed to the helper go before their folder.
  const HelperOutcome outcome = FinishFileTasks();
  if (outcome.deleteHeld) held = true;
  ClearReadOnly(attributes);
  // A folder that still holds something stays.
  if (RemoveDirectoryW(path)) return true;
  NoteFailure();
  return false;
}

}  // namespace

TreeDelete DeleteTree(const wchar_t* folder) {
  // A drive path gets the long-path prefix so that the setup program's
  // leftovers deeper than MAX_PATH go too; other forms are used as they are.
  DWORD length = 0;
  if (folder[0] != L'\0' && folder[1] == L':' && folder[2] == L'\\') {
    lstrcpynW(path, L"\\\\?\\", kLongPathCapacity);
    length = 4;
  }
  const DWORD folderLength = lstrlenW(folder);
  if (folderLength == 0 || length + folderLength >= kLongPathCapacity) return TreeDelete::kStays;
  CopyMemory(path + length, folder, (folderLength + 1) * sizeof(wchar_t));
  length += folderLength;
  while (length > 0 && path[length - 1] == L'\\') path[--length] = L'\0';
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return TreeDelete::kGone;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return TreeDelete::kStays;
  held = false;
  bool gone = false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    gone = RemoveDirectoryW(path) != FALSE;  // the link goes, its target stays
    if (!gone) NoteFailure();
  } else {
    gone = DeleteFolder(length, attributes, 0);
  }
  if (gone) return TreeDelete::kGone;
  return held ? TreeDelete::kHeld : TreeDelete::kStays;
}

void DeleteTreePatiently(const wchar_t* folder, DWORD patienceMs) {
  for (DWORD waited = 0; DeleteTree(folder) == TreeDelete::kHeld && waited < patienceMs;
       waited += kDeleteRetryMs)
    Sleep(kDeleteRetryMs);
}
