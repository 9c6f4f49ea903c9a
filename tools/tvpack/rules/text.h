// Text helpers of the packaging tool: strict UTF-8, UTF-16 names and the
// case folding Windows applies to file names. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// Decodes `utf8` strictly into UTF-16 units in `*wide` (wchar_t holds one
// unit per element, whatever its width). False on any ill-formed sequence:
// stray continuation bytes, overlong forms, surrogates, code points above
// U+10FFFF, a sequence cut short.
bool DecodeUtf8(const std::string& utf8, std::wstring* wide);

// Decodes like the system's UTF-8 conversion without flags: every
// ill-formed sequence becomes U+FFFD (DecodeUtf8Name, launcher/core). Used
// to see names as the launcher sees them.
std::wstring DecodeUtf8Lenient(const uint8_t* bytes, size_t size);

// UTF-16 units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string EncodeUtf8(const wchar_t* wide, size_t length);
inline std::string EncodeUtf8(const std::wstring& wide) { return EncodeUtf8(wide.data(), wide.size()); }

// Folds `name` for comparison as Windows compares file names: upper case
// for ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters.
std::wstring FoldCase(const std::wstring& name);

// `text` with bytes that are not printable ASCII or valid UTF-8 shown as
// \xNN, for messages.
std::string Printable(const std::string& text);
