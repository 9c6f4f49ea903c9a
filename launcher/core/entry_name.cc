#include "entry_name.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? c - (L'a' - L'A') : c; }

// True when the `length` characters at `text` are `word` (upper case ASCII),
// ignoring case.
bool SameWord(const wchar_t* text, size_t length, const char* word) {
  size_t i = 0;
  for (; i < length && word[i] != '\0'; ++i)
    if (AsciiUpper(text[i]) != static_cast<wchar_t>(word[i])) return false;
  return i == length && word[i] == '\0';
}

bool IsPortDigit(wchar_t c) {
  // Windows also takes the superscript digits 1, 2 and 3 as port numbers.
  return (c >= L'1' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
}

// True when the element [begin, end) opens a device. Windows looks at the part
// before the first dot, without the spaces that end it, once the dots and
// spaces that end the whole element are gone ("nul", "NUL.txt", "nul .x.y",
// "con. ").
bool IsDeviceElement(const wchar_t* begin, const wchar_t* end) {
  while (end > begin && (end[-1] == L'.' || end[-1] == L' ')) --end;
  const wchar_t* stem = begin;
  while (stem < end && *stem != L'.') ++stem;
  while (stem > begin && stem[-1] == L' ') --stem;
  const size_t length = static_cast<size_t>(stem - begin);
  if (length == 3)
    return SameWord(begin, 3, "CON") || SameWord(begin, 3, "PRN") ||
           SameWord(begin, 3, "AUX") || SameWord(begin, 3, "NUL");
  if (length == 4)
    return (SameWord(begin, 3, "COM") || SameWord(begin, 3, "LPT")) && IsPortDigit(begin[3]);
  if (length == 6) return SameWord(begin, 6, "CONIN$");
  if (length == 7) return SameWord(begin, 7, "CONOUT$");
  return false;
}

// True when the element [begin, end) is made only of dots and spaces and has
// two or more dots.
bool IsParentElement(const wchar_t* begin, const wchar_t* end) {
  size_t dots = 0;
  for (const wchar_t* c = begin; c < end; ++c) {
    if (*c == L'.')
      ++dots;
    else if (*c != L' ')
      return false;
  }
  return dots >= 2;
}

}  // namespace

bool EntryNameIsSafe(const wchar_t* name, size_t length) {
  if (length > 0 && IsSeparator(name[0])) return false;
  size_t elementStart = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i < length && name[i] == L':') return false;
    if (i == length || IsSeparator(name[i])) {
      if (IsParentElement(name + elementStart, name + i)) return false;
      if (IsDeviceElement(name + elementStart, name + i)) return false;
      elementStart = i + 1;
    }
  }
  return true;
}

unsigned EntryNameChangesOnWindows(const wchar_t* name, size_t length) {
  unsigned changes = 0;
  size_t elementStart = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i == length || IsSeparator(name[i])) {
      const size_t elementLength = i - elementStart;
      const bool dotAlone = elementLength == 1 && name[elementStart] == L'.';
      if (elementLength > 0 && !dotAlone && (name[i - 1] == L'.' || name[i - 1] == L' '))
        changes |= kNameEndingDropped;
      elementStart = i + 1;
      continue;
    }
    const wchar_t c = name[i];
    if ((c >= 1 && c < 0x20) || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' ||
        c == L'*')
      changes |= kNameCharacterNotTaken;
  }
  return changes;
}

bool EntryNameKeptByWindows(const wchar_t* name, size_t length) {
  return EntryNameChangesOnWindows(name, length) == 0;
}
