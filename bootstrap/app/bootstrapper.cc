#include "bootstrapper.h"

#include <windows.h>

#include "exit_codes.h"
#include "installation_flow.h"
#include "launch_file.h"
#include "log.h"
#include "param_checker.h"
#include "processes.h"
#include "runtime.h"

namespace tovik {
namespace {

constexpr char kDownloadNotAllowedLine[] =
    "Unable to download runtime installer without -allowDownload\r\n";

// Everything after the accepted parameters; returns the run's result.
int32_t RunAfterCheck(const ParamChecker& checker, bool allowDownload, bool silent) {
  (void)silent;  // for the installation flow, below
  char narrow[MAX_PATH];
  wchar_t applicationPath[MAX_PATH];
  applicationPath[0] = L'\0';
  if (ReadLaunchFile(applicationPath) != 0) {
    // The reader of the log needs to know where the file was looked for.
    GetLaunchFilePath(narrow, sizeof(narrow));
    LogNoInstallDirectory(narrow);
    return kExitNoLaunchFile;
  }

  RuntimeVersion version = {};
  const bool runtimeFound = ReadRuntimeVersion(version) == 0;
  if (runtimeFound) {
    // Best effort: a folder that does not fit is logged empty.
    GetRuntimeFolder(narrow, sizeof(narrow));
    LogInstalledRuntime(version.major, version.minor, version.build, version.revision, narrow);
    if (version.major > 1) return LaunchApplicationInstaller(checker.optionText(), applicationPath);
  } else {
    LogNoRuntime();
  }

  if (!allowDownload) {
    LogDownloadNotAllowed();
    WriteStandardOutput(kDownloadNotAllowedLine);
    return kExitDownloadNotAllowed;
  }
  return RunInstallationFlow(checker.optionText(), silent, applicationPath, runtimeFound);
}

}  // namespace

int32_t RunBootstrapper(int argc, wchar_t** argv) {
  // Best effort: without a parent console the program simply has none.
  FreeConsole();
  AttachConsole(ATTACH_PARENT_PROCESS);

  int32_t exitCode = 0;
  bool allowDownload = false;
  bool silent = false;
  const uint32_t count = argc > 1 ? static_cast<uint32_t>(argc - 1) : 0;
  ParamChecker checker(count, count > 0 ? argv + 1 : nullptr);
  // Without the arguments or the options text the run cannot hand on what it
  // was given: it ends quietly with 5.
  if (checker.outOfMemory()) return kExitFailure;
  if (!checker.check(allowDownload, silent, exitCode)) return exitCode;
  if (checker.outOfMemory()) return kExitFailure;

  LogBootstrapperBegin();
  const int32_t result = RunAfterCheck(checker, allowDownload, silent);
  LogBootstrapperEnd(result);
  return result;
}

}  // namespace tovik
