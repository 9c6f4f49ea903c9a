// The part of a command line that follows the program name.
#pragma once

// Returns a pointer into `commandLine` (never a copy): the whole line when it
// starts with "-"; otherwise the text after the first closing delimiter (the
// next double quote when the line starts with one, else the first space),
// leading spaces and quoting kept; the terminating NUL when there is none.
const wchar_t* CommandLineTail(const wchar_t* commandLine);
