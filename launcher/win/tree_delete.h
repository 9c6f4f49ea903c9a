// Removal of the extraction folder and everything in it, the setup
// program's leftovers included.
#pragma once

#include <windows.h>

// Deletes `folder` (a full path of at most MAX_PATH - 1 characters) and its
// whole tree, depth first: files with a read-only attribute have it cleared
// first, folders go after their contents, and reparse points (junctions,
// symbolic links) are removed as links and never followed, so nothing
// outside the folder is touched. Paths below the folder may exceed MAX_PATH.
// Whatever cannot be deleted stays, and the walk goes on with the rest.
enum class TreeDelete {
  kGone,   // the folder is gone (or was never there)
  kHeld,   // something stays that is in use or denied: another process may hold it
  kStays,  // something stays for another reason
};
TreeDelete DeleteTree(const wchar_t* folder);

// How long DeleteTreePatiently waits for files held for a moment (by a
// process the setup program left, a scanner): 10 s, tried every 100 ms.
inline constexpr DWORD kDeletePatienceMs = 10000;
inline constexpr DWORD kDeleteRetryMs = 100;

// DeleteTree, tried again every kDeleteRetryMs while what stays is held,
// for up to `patienceMs` in all. Best effort: what still cannot be deleted
// stays; nothing is reported.
void DeleteTreePatiently(const wchar_t* folder, DWORD patienceMs = kDeletePatienceMs);
