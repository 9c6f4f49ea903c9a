// The bootstrapper's two children: the runtime's application installer and a
// downloaded runtime installer. Each is started with the pass-through options
// and the application path, waited for without a time limit, and logged.
// Main thread only; nothing is left running on return.
#pragma once

#include <stdint.h>

namespace tovik {

// Capacities of the two command lines in characters, terminator included;
// a line that does not fit is never started.
constexpr uint32_t kApplicationInstallerCommandCapacity = 620;
constexpr uint32_t kRuntimeInstallerCommandCapacity = 2048;

// Builds "\"Tessaro Vantel Application Installer.exe\"[ <options>] <applicationPath>"
// (the path always in quotes, escaped as an argument, see command_line.h), logs it and runs the
// runtime's application installer with it. Returns the installer's exit
// code, 3 when no runtime folder is registered, or 5 when the line does not
// fit (logged, nothing started) or the installer could not be started,
// waited for or asked for its code.
// `options` may be null or empty (no options).
int32_t LaunchApplicationInstaller(const wchar_t* options, const wchar_t* applicationPath);

// Runs the application installer with `commandLine` (the program itself is
// found below the runtime folder). Returns 3, 5 or the exit code, as above.
int32_t RunApplicationInstaller(const wchar_t* commandLine);

// Runs "\"<installerPath>\" <options or -x1> <applicationPath>" (the path
// always in quotes, escaped as an argument) and returns its exit code; 11 when `installerPath`
// is null; 16 when the line does not fit (logged, nothing started) or it
// cannot be started, waited for or asked for its code. `options` may be
// null.
int32_t RunRuntimeInstaller(const wchar_t* installerPath, const wchar_t* options,
                            const wchar_t* applicationPath);

// The command lines as run above (`capacity` >= 1). False, with an empty
// line, when the whole line does not fit in `capacity` characters or the
// installer path holds a double quote.
bool BuildApplicationInstallerCommand(const wchar_t* options, const wchar_t* applicationPath,
                                      wchar_t* commandLine, uint32_t capacity);
bool BuildRuntimeInstallerCommand(const wchar_t* installerPath, const wchar_t* options,
                                  const wchar_t* applicationPath, wchar_t* commandLine,
                                  uint32_t capacity);

}  // namespace tovik
