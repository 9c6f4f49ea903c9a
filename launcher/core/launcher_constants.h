// The launcher's fixed numbers and names, shared by the launcher itself, the
// packaging tool (tvpack), the fuzzers and the tests. Portable.
#pragma once

#include <stdint.h>

// The launcher's path buffers: 260 characters with the terminator (MAX_PATH).
inline constexpr uint32_t kPathCapacity = 260;

// The exit code of every failure of the launcher itself.
inline constexpr uint32_t kLauncherFailureExitCode = 5;

// The setup program run when the payload carries no launch descriptor, and
// also the launcher's own file name. One spelling for both text forms.
#define TV_DEFAULT_SETUP_NAME "Tessaro Vantel Installer.exe"
inline constexpr char kDefaultSetupName[] = TV_DEFAULT_SETUP_NAME;
inline constexpr wchar_t kDefaultSetupNameW[] = L"" TV_DEFAULT_SETUP_NAME;
