// The self-relaunch: a launcher whose folder holds anything named "*.dll"
// (libraries a later load might take from there) goes on from a private copy
// in a fresh folder instead.
#include "relaunch.h"

#include "command_line_tail.h"
#include "path_join.h"
#include "private_folder.h"
#include "setup_process.h"
#include "system_functions.h"
#include "tree_delete.h"

namespace {

constexpr wchar_t kCopyName[] = L"VantelInstaller.exe";

// Cuts `path` at its last backslash; a path without one stays as it is.
void RemoveLastElement(wchar_t* path) {
  wchar_t* last = nullptr;
  for (wchar_t* p = path; *p; ++p)
    if (*p == L'\\') last = p;
  if (last) *last = L'\0';
}

}  // namespace

bool FolderHasLibraries(const wchar_t* folder) {
  wchar_t pattern[MAX_PATH];
  lstrcpynW(pattern, folder, MAX_PATH);
  // A folder that cannot be checked is not known to be clean.
  if (lstrlenW(folder) >= MAX_PATH || !AppendText(pattern, MAX_PATH, L"\\*.dll")) return true;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool MakeUniqueTempFolder(wchar_t* copyPath) {
  wchar_t tempPath[MAX_PATH];
  const DWORD length = LauncherTempPath(MAX_PATH, tempPath);
  if (length == 0 || length >= MAX_PATH) return false;

  bool named = false;
  GUID guid;
  if (SUCCEEDED(gSystem.coCreateGuid(&guid))) {
    wchar_t guidText[MAX_PATH];
    if (gSystem.stringFromGuid2(guid, guidText, MAX_PATH) > 0) {
      lstrcpynW(copyPath, tempPath, MAX_PATH);
      if (!AppendText(copyPath, MAX_PATH, guidText)) return false;
      named = true;
    }
  }
  if (!named) {
    // A unique name from the system instead: the empty file it creates is
    // deleted so that the folder can take its name.
    if (GetTempFileNameW(tempPath, L"QZT", 0, copyPath) == 0) return false;
    if (!DeleteFileW(copyPath)) return false;
  }

  wchar_t folder[MAX_PATH];
  if (!AppendText(copyPath, MAX_PATH, L"\\")) return false;
  lstrcpynW(folder, copyPath, MAX_PATH);
  if (!AppendText(copyPath, MAX_PATH, kCopyName)) return false;
  return CreatePrivateFolder(folder);
}

bool RunCopyAndWait(const wchar_t* copyPath, const wchar_t* parameters, DWORD* exitCode,
                    DWORD waitMs) {
  wchar_t folder[MAX_PATH];
  lstrcpynW(folder, copyPath, MAX_PATH);
  RemoveLastElement(folder);

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // No shell error box: a copy that cannot be started must end the launcher
  // with 5, not leave it waiting on a window nobody expects from it.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = gSystem.getForegroundWindow();
  info.lpVerb = L"open";
  info.lpFile = copyPath;
  info.lpParameters = (parameters && parameters[0]) ? parameters : nullptr;
  info.lpDirectory = folder;
  info.nShow = SW_SHOWNORMAL;
  if (!gSystem.shellExecuteEx(&info)) return false;
  if (!info.hProcess) return true;  // nothing to wait for; the exit code stays as it is

  // A copy still running after the wait is treated as ended: its exit code
  // then reads STILL_ACTIVE (259).
  WaitForSingleObject(info.hProcess, waitMs);
  // Best effort: when the code cannot be read, *exitCode keeps its value.
  GetExitCodeProcess(info.hProcess, exitCode);
  CloseHandle(info.hProcess);
  return true;
}

namespace {

// Writes the private copy of `ownPath` to `copyPath`, runs it with `tail` and
// waits for it. False when it could not be written or started.
bool CopyAndRun(const wchar_t* ownPath, const wchar_t* copyPath, const wchar_t* tail,
                DWORD* exitCode) {
  if (!CopyFileW(ownPath, copyPath, TRUE)) return false;
  // The copy stays as it was written until it has ended; it only reads
  // itself, which the sharing allows.
  HANDLE held = HoldForStart(copyPath);
  if (held == INVALID_HANDLE_VALUE) return false;
  const bool ran = RunCopyAndWait(copyPath, CopyParameters(tail), exitCode);
  // Best effort: the file was only read.
  CloseHandle(held);
  return ran;
}

}  // namespace

const wchar_t* CopyParameters(const wchar_t* tail) {
  // The shell puts one space between the program and its parameters; leaving
  // out one leading space gives the copy the very tail this launcher got.
  return tail[0] == L' ' ? tail + 1 : tail;
}

Relaunch RelaunchIfFolderHasLibraries(const wchar_t* commandLine, DWORD* exitCode) {
  wchar_t ownPath[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return Relaunch::kFailed;
  wchar_t folder[MAX_PATH + 1];
  lstrcpynW(folder, ownPath, MAX_PATH + 1);
  RemoveLastElement(folder);
  if (!FolderHasLibraries(folder)) return Relaunch::kNotNeeded;

  *exitCode = 0;
  wchar_t copyPath[MAX_PATH];
  if (!MakeUniqueTempFolder(copyPath)) return Relaunch::kFailed;
  const bool ran = CopyAndRun(ownPath, copyPath, CommandLineTail(commandLine), exitCode);

  wchar_t copyFolder[MAX_PATH];
  lstrcpynW(copyFolder, copyPath, MAX_PATH);
  RemoveLastElement(copyFolder);
  // Best effort: the folder goes with the copy, also after a failure (a copy
  // cut short by a full disk). A copy that still runs keeps its file and
  // folder; one that has ended may still hold them (its image, its current
  // folder) for a moment after its process handle was signalled.
  if (ran && *exitCode == STILL_ACTIVE)
    DeleteTree(copyFolder);
  else
    DeleteTreePatiently(copyFolder);
  return ran ? Relaunch::kDone : Relaunch::kFailed;
}
