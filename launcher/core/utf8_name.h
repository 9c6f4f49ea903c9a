// UTF-8 names: the launcher's strict decoding of entry names, and the
// system's lenient one (MultiByteToWideChar with CP_UTF8 and no flags) that
// tvpack and the tests use to show a name the launcher refuses. Portable.
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

// The same, but 0 also when any byte starts no well-formed sequence: the
// launcher's own decoding of entry names, which refuses a name it would
// otherwise unpack under another name.
uint32_t DecodeUtf8NameStrict(const uint8_t* bytes, uint32_t size, wchar_t* name,
                              uint32_t capacity);
