// Benchmark helper (Windows side): a setup program that does nothing but
// write the system time at its start (100 ns units since 1601, decimal) to
// the file named by TV_STAMP, and exit with 0.
#include <windows.h>

#include <stdio.h>

int wmain() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  wchar_t path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"TV_STAMP", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 0;
  char text[32];
  const int length = snprintf(text, sizeof(text), "%llu",
                              (static_cast<unsigned long long>(now.dwHighDateTime) << 32) |
                                  now.dwLowDateTime);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  WriteFile(file, text, length, &written, nullptr);
  CloseHandle(file);
  return 0;
}
