// The bootstrapper's own exit codes. A child's exit code passes through
// unchanged, so a child that ends with one of these values cannot be told
// apart from the bootstrapper's own; no remapping is done.
#pragma once

#include <stdint.h>

namespace tovik {

// "-version" was printed, or the installer that ran ended with 0.
inline constexpr int32_t kExitOk = 0;
// The command line was rejected; the usage line was printed.
inline constexpr int32_t kExitUsage = 2;
// The runtime is installed, but its application installer was not found.
inline constexpr int32_t kExitNoApplicationInstaller = 3;
// The run could not go on: no memory for the arguments or the application
// installer's path, or that installer could not be started, waited for or
// asked for its code (also: its command line did not fit).
inline constexpr int32_t kExitFailure = 5;
// No usable runtime is installed and downloading is not allowed.
inline constexpr int32_t kExitDownloadNotAllowed = 10;
// The installation flow failed or was cancelled (also the download worker's
// general failure, and a runtime installer run without a stored installer).
inline constexpr int32_t kExitFlowFailed = 11;
// The ".launch" file is missing or malformed, or names no existing file.
inline constexpr int32_t kExitNoLaunchFile = 12;
// The downloaded runtime installer failed its signature checks.
inline constexpr int32_t kExitValidationFailed = 13;
// The download server has no runtime installer for this platform (HTTP 404).
inline constexpr int32_t kExitUpdateUnavailable = 14;
// Policy does not allow updates of an installed runtime.
inline constexpr int32_t kExitUpdateBlocked = 15;
// The runtime installer could not be started, waited for or asked for its
// code, or its command line did not fit.
inline constexpr int32_t kExitRuntimeInstallerFailed = 16;

}  // namespace tovik
