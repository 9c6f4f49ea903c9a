// A library planted beside a program, built under the names of a system
// library ("version.dll") and of an unknown one ("tvplanted.dll"). When the
// system loads it, it appends the loading program's path to the file named
// by env TV_DLL_MARKER: proof that its code ran.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"TV_DLL_MARKER", marker, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  char path[MAX_PATH + 2];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  path[length++] = '\n';
  DWORD written;
  WriteFile(file, path, length, &written, nullptr);
  CloseHandle(file);
  return TRUE;
}
