// Removal of the extraction folder and everything in it, the setup
// program's leftovers included.
#pragma once

#include <windows.h>

// Deletes `folder` (a full path of at most MAX_PATH - 1 characters) and its
// whole tree, depth first: files with a read-only attribute have it cleared
// first, folders go after their contents, and reparse points (junctions,
// symbolic links) are removed as links and never followed, so nothing
// outside the folder is touched. Paths below the folder may exceed MAX_PATH.
// Best effort: whatever cannot be deleted stays, and the walk goes on with
// the rest; nothing is reported.
void DeleteTree(const wchar_t* folder);
