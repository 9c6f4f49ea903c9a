// Benchmark helper (Windows side): the floor of an extraction. Copies the
// tree below the folder it is given into a fresh folder in the temporary
// folder with nothing but CreateDirectoryW, CreateFileW and WriteFile (1 MiB
// pieces), reading each file first: what any unpacker must at least do to
// write the same files. Prints the folder it made; the caller deletes it.
// Usage: floor_writer.exe <source folder>
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

namespace {

char buffer[1 << 20];

bool CopyFileData(const wchar_t* from, const wchar_t* to) {
  HANDLE in = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  HANDLE out = CreateFileW(to, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = out != INVALID_HANDLE_VALUE;
  for (DWORD got = 0; ok && ReadFile(in, buffer, sizeof(buffer), &got, nullptr) && got > 0;) {
    DWORD written = 0;
    ok = WriteFile(out, buffer, got, &written, nullptr) && written == got;
  }
  CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) ok = CloseHandle(out) && ok;
  return ok;
}

bool CopyTree(const wchar_t* from, const wchar_t* to) {
  wchar_t pattern[MAX_PATH];
  swprintf(pattern, MAX_PATH, L"%ls\\*", from);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L"..")) continue;
    wchar_t source[MAX_PATH], target[MAX_PATH];
    swprintf(source, MAX_PATH, L"%ls\\%ls", from, found.cFileName);
    swprintf(target, MAX_PATH, L"%ls\\%ls", to, found.cFileName);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ok = CreateDirectoryW(target, nullptr) && CopyTree(source, target);
    else
      ok = CopyFileData(source, target);
  } while (ok && FindNextFileW(find, &found));
  FindClose(find);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  wchar_t temp[MAX_PATH], folder[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, temp) || !GetTempFileNameW(temp, L"flo", 0, folder)) return 3;
  // GetTempFileNameW made a file of that name: the folder takes its place.
  if (!DeleteFileW(folder) || !CreateDirectoryW(folder, nullptr)) return 3;
  const bool ok = CopyTree(argv[1], folder);
  char line[MAX_PATH * 3];
  const int n = WideCharToMultiByte(CP_UTF8, 0, folder, -1, line, sizeof(line) - 1, nullptr, nullptr);
  if (n > 0) {
    line[n - 1] = '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, n, &written, nullptr);
  }
  return ok ? 0 : 1;
}
