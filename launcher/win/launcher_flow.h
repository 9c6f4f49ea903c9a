// The launcher's main sequence.
#pragma once

#include <windows.h>

// Hardens, finds the payload in the part of its file a signature would
// cover, relaunches when needed, unpacks the payload, runs the setup program
// and removes the extraction folder (waiting up to kDeletePatienceMs for
// files held a moment). Returns the exit code for the process: the setup
// program's (or the relaunched copy's) exit code, or
// kLauncherFailureExitCode (5) once anything fails; a failure removes the
// extraction folder the same way first.
DWORD LauncherMain();
