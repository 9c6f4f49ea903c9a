// The launcher's main sequence: one straight line from start-up to its exit
// code. The operations report their failures; this is the one place that
// turns a failure into exit code 5. Once the extraction folder exists, a
// failure removes it like a finished run does: a failed run (a full disk, a
// damaged payload) leaves nothing behind that would fill the disk for the
// next one.
#include "launcher_flow.h"

#include "command_line_tail.h"
#include "hardening.h"
#include "launch_descriptor.h"
#include "launcher_constants.h"
#include "path_join.h"
#include "payload_locate.h"
#include "private_folder.h"
#include "relaunch.h"
#include "setup_choice.h"
#include "setup_process.h"
#include "seven_zip.h"
#include "system_functions.h"
#include "tree_delete.h"
#include "zip_extract.h"

namespace {

// Pumps the thread's messages until WM_QUIT or an error (a thread of its own
// for the life of the process).
DWORD WINAPI MessagePumpThread(void*) {
  MSG message;
  while (gSystem.getMessage(&message, nullptr, 0, 0) > 0) {
    gSystem.translateMessage(&message);
    gSystem.dispatchMessage(&message);
  }
  return 1;
}

constexpr DWORD kFailed = kLauncherFailureExitCode;

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
  // Best effort: without a parent console nothing changes.
  if (auto attach = OptionalKernel32Function<AttachConsoleFn>("AttachConsole"))
    attach(ATTACH_PARENT_PROCESS);
}

// Joins `name` to the extraction folder in `path` (MAX_PATH characters). A
// result that does not fit would name some other file: that is a failure.
bool JoinToExtractionFolder(wchar_t* path, const wchar_t* name) {
  return JoinPath(path, MAX_PATH, extractionFolder, name);
}

// Chooses the setup program (setup_choice.h): the descriptor's first line,
// or the default name when the payload carries no descriptor that can be
// opened.
bool ChooseSetupProgram() {
  if (!JoinToExtractionFolder(descriptorPath, kDescriptorNameW)) return false;
  HANDLE descriptor = CreateFileW(descriptorPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  wchar_t line[MAX_PATH];
  const wchar_t* named = nullptr;
  if (descriptor != INVALID_HANDLE_VALUE) {
    if (!ReadLaunchDescriptor(descriptor, line)) return false;
    named = line;
  }
  ExtractedFolder folder(extractionFolder);
  const wchar_t* chosen = nullptr;
  if (SelectSetupProgram(named, named ? lstrlenW(named) : 0, lstrlenW(extractionFolder), folder,
                         &chosen) != SetupFault::kNone)
    return false;
  return JoinToExtractionFolder(setupPath, chosen);
}

// Opens the launcher's own file and finds its payload, before anything is
// written: a package whose payload is missing, or lies outside the part its
// signature covers, ends the run here.
HANDLE OpenPayload(PayloadKind* kind, PayloadSpan* span) {
  HANDLE own = CreateFileW(ownPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
  if (own == INVALID_HANDLE_VALUE) return own;
  *kind = LocatePayload(own, span);
  if (*kind == PayloadZip || *kind == PayloadSevenZip) return own;
  CloseHandle(own);
  return INVALID_HANDLE_VALUE;
}

// Unpacks the payload that OpenPayload found into the extraction folder.
bool ExtractPayload(HANDLE own, PayloadKind kind, const PayloadSpan& span, DWORD folderLength) {
  const bool done =
      kind == PayloadSevenZip
          ? ExtractSevenZip(own, span.start, span.end, folderLength, outputPath)
          : ExtractZipEntries(own, span.end - span.start, folderLength, outputPath) ==
                ZipResult::kEnded;
  // Best effort: the file was only read.
  CloseHandle(own);
  return done;
}

// Makes the run's extraction folder, a fresh private folder in the
// temporary folder, and puts it with a backslash into the output path.
bool MakeExtractionFolder() {
  const DWORD length = LauncherTempPath(MAX_PATH + 1, tempPath);
  if (length == 0 || length > MAX_PATH) return false;
  // tvpack's kDefaultMaxFolder counts on the name this makes: three
  // characters of the prefix kept (launcher_constants.h).
  if (GetTempFileNameW(tempPath, kTempNamePrefixW, 0, extractionFolder) == 0) return false;
  // Best effort: the empty file GetTempFileNameW made gives way to a folder of
  // the same name; if it cannot be deleted (or someone else's folder took the
  // name in between), the creation fails below.
  DeleteFileW(extractionFolder);
  if (!CreatePrivateFolder(extractionFolder)) return false;
  const DWORD folderLength = lstrlenW(extractionFolder);
  lstrcpynW(outputPath, extractionFolder, MAX_PATH + 2);
  outputPath[folderLength] = L'\\';
  outputPath[folderLength + 1] = L'\0';
  return true;
}

// Unpacks the payload into the extraction folder and runs the setup program
// with `tail`; its exit code, or kFailed.
DWORD RunFromExtractionFolder(HANDLE own, PayloadKind kind, const PayloadSpan& span,
                              const wchar_t* tail) {
  if (!ExtractPayload(own, kind, span, lstrlenW(extractionFolder))) return kFailed;
  if (!ChooseSetupProgram()) return kFailed;
  // From here until the shell has started it, the chosen file stays as it is.
  HANDLE held = HoldForStart(setupPath);
  if (held == INVALID_HANDLE_VALUE) return kFailed;
  DWORD exitCode = kFailed;
  if (!RunSetupProgram(setupPath, tail, held, &exitCode)) return kFailed;
  return exitCode;
}

}  // namespace

DWORD LauncherMain() {
  HardenLibraryLoading();
  if (!LoadSystemFunctions()) return kFailed;
  const wchar_t* commandLine = GetCommandLineW();
  DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH + 1);
  if (length == 0 || length >= MAX_PATH + 1) return kFailed;
  PayloadKind kind = PayloadNone;
  PayloadSpan span;
  HANDLE own = OpenPayload(&kind, &span);
  if (own == INVALID_HANDLE_VALUE) return kFailed;

  DWORD exitCode = kFailed;
  switch (RelaunchIfFolderHasLibraries(commandLine, &exitCode)) {
    case Relaunch::kNotNeeded:
      break;
    case Relaunch::kDone:
      return exitCode;
    default:
      return kFailed;
  }

  AttachParentConsole();
  HANDLE pump = CreateThread(nullptr, 0, MessagePumpThread, nullptr, 0, nullptr);
  (void)pump;  // never used again; the thread lives until ExitProcess

  if (!MakeExtractionFolder()) return kFailed;
  exitCode = RunFromExtractionFolder(own, kind, span, CommandLineTail(commandLine));
  // Best effort: whatever cannot be deleted stays; the exit code is the
  // setup program's (or 5) either way.
  DeleteTreePatiently(extractionFolder);
  return exitCode;
}
