// Operations of the self-extracting launcher, in the order its main sequence
// calls them. Paths are UTF-16 in fixed buffers of MAX_PATH (260) characters
// including the terminator unless a contract says otherwise. Every operation
// that "fails" ends the process with exit code 5 (Fail) and never returns.
#pragma once

#include <windows.h>

#include "payload_kind.h"

// Ends the process with exit code 5: the launcher's one failure report.
[[noreturn]] void Fail();

// --- start-up hardening and self-relaunch (hardening.cc) ---

// Narrows library loading to the system folder and preloads the system
// libraries the process may pull in later. Best effort: results are ignored.
void HardenLibraryLoading();
void PreloadSystemLibraries();

// True when `folder` holds any entry (file or folder) matching "*.dll", and
// when folder plus "\*.dll" does not fit MAX_PATH (an unchecked folder is not
// known to be clean).
bool FolderHasLibraries(const wchar_t* folder);

// Creates a fresh folder named after a new GUID (or, when no GUID can be
// made, a unique name from GetTempFileNameW) in the temporary folder and
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

// When the launcher's own folder holds a library, runs a private copy of the
// whole file from a fresh GUID folder in the temporary folder with the same
// command-line tail, removes the copy and ends the process with its exit code.
// Returns only when the launcher goes on in this process.
void RelaunchIfFolderHasLibraries(const wchar_t* commandLine);

// --- payload location and ZIP-style entries (zip_extract.cc) ---

// Scans `file` from the end of the launcher's image for the first 7z or ZIP
// payload signature and leaves the file positioned on it.
PayloadKind LocatePayload(HANDLE file);

// Unpacks the ZIP-style entry stream at the file's position into the
// extraction folder. `outputPath` holds the extraction folder path and one
// backslash (folderLength + 1 characters) in a buffer of 262 characters.
void ExtractZipEntries(HANDLE file, DWORD folderLength, wchar_t* outputPath);

// Writes `name` (nameLength characters; a terminator among them is copied
// too) behind the extraction folder's backslash in `outputPath`, creating
// each folder named before a "/" from the top down. Refuses names that could
// leave the extraction folder.
void CreateParentFolders(wchar_t* outputPath, DWORD folderLength, const wchar_t* name,
                         DWORD nameLength);

// --- 7z payloads (seven_zip.cc) ---

// Unpacks the 7z archive at the file's position (the signature) in place.
void ExtractSevenZip(HANDLE file, DWORD folderLength, wchar_t* outputPath);

// --- launch descriptor and setup process (setup_process.cc) ---

// Writes `folder`, a backslash unless it ends in one, and `name` into `path`
// (MAX_PATH characters). False, with `path` undefined, when the result does
// not fit: a cut path names some other file.
bool JoinPath(wchar_t* path, const wchar_t* folder, const wchar_t* name);

// Resolves the setup program named by the descriptor's first line against
// `folder` into `setupPath`. Always closes `descriptor`. False when the name
// is empty, names nothing that exists or a folder, or does not fit.
bool ReadLaunchDescriptor(HANDLE descriptor, const wchar_t* folder, wchar_t* setupPath);

// Starts the setup program hidden through the shell with `parameters`,
// waits for it and returns its exit code (5 when that cannot be read).
DWORD RunSetupProgram(const wchar_t* setupPath, const wchar_t* parameters);

// --- main sequence (launcher_flow.cc) ---

DWORD WINAPI MessagePumpThread(void* unused);
[[noreturn]] void LauncherMain();
