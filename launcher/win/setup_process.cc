#include "setup_process.h"

#include "launch_descriptor.h"
#include "path_join.h"
#include "system_functions.h"

bool ReadLaunchDescriptor(HANDLE descriptor, wchar_t* name) {
  char bytes[kDescriptorBytes + 1];
  DWORD read = 0;
  const BOOL ok = ReadFile(descriptor, bytes, kDescriptorBytes, &read, nullptr);
  // Best effort: the descriptor was only read.
  CloseHandle(descriptor);
  if (!ok || read == 0) return false;

  bytes[DescriptorLineLength(bytes, read)] = '\0';

  // A first line of 260 bytes needs 261 characters with its terminator: the
  // decoding then fails instead of leaving an unterminated name.
  return MultiByteToWideChar(CP_UTF8, 0, bytes, -1, name, MAX_PATH) != 0;
}

SetupFolder::Kind ExtractedFolder::KindOf(const wchar_t* name) {
  wchar_t joined[MAX_PATH];
  if (!JoinPath(joined, MAX_PATH, folder_, name)) return Kind::kNothing;
  const DWORD attributes = GetFileAttributesW(joined);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Kind::kNothing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::kFolder : Kind::kFile;
}

HANDLE HoldForStart(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool RunSetupProgram(const wchar_t* setupPath, const wchar_t* parameters, HANDLE held,
                     DWORD* exitCode) {
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
  const BOOL started = gSystem.shellExecuteEx(&info);
  // Best effort: the file was only read. Once the process exists its image is
  // mapped; the setup program may then do with its own file what it likes.
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (!started) return false;
  // A start without a process handle also ends here: the wait fails on NULL.
  if (WaitForSingleObject(info.hProcess, INFINITE) == WAIT_FAILED) return false;
  if (!GetExitCodeProcess(info.hProcess, exitCode)) *exitCode = kLauncherFailureExitCode;
  // Best effort: the process has ended; its handle is released at exit anyway.
  CloseHandle(info.hProcess);
  return true;
}
