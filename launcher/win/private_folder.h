// The folders the launcher makes in the temporary folder (the extraction
// folder and the relaunch folder): where they go and who may open them, from
// the launcher's token (folder_access.h). Paths are UTF-16 in fixed buffers.
#pragma once

#include <windows.h>

// Reads the launcher's token once and keeps what it learnt for the later
// calls: its user and whether it is an administrator's full token (elevated
// and the Administrators group enabled, as SYSTEM's is too). False when the
// token, its user or its groups cannot be read.
bool ReadLauncherToken();

// True when the token read by ReadLauncherToken belongs to SYSTEM.
bool RunsAsLocalSystem();

// The temporary folder for the launcher's folders into `buffer` (`capacity`
// characters including the terminator): as SYSTEM, the folder that only
// SYSTEM may open, from GetTempPath2W where kernel32 has it; otherwise, and
// on systems without it, GetTempPathW. Answers like GetTempPathW: the length
// without terminator, 0 on failure, or the capacity needed when the path
// does not fit. Reads the token first; 0 when it cannot be read.
DWORD LauncherTempPath(DWORD capacity, wchar_t* buffer);

// Creates `folder` with a protected DACL for the launcher's kind of token
// (folder_access.h) that files and folders made below it inherit. False when
// the token cannot be read, the descriptor cannot be built or the folder
// cannot be created (also when something of that name exists already).
bool CreatePrivateFolder(const wchar_t* folder);
