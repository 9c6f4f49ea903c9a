// ZIP-style extraction on the launcher's own file: the portable entry walk,
// writing into the extraction folder through Windows file handles.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "zip_entries.h"

// Unpacks the ZIP-style entry stream at the file's position into the
// extraction folder, reading no further than `length` bytes from there (the
// end of the part the payload may come from). `outputPath` holds the extraction folder path and one
// backslash (folderLength + 1 characters) in a buffer of MAX_PATH + 2
// characters. Returns the walk's result: ZipResult::kEnded on success.
ZipResult ExtractZipEntries(HANDLE file, uint64_t length, DWORD folderLength, wchar_t* outputPath);
