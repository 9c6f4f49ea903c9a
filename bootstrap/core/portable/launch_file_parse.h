// The bytes of the bootstrapper's ".launch" file: "Install ", the application
// file's path relative to the bootstrapper's folder (UTF-8), then four bytes
// that are not part of the text.
#pragma once

#include <stddef.h>

namespace tovik {

// At most this many bytes of the file are read.
constexpr size_t kLaunchFileReadLimit = 260;

// Given the `count` bytes read (count <= kLaunchFileReadLimit) in `bytes`,
// ends the text before the last four bytes (writing a terminator in place)
// and returns the relative path: the text after "Install ", ending early at
// a zero byte. Returns null when fewer than 4 bytes were read or the text
// does not begin with "Install " (so a usable file has at least 12 bytes).
const char* ParseLaunchFile(char* bytes, size_t count);

}  // namespace tovik
