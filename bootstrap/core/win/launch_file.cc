#include "launch_file.h"

#include <windows.h>
#include <shlwapi.h>

#include "exit_codes.h"
#include "launch_file_parse.h"

namespace tovik {
namespace {

// "<folder of this executable>\.launch" into `path`; false on failure.
bool FormLaunchFilePath(wchar_t (&path)[MAX_PATH]) {
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  if (!PathRemoveFileSpecW(path)) return false;
  return PathAppendW(path, L".launch") != FALSE;
}

}  // namespace

int32_t ReadLaunchFile(wchar_t* applicationPath) {
  wchar_t path[MAX_PATH];
  if (!FormLaunchFilePath(path)) return kExitNoLaunchFile;
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return kExitNoLaunchFile;
  // Other readers share the file: two runs started at once (a double click,
  // two deployments) read the same launch file, and with an exclusive open
  // the second would fail as if the file were missing.
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kExitNoLaunchFile;
  char bytes[kLaunchFileReadLimit];
  DWORD count = 0;
  if (!ReadFile(file, bytes, sizeof(bytes), &count, nullptr)) count = 0;
  CloseHandle(file);

  const char* relative = ParseLaunchFile(bytes, count);
  if (relative == nullptr) return kExitNoLaunchFile;

  // Back to the bootstrapper's folder, then one backslash (bounded).
  if (!PathRemoveFileSpecW(path)) return kExitNoLaunchFile;
  int used = lstrlenW(path);
  if (used + 1 >= MAX_PATH) return kExitNoLaunchFile;
  path[used++] = L'\\';
  path[used] = L'\0';
  // An empty relative path leaves the folder itself, which exists.
  if (*relative != '\0' &&
      MultiByteToWideChar(CP_UTF8, 0, relative, -1, path + used, MAX_PATH - used) <= 0) {
    return kExitNoLaunchFile;
  }
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return kExitNoLaunchFile;
  lstrcpynW(applicationPath, path, MAX_PATH);
  return 0;
}

void GetLaunchFilePath(char* buffer, uint32_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  wchar_t path[MAX_PATH];
  if (!FormLaunchFilePath(path)) return;
  if (WideCharToMultiByte(CP_UTF8, 0, path, -1, buffer, static_cast<int>(size), nullptr, nullptr) <= 0)
    buffer[0] = '\0';
}

}  // namespace tovik
