// 7z payloads: the archive is read in place from the launcher's own file and
// each file is written into the extraction folder.
#pragma once

#include <windows.h>

#include <stdint.h>

// Unpacks the 7z archive whose signature lies at offset `start` of the file,
// in place; no byte at or behind offset `end` is read (the archive's end, as
// far as the decoder can tell, is there).
// `outputPath` as for ExtractZipEntries. Each block is decoded in pieces
// straight into its files (seven_zip_core.h), so memory stays bounded
// whatever the block's size. False when the archive is damaged, a name is
// refused or does not fit, a folder or file cannot be created (a second file
// of the same name included) or a write fails; the files completed before
// stay, and the part written of the file being written is deleted.
bool ExtractSevenZip(HANDLE file, uint64_t start, uint64_t end, DWORD folderLength,
                     wchar_t* outputPath);
