// The launch descriptor and the start of the setup program. Paths are UTF-16
// in buffers of MAX_PATH (260) characters including the terminator.
#pragma once

#include <windows.h>

// Resolves the setup program named by the descriptor's first line against
// `folder` into `setupPath`, by the descriptor rule (launch_descriptor.h).
// Always closes `descriptor`. False when the name is empty, is refused,
// names nothing that exists or a folder, or does not fit.
bool ReadLaunchDescriptor(HANDLE descriptor, const wchar_t* folder, wchar_t* setupPath);

// Starts the setup program hidden through the shell with `parameters` and
// waits for it. False when it cannot be started or waited for; otherwise
// *exitCode holds its exit code (kLauncherFailureExitCode when that cannot
// be read).
bool RunSetupProgram(const wchar_t* setupPath, const wchar_t* parameters, DWORD* exitCode);
