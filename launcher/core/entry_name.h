// Safety rule for names taken from a payload (ZIP-style or 7z entries) and for
// the setup program that the launch descriptor names.
#pragma once

#include <stddef.h>

// True when `name` (`length` characters, no terminator counted) names a file
// or folder inside the extraction folder:
// - no leading "/" or "\", and no ":" anywhere (drive letters, alternate data
//   streams);
// - no element made only of dots and spaces with two or more dots ("..",
//   "...", ". ." - Windows drops trailing dots and spaces from path elements,
//   so these can all mean the parent folder);
// - no element that Windows opens as a device instead of a file: CON, PRN,
//   AUX, NUL, COM1 to COM9, LPT1 to LPT9 (also with the superscript digits 1,
//   2 and 3), CONIN$ and CONOUT$, in any case, alone or followed by an
//   extension ("nul.txt"), by trailing dots or spaces ("con. ", "aux .txt").
// Both "/" and "\" separate elements for this check.
bool EntryNameIsSafe(const wchar_t* name, size_t length);

// What Windows would change in `name` (`length` characters), as a set of
// the bits below; 0 when it keeps the name as it is written. Both "/" and "\"
// separate elements.
enum : unsigned {
  // a character Windows does not take in a file name: U+0001 to U+001F,
  // < > " | ? *
  kNameCharacterNotTaken = 1u << 0,
  // an element that ends in a dot or a space, which Windows drops (an
  // element "." alone excepted)
  kNameEndingDropped = 1u << 1,
};
unsigned EntryNameChangesOnWindows(const wchar_t* name, size_t length);

// True when Windows keeps `name` (`length` characters) as it is written, so
// the file or folder comes out under the name the payload gives it
// (EntryNameChangesOnWindows finds nothing).
bool EntryNameKeptByWindows(const wchar_t* name, size_t length);
