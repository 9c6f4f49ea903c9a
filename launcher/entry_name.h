// Safety rule for names taken from a payload (ZIP-style or 7z entries).
#pragma once

#include <stddef.h>

// True when `name` (`length` characters, no terminator counted) stays inside
// the extraction folder: no leading "/" or "\", no ":" anywhere (drive letters,
// alternate data streams), and no element made only of dots and spaces with
// two or more dots ("..", "...", ". ." - Windows drops trailing dots and
// spaces from path elements, so these can all mean the parent folder). Both
// "/" and "\" separate elements for this check.
bool EntryNameIsSafe(const wchar_t* name, size_t length);
