// Test program: writes `count` log lines "<tag> line <i>" as fast as it can,
// so that two of it running at once contend for the log file.
// Usage: log_writer_probe.exe <tag> <count>
#include <windows.h>

#include <stdlib.h>

#include "log.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  char tag[64];
  if (WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, tag, sizeof(tag), nullptr, nullptr) == 0) return 2;
  const int count = _wtoi(argv[2]);
  for (int i = 0; i < count; ++i) {
    if (tovik::Log(tovik::INFO, "%s line %d", tag, i) != 0) return 1;
  }
  return 0;
}
