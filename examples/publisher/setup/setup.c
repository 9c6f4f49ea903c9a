/* The publisher's setup program, started by the installer package from the
 * folder it unpacked: it checks that the application came along and ends
 * with the exit code given as its first argument (0 without one), or 1 when
 * the application is missing. */
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  char* slash = strrchr(path, '\\');
  if (!slash || (size_t)(slash - path) + sizeof("\\hello.exe") > MAX_PATH) return 1;
  strcpy(slash, "\\hello.exe");
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return 1;
  return argc > 1 ? atoi(argv[1]) : 0;
}
