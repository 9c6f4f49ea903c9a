// The folders on the way to each unpacked file, for both payload kinds.
#pragma once

#include <windows.h>

// Writes `name` (nameLength characters; a terminator among them is copied
// too) behind the extraction folder's backslash in `outputPath` (a buffer of
// MAX_PATH + 2 characters holding the extraction folder, `folderLength`
// characters, and one backslash), creating each folder named before a "/" or
// "\" from the top down (a name ending in one names a folder: it is made
// too). False when the name could leave the extraction folder
// (EntryNameIsSafe), does not fit the buffer, or a folder can be neither
// created nor found as a folder (a file of its name is in the way);
// `outputPath` is then undefined behind the backslash.
bool CreateParentFolders(wchar_t* outputPath, DWORD folderLength, const wchar_t* name,
                         DWORD nameLength);
