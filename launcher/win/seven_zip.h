// 7z payloads: the archive is read in place from the launcher's own file and
// each file is written into the extraction folder.
#pragma once

#include <windows.h>

// Unpacks the 7z archive at the file's position (the signature) in place.
// `outputPath` as for ExtractZipEntries. False when the archive is damaged,
// a name is refused or does not fit, a folder or file cannot be created (a
// second file of the same name included) or a write fails; what was written
// before stays.
bool ExtractSevenZip(HANDLE file, DWORD folderLength, wchar_t* outputPath);
