// The launcher's main sequence: one straight line from start-up to
// ExitProcess. Every failure ends the process with exit code 5 at once and
// leaves the extraction folder behind.
#include "launcher.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "command_line_tail.h"

void Fail() { ExitProcess(5); }

DWORD WINAPI MessagePumpThread(void*) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 1;
}

namespace {

// State of the run, in fixed buffers for its whole length.
wchar_t ownPath[MAX_PATH + 1];
wchar_t tempPath[MAX_PATH + 1];
// The extraction folder path with a second terminating NUL behind the first,
// so it is also a double-NUL-terminated list for SHFileOperationW.
wchar_t extractionFolder[MAX_PATH + 1];
// The extraction folder, one backslash, then each entry's relative name.
wchar_t outputPath[MAX_PATH + 2];
wchar_t descriptorPath[MAX_PATH];
wchar_t setupPath[MAX_PATH];

void AttachParentConsole() {
  using AttachConsoleFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  auto attach = reinterpret_cast<AttachConsoleFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "AttachConsole")));
  // Best effort: without a parent console nothing changes.
  if (attach) attach(ATTACH_PARENT_PROCESS);
}

// Joins `name` to the extraction folder in `path` (MAX_PATH characters). A
// result that does not fit would leave the folder itself as the file to open:
// that is a failure, checked here rather than left to PathAppendW.
void JoinToExtractionFolder(wchar_t* path, const wchar_t* name) {
  if (lstrlenW(extractionFolder) + 1 + lstrlenW(name) >= MAX_PATH) Fail();
  lstrcpynW(path, extractionFolder, MAX_PATH);
  if (!PathAppendW(path, name)) Fail();
}

// Chooses the setup program: the descriptor's first line, or the default name
// when the payload carries no descriptor that can be opened.
void ChooseSetupProgram() {
  JoinToExtractionFolder(descriptorPath, L".launch");
  HANDLE descriptor = CreateFileW(descriptorPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (descriptor == INVALID_HANDLE_VALUE) {
    JoinToExtractionFolder(setupPath, L"Tessaro Vantel Installer.exe");
    return;
  }
  if (!ReadLaunchDescriptor(descriptor, extractionFolder, setupPath)) Fail();
}

void DeleteExtractionFolder() {
  SHFILEOPSTRUCTW operation = {};
  operation.hwnd = nullptr;
  operation.wFunc = FO_DELETE;
  operation.pFrom = extractionFolder;
  operation.pTo = nullptr;
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  // Best effort: whatever cannot be deleted stays.
  SHFileOperationW(&operation);
}

}  // namespace

void LauncherMain() {
  HardenLibraryLoading();
  const wchar_t* commandLine = GetCommandLineW();
  RelaunchIfFolderHasLibraries(commandLine);

  AttachParentConsole();
  HANDLE pump = CreateThread(nullptr, 0, MessagePumpThread, nullptr, 0, nullptr);
  (void)pump;  // never used again; the thread lives until ExitProcess

  DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH + 1);
  if (length == 0 || length >= MAX_PATH + 1) Fail();
  length = GetTempPathW(MAX_PATH + 1, tempPath);
  if (length == 0 || length > MAX_PATH) Fail();
  if (GetTempFileNameW(tempPath, L"Vantel", 0, extractionFolder) == 0) Fail();
  // Best effort: the empty file GetTempFileNameW made gives way to a folder of
  // the same name; if it cannot be deleted, CreateDirectoryW fails below.
  DeleteFileW(extractionFolder);
  if (!CreateDirectoryW(extractionFolder, nullptr)) Fail();

  const DWORD folderLength = lstrlenW(extractionFolder);
  lstrcpynW(outputPath, extractionFolder, MAX_PATH + 2);
  outputPath[folderLength] = L'\\';
  outputPath[folderLength + 1] = L'\0';
  extractionFolder[folderLength + 1] = L'\0';

  HANDLE payload = CreateFileW(ownPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
  if (payload == INVALID_HANDLE_VALUE) Fail();
  switch (LocatePayload(payload)) {
    case PayloadSevenZip:
      ExtractSevenZip(payload, folderLength, outputPath);
      break;
    case PayloadZip:
      ExtractZipEntries(payload, folderLength, outputPath);
      break;
    default:
      Fail();
  }
  CloseHandle(payload);
  const wchar_t* tail = CommandLineTail(commandLine);

  ChooseSetupProgram();
  DWORD exitCode = RunSetupProgram(setupPath, tail);

  DeleteExtractionFolder();
  ExitProcess(exitCode);
}
