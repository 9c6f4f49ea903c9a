// ZIP-style extraction on the launcher's own file: the portable entry walk,
// writing into the extraction folder through Windows file handles.
#pragma once

#include <windows.h>

#include "zip_entries.h"

// Unpacks the ZIP-style entry stream at the file's position into the
// extraction folder. `outputPath` holds the extraction folder path and one
// backslash (folderLength + 1 characters) in a buffer of MAX_PATH + 2
// characters. Returns the walk's result: ZipResult::kEnded on success.
ZipResult ExtractZipEntries(HANDLE file, DWORD folderLength, wchar_t* outputPath);
