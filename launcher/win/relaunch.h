// The self-relaunch from a private copy. Paths are UTF-16 in fixed buffers of
// MAX_PATH (260) characters including the terminator unless a contract says
// otherwise. Nothing here ends the process.
#pragma once

#include <windows.h>

// True when `folder` holds any entry (file or folder) matching "*.dll", and
// when folder plus "\*.dll" does not fit MAX_PATH (an unchecked folder is not
// known to be clean).
bool FolderHasLibraries(const wchar_t* folder);

// Creates a fresh folder named after a new GUID (or, when no GUID can be
// made, a unique name from GetTempFileNameW) in the launcher's temporary
// folder (LauncherTempPath), open to the launcher's kind of token only
// (CreatePrivateFolder), and
// fills `copyPath` (MAX_PATH characters) with that folder, a backslash and
// "VantelInstaller.exe". False when the temporary folder cannot be read, the
// path does not fit or the folder cannot be created.
bool MakeUniqueTempFolder(wchar_t* copyPath);

// How long the outer instance waits for its copy: 30 minutes.
inline constexpr DWORD kCopyWaitMs = 30 * 60 * 1000;

// Starts `copyPath` through the shell from its own folder with `parameters`
// (none when null or empty) and waits for it up to `waitMs`. True when it was
// started; then *exitCode holds its exit code, STILL_ACTIVE (259) when it was
// still running, or its former value when the code could not be read.
bool RunCopyAndWait(const wchar_t* copyPath, const wchar_t* parameters, DWORD* exitCode,
                    DWORD waitMs = kCopyWaitMs);

// The parameters that give the copy exactly `tail` as its own command-line
// tail: the shell adds one space between program and parameters, so one
// leading space is left out. Points into `tail`.
const wchar_t* CopyParameters(const wchar_t* tail);

enum class Relaunch {
  kNotNeeded,  // the launcher's folder holds no library: go on in this process
  kDone,       // a private copy ran; *exitCode holds its exit code
  kFailed,     // the copy could not be made or started
};

// When the launcher's own folder holds a library, runs a private copy of the
// whole file from a fresh GUID folder in the temporary folder with the same
// command-line tail, waits for it and removes the copy (best effort). The
// copy is held against writing, deleting and renaming (HoldForStart) from the
// moment it is written until it has ended.
Relaunch RelaunchIfFolderHasLibraries(const wchar_t* commandLine, DWORD* exitCode);
