// The launcher's main sequence: one straight line from start-up to
// ExitProcess. Every failure ends the process with exit code 5 at once and
// leaves the extraction folder behind.
#include "launcher.h"

#include "command_line_tail.h"
#include "system_functions.h"
#include "tree_delete.h"

void Fail() { ExitProcess(5); }

DWORD WINAPI MessagePumpThread(void*) {
  MSG message;
  while (gSystem.getMessage(&message, nullptr, 0, 0) > 0) {
    gSystem.translateMessage(&message);
    gSystem.dispatchMessage(&message);
  }
  return 1;
}

namespace {

// State of the run, in fixed buffers for its whole length.
wchar_t ownPath[MAX_PATH + 1];
wchar_t tempPath[MAX_PATH + 1];
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
// result that does not fit would name some other file: that is a failure.
void JoinToExtractionFolder(wchar_t* path, const wchar_t* name) {
  if (!JoinPath(path, extractionFolder, name)) Fail();
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

}  // namespace

void LauncherMain() {
  HardenLibraryLoading();
  if (!LoadSystemFunctions()) Fail();
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

  // Best effort: whatever cannot be deleted stays; the exit code is the
  // setup program's either way.
  DeleteTree(extractionFolder);
  ExitProcess(exitCode);
}
