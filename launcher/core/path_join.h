// Bounded joining of UTF-16 paths in fixed buffers: a path that does not fit
// is refused, never cut (a cut path names some other file). Portable.
#pragma once

#include <stddef.h>

// Characters of the terminated string `text`, terminator not counted.
size_t TextLength(const wchar_t* text);

// Appends `text` to the terminated string in `buffer` (`capacity` characters
// including the terminator). False, with the buffer unchanged, when the
// result would not fit.
bool AppendText(wchar_t* buffer, size_t capacity, const wchar_t* text);

// Writes `folder`, a backslash unless it ends in one, and `name` into `path`
// (`capacity` characters including the terminator). False, with `path`
// undefined, when the result does not fit. `path` must not overlap the others.
bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* folder, const wchar_t* name);
