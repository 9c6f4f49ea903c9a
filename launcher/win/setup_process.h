// The launch descriptor and the start of the setup program. Paths are UTF-16
// in buffers of MAX_PATH (260) characters including the terminator.
#pragma once

#include <windows.h>

#include "setup_choice.h"

// Reads the descriptor's first line, decoded from UTF-8 as the system decodes
// it, into `name` (MAX_PATH characters with the terminator). Always closes
// `descriptor`. False when it cannot be read, is empty, or its first line
// does not fit `name`.
bool ReadLaunchDescriptor(HANDLE descriptor, wchar_t* name);

// The extraction folder as the choice of the setup program sees it
// (setup_choice.h): each name is joined to `folder` and asked of the file
// system.
class ExtractedFolder final : public SetupFolder {
 public:
  explicit ExtractedFolder(const wchar_t* folder) : folder_(folder) {}
  Kind KindOf(const wchar_t* name) override;

 private:
  const wchar_t* folder_;
};

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
