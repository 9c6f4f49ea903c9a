// A library planted beside a program, built under the names of system
// libraries ("version.dll", "wininet.dll", ...) and of an unknown one
// ("tvplanted.dll"). When the system loads it, it appends the loading
// program's path to the file named by env TV_DLL_MARKER, then its own path:
// proof that its code ran. It exports nothing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"TV_DLL_MARKER", marker, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  char line[2 * MAX_PATH + 4];
  DWORD length = GetModuleFileNameA(nullptr, line, MAX_PATH);
  line[length++] = ' ';
  length += GetModuleFileNameA(self, line + length, MAX_PATH);
  line[length++] = '\n';
  DWORD written;
  WriteFile(file, line, length, &written, nullptr);
  CloseHandle(file);
  return TRUE;
}
