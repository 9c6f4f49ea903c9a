#include "tree_delete.h"

namespace {

// The long-path form of the folder, then each entry's name below it. The
// system's limit for such a path is 32767 characters.
constexpr DWORD kPathCapacity = 32768;
wchar_t path[kPathCapacity];

// Shared by every level of the walk: a level reads what it needs of an entry
// before it descends, and the next FindNextFileW fills it anew.
WIN32_FIND_DATAW found;

// Deeper trees are left as they are rather than risk the stack.
constexpr int kMaxDepth = 512;

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

void ClearReadOnly(DWORD attributes) {
  // Best effort: a failure shows as the delete failing.
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

// Empties the folder named by path[0, length) and removes it.
void DeleteFolder(DWORD length, DWORD attributes, int depth) {
  if (depth < kMaxDepth && length + 3 < kPathCapacity) {
    path[length] = L'\\';
    path[length + 1] = L'*';
    path[length + 2] = L'\0';
    HANDLE search = FindFirstFileW(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (IsDotOrDotDot(found.cFileName)) continue;
        const DWORD nameLength = lstrlenW(found.cFileName);
        if (length + 1 + nameLength >= kPathCapacity) continue;
        CopyMemory(path + length + 1, found.cFileName, (nameLength + 1) * sizeof(wchar_t));
        const DWORD entryAttributes = found.dwFileAttributes;
        if (entryAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          if (entryAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or a folder link: removing it leaves its target.
            ClearReadOnly(entryAttributes);
            RemoveDirectoryW(path);  // Best effort.
          } else {
            DeleteFolder(length + 1 + nameLength, entryAttributes, depth + 1);
          }
        } else {
          // A file link is deleted as the link too.
          ClearReadOnly(entryAttributes);
          DeleteFileW(path);  // Best effort.
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  path[length] = L'\0';
  ClearReadOnly(attributes);
  RemoveDirectoryW(path);  // Best effort: a folder that still holds something stays.
}

}  // namespace

void DeleteTree(const wchar_t* folder) {
  // A drive path gets the long-path prefix so that the setup program's
  // leftovers deeper than MAX_PATH go too; other forms are used as they are.
  DWORD length = 0;
  if (folder[0] != L'\0' && folder[1] == L':' && folder[2] == L'\\') {
    lstrcpynW(path, L"\\\\?\\", kPathCapacity);
    length = 4;
  }
  const DWORD folderLength = lstrlenW(folder);
  if (folderLength == 0 || length + folderLength >= kPathCapacity) return;
  CopyMemory(path + length, folder, (folderLength + 1) * sizeof(wchar_t));
  length += folderLength;
  while (length > 0 && path[length - 1] == L'\\') path[--length] = L'\0';
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveDirectoryW(path);  // Best effort: the link goes, its target stays.
    return;
  }
  DeleteFolder(length, attributes, 0);
}
