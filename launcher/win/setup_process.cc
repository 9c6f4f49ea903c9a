// The launch descriptor and the start of the setup program.
#include "launcher.h"

#include "system_functions.h"

#include "entry_name.h"

namespace {

constexpr DWORD kDescriptorBytes = 260;

}  // namespace

bool JoinPath(wchar_t* path, const wchar_t* folder, const wchar_t* name) {
  const int folderLength = lstrlenW(folder);
  const int nameLength = lstrlenW(name);
  const int separator = folderLength > 0 && folder[folderLength - 1] == L'\\' ? 0 : 1;
  if (folderLength + separator + nameLength >= MAX_PATH) return false;
  CopyMemory(path, folder, folderLength * sizeof(wchar_t));
  if (separator) path[folderLength] = L'\\';
  CopyMemory(path + folderLength + separator, name, (nameLength + 1) * sizeof(wchar_t));
  return true;
}

bool ReadLaunchDescriptor(HANDLE descriptor, const wchar_t* folder, wchar_t* setupPath) {
  char bytes[kDescriptorBytes + 1];
  DWORD read = 0;
  const BOOL ok = ReadFile(descriptor, bytes, kDescriptorBytes, &read, nullptr);
  // Best effort: the descriptor was only read.
  CloseHandle(descriptor);
  if (!ok || read == 0) return false;

  // Only the first line counts. CR and LF never occur inside a multi-byte
  // UTF-8 sequence, so cutting the bytes gives the same name as cutting the
  // decoded text, and a long second line cannot make the first one fail.
  DWORD lineLength = 0;
  while (lineLength < read && bytes[lineLength] != '\r' && bytes[lineLength] != '\n') ++lineLength;
  bytes[lineLength] = '\0';
  if (bytes[0] == '\0') return false;

  // A first line of 260 bytes needs 261 characters with its terminator: the
  // decoding then fails instead of leaving an unterminated name.
  wchar_t name[MAX_PATH];
  if (MultiByteToWideChar(CP_UTF8, 0, bytes, -1, name, MAX_PATH) == 0) return false;
  if (name[0] == L'\0') return false;
  // The same rule as for the payload's entries: a relative name inside the
  // extraction folder, never "..\x.exe", "C:\x.exe", "\x.exe" or a device.
  if (!EntryNameIsSafe(name, lstrlenW(name))) return false;

  wchar_t joined[MAX_PATH];
  if (!JoinPath(joined, folder, name)) return false;

  // A folder would be opened by the shell instead of being run.
  const DWORD attributes = GetFileAttributesW(joined);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  lstrcpynW(setupPath, joined, MAX_PATH);
  return true;
}

DWORD RunSetupProgram(const wchar_t* setupPath, const wchar_t* parameters) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // The launcher never shows a window: without SEE_MASK_FLAG_NO_UI the shell
  // would put up its own error box for a program that cannot be started, and
  // the launcher would hang on it instead of ending with 5.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = nullptr;
  info.lpVerb = L"open";
  info.lpFile = setupPath;
  info.lpParameters = parameters;
  info.lpDirectory = nullptr;
  info.nShow = SW_HIDE;
  if (!gSystem.shellExecuteEx(&info)) Fail();
  // A start without a process handle also ends here: the wait fails on NULL.
  if (WaitForSingleObject(info.hProcess, INFINITE) == WAIT_FAILED) Fail();
  DWORD exitCode = 5;
  if (!GetExitCodeProcess(info.hProcess, &exitCode)) exitCode = 5;
  // Best effort: the process has ended; its handle is released at exit anyway.
  CloseHandle(info.hProcess);
  return exitCode;
}
