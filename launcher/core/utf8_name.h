// UTF-8 as the launcher's system decodes an entry name (MultiByteToWideChar
// with CP_UTF8 and no flags): the one decoder that tvpack, the tests and the
// fuzzers use to see names as the launcher sees them. Portable; the launcher
// itself calls the system.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The well-formed UTF-8 sequence at `bytes` (`size` bytes available): its
// length (1 to 4) with its code point in *c, or 0 when it is ill-formed
// (stray continuation byte, overlong form, surrogate, above U+10FFFF, cut
// short).
size_t Utf8Sequence(const uint8_t* bytes, size_t size, uint32_t* c);

// Decodes `size` bytes into at most `capacity` UTF-16 units at `name` (one
// unit per wchar_t, whatever its width): every well-formed sequence to its
// units (a surrogate pair above U+FFFF), every byte that starts no
// well-formed sequence to U+FFFD. Returns the number of units; 0 when `size`
// is 0 or the units do not fit.
uint32_t DecodeUtf8Name(const uint8_t* bytes, uint32_t size, wchar_t* name, uint32_t capacity);
