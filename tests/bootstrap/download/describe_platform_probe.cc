// Writes what DescribePlatform and BuildDownloadAddresses answer in this
// process to the file named by its argument, one "key=value" per line.
#include <windows.h>

#include <stdio.h>

#include "describe_platform.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  tovik::PlatformDescriptor d;
  d.majorVersion = 77;
  tovik::DescribePlatform(&d);
  char installer[512] = "";
  char signature[512] = "";
  bool built = tovik::BuildDownloadAddresses(installer, sizeof(installer), signature, sizeof(signature));
  char text[1400];
  int n = snprintf(text, sizeof(text), "platform=%d\nversion=%d.%d\narchitecture=%d\nbuilt=%d\ninstaller=%s\nsignature=%s\n",
                   (int)d.platform, (int)d.majorVersion, (int)d.minorVersion, (int)d.architecture, built ? 1 : 0,
                   installer, signature);
  HANDLE h = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  DWORD wrote = 0;
  WriteFile(h, text, (DWORD)n, &wrote, nullptr);
  CloseHandle(h);
  return 0;
}
