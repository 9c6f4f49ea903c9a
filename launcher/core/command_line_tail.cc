#include "command_line_tail.h"

const wchar_t* CommandLineTail(const wchar_t* commandLine) {
  if (commandLine[0] == L'-') return commandLine;
  if (commandLine[0] == L'\0') return commandLine;
  const wchar_t delimiter = commandLine[0] == L'"' ? L'"' : L' ';
  const wchar_t* p = commandLine + 1;
  while (*p != L'\0') {
    if (*p == delimiter) return p + 1;
    ++p;
  }
  return p;
}
