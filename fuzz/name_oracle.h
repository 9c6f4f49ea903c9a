// What the fuzz targets assert about every name that reaches a sink: resolved
// the way Windows resolves a relative path, it stays inside the extraction
// folder and names a file there, not a device. Written apart from
// EntryNameIsSafe on purpose, so that a fault in the rule shows as a crash.
#pragma once

#include <stddef.h>

#include <algorithm>
#include <string>

#include "entry_name.h"

namespace tvfuzz {

inline bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

inline std::wstring Upper(std::wstring s) {
  for (auto& c : s)
    if (c >= L'a' && c <= L'z') c -= L'a' - L'A';
  return s;
}

// True when the element opens a device: its part before the first dot,
// without the spaces before that dot, once the element's trailing dots and
// spaces are gone.
inline bool NamesDevice(std::wstring element) {
  while (!element.empty() && (element.back() == L'.' || element.back() == L' ')) element.pop_back();
  element = Upper(element.substr(0, element.find(L'.')));
  while (!element.empty() && element.back() == L' ') element.pop_back();
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices)
    if (element == device) return true;
  if (element.size() == 4 && (element.compare(0, 3, L"COM") == 0 || element.compare(0, 3, L"LPT") == 0)) {
    const wchar_t port = element[3];
    return (port >= L'1' && port <= L'9') || port == 0xB9 || port == 0xB2 || port == 0xB3;
  }
  return false;
}

// True when `name` (`length` characters) stays inside the folder it is
// joined to and names no device.
inline bool StaysInside(const wchar_t* name, size_t length) {
  const std::wstring path(name, length);
  if (path.find(L':') != std::wstring::npos) return false;  // drive, stream, device suffix
  if (!path.empty() && IsSeparator(path[0])) return false;   // root of the drive or a share
  long depth = 0;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::wstring element = path.substr(start, end - start);
    if (NamesDevice(element)) return false;
    // Windows drops the dots and spaces that end an element: what is left of
    // one made only of them is empty, and two dots or more go up a level.
    const bool onlyDots = element.find_first_not_of(L". ") == std::wstring::npos;
    const size_t dots = static_cast<size_t>(std::count(element.begin(), element.end(), L'.'));
    if (onlyDots && dots >= 2) {
      if (--depth < 0) return false;
    } else if (!onlyDots) {
      ++depth;
    }
    start = end + 1;
  }
  return true;
}

// Every name that reaches a sink must have passed the rule, and the rule must
// agree with the resolution above.
inline void CheckSunkName(const wchar_t* name, size_t length) {
  if (!EntryNameIsSafe(name, length) || !StaysInside(name, length)) __builtin_trap();
}

}  // namespace tvfuzz
