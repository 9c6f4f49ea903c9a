// The launch descriptor and the start of the setup program. Paths are UTF-16
// in buffers of MAX_PATH (260) characters including the terminator.
#pragma once

#include <windows.h>

// Resolves the setup program named by the descriptor's first line against
// `folder` into `setupPath`, by the descriptor rule (launch_descriptor.h).
// Always closes `descriptor`. False when the name is empty, is refused,
// names nothing that exists or a folder, or does not fit.
bool ReadLaunchDescriptor(HANDLE descriptor, const wchar_t* folder, wchar_t* setupPath);

// Opens the program at `path` for reading and lets others only read it too:
// while the handle is open the file can be neither written nor deleted nor
// renamed, so the program the shell starts is the one that was chosen.
// Starting it stays possible: the system opens a program to run for reading
// and executing, which the sharing allows. INVALID_HANDLE_VALUE when it
// cannot be opened (missing, a folder, opened for writing by someone else).
HANDLE HoldForStart(const wchar_t* path);

// Starts the setup program hidden through the shell with `parameters` and
// waits for it. `held` (from HoldForStart, or INVALID_HANDLE_VALUE) is
// closed once the shell has answered, before the wait, whatever it answered.
// False when it cannot be started or waited for; otherwise *exitCode holds
// its exit code (kLauncherFailureExitCode when that cannot be read).
bool RunSetupProgram(const wchar_t* setupPath, const wchar_t* parameters, HANDLE held,
                     DWORD* exitCode);
