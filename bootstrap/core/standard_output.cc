// Standard output of the bootstrapper: the console it attached to, a pipe or
// a file. WriteFile serves all three; the console-only call fails on pipes.
#include <windows.h>
#include <string.h>

#include "param_checker_core.h"

namespace tovik {

void WriteStandardOutput(const char* text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  // Best effort: there is nowhere else to report a lost line.
  WriteFile(out, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

}  // namespace tovik
