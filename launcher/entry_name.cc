#include "entry_name.h"

static bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool EntryNameIsSafe(const wchar_t* name, size_t length) {
  if (length > 0 && IsSeparator(name[0])) return false;
  size_t elementStart = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i < length && name[i] == L':') return false;
    if (i == length || IsSeparator(name[i])) {
      size_t dots = 0;
      bool onlyDotsAndSpaces = true;
      for (size_t k = elementStart; k < i; ++k) {
        if (name[k] == L'.')
          ++dots;
        else if (name[k] != L' ')
          onlyDotsAndSpaces = false;
      }
      if (onlyDotsAndSpaces && dots >= 2) return false;
      elementStart = i + 1;
    }
  }
  return true;
}
