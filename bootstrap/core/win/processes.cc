#include "processes.h"

#include <windows.h>

#include "command_line.h"
#include "exit_codes.h"
#include "log.h"
#include "runtime.h"

namespace tovik {
namespace {

constexpr char kApplicationInstallerLabel[] = "Application Installer";
constexpr char kRuntimeInstallerLabel[] = "Runtime Installer";

bool HasText(const wchar_t* text) { return text != nullptr && text[0] != L'\0'; }

// Logs `commandLine` as UTF-8, cut at `capacity` bytes.
void LogCommandLine(const wchar_t* commandLine, uint32_t capacity, char* utf8) {
  int written = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, utf8, static_cast<int>(capacity),
                                    nullptr, nullptr);
  if (written <= 0) {
    // The line does not fit whole: cut it at the last whole character that does.
    int length = lstrlenW(commandLine);
    written = 0;
    while (length > 0) {
      written = WideCharToMultiByte(CP_UTF8, 0, commandLine, length, utf8,
                                    static_cast<int>(capacity) - 1, nullptr, nullptr);
      if (written > 0) break;
      --length;
    }
    utf8[written > 0 ? written : 0] = '\0';
  }
  LogLaunchingSubprocess(utf8);
}

// Waits for `process` and reads its exit code into `exitCode`.
bool WaitForExit(const PROCESS_INFORMATION& process, DWORD& exitCode) {
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process.hProcess, &exitCode) != FALSE;
}

}  // namespace

bool BuildApplicationInstallerCommand(const wchar_t* options, const wchar_t* applicationPath,
                                      wchar_t* commandLine, uint32_t capacity) {
  commandLine[0] = L'\0';
  bool fits = AppendText(commandLine, capacity, L"\"Tessaro Vantel Application Installer.exe\"");
  // The options arrive quoted already, one argument each; the path is
  // always put in quotes.
  if (fits && HasText(options)) fits = AppendText(commandLine, capacity, L" ") && AppendText(commandLine, capacity, options);
  fits = fits && AppendText(commandLine, capacity, L" ") &&
         AppendArgument(commandLine, capacity, applicationPath != nullptr ? applicationPath : L"", true);
  if (!fits) commandLine[0] = L'\0';
  return fits;
}

bool BuildRuntimeInstallerCommand(const wchar_t* installerPath, const wchar_t* options,
                                  const wchar_t* applicationPath, wchar_t* commandLine,
                                  uint32_t capacity) {
  commandLine[0] = L'\0';
  bool fits = AppendProgram(commandLine, capacity, installerPath) && AppendText(commandLine, capacity, L" ") &&
              AppendText(commandLine, capacity, HasText(options) ? options : L"-x1") &&
              AppendText(commandLine, capacity, L" ") &&
              AppendArgument(commandLine, capacity, applicationPath != nullptr ? applicationPath : L"", true);
  if (!fits) commandLine[0] = L'\0';
  return fits;
}

int32_t LaunchApplicationInstaller(const wchar_t* options, const wchar_t* applicationPath) {
  wchar_t commandLine[kApplicationInstallerCommandCapacity];
  if (!BuildApplicationInstallerCommand(options, applicationPath, commandLine,
                                        kApplicationInstallerCommandCapacity)) {
    // A cut line would lose the application path: nothing is started.
    LogCommandLineTooLong(kApplicationInstallerLabel);
    return kExitFailure;
  }
  char utf8[kApplicationInstallerCommandCapacity];
  LogCommandLine(commandLine, sizeof(utf8), utf8);
  int32_t result = RunApplicationInstaller(commandLine);
  if (result != 0)
    LogSubprocessFailed(kApplicationInstallerLabel, result);
  else
    LogSubprocessSucceeded(kApplicationInstallerLabel);
  return result;
}

int32_t RunApplicationInstaller(const wchar_t* commandLine) {
  wchar_t* program = nullptr;
  if (FindApplicationInstaller(&program) != 0) return kExitFailure;
  if (program == nullptr) return kExitNoApplicationInstaller;

  int32_t result = kExitFailure;
  // CreateProcessW may write into its command line, so it gets a copy.
  const SIZE_T length = static_cast<SIZE_T>(lstrlenW(commandLine)) + 1;
  wchar_t* copy = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, length * sizeof(wchar_t)));
  if (copy != nullptr) {
    lstrcpynW(copy, commandLine, static_cast<int>(length));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const BOOL started =
        CreateProcessW(program, copy, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    if (!started) LogSubprocessNotStarted(kApplicationInstallerLabel, GetLastError());
    HeapFree(GetProcessHeap(), 0, copy);
    if (started) {
      DWORD exitCode = 0;
      if (WaitForExit(process, exitCode)) result = static_cast<int32_t>(exitCode);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  HeapFree(GetProcessHeap(), 0, program);
  return result;
}

int32_t RunRuntimeInstaller(const wchar_t* installerPath, const wchar_t* options,
                            const wchar_t* applicationPath) {
  if (installerPath == nullptr) return kExitFlowFailed;
  wchar_t commandLine[kRuntimeInstallerCommandCapacity];
  if (!BuildRuntimeInstallerCommand(installerPath, options, applicationPath, commandLine,
                                    kRuntimeInstallerCommandCapacity)) {
    // Not started, as a runtime installer that cannot be started: 16.
    LogCommandLineTooLong(kRuntimeInstallerLabel);
    return kExitRuntimeInstallerFailed;
  }
  char utf8[kRuntimeInstallerCommandCapacity];
  LogCommandLine(commandLine, sizeof(utf8), utf8);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    LogSubprocessNotStarted(kRuntimeInstallerLabel, GetLastError());
    return kExitRuntimeInstallerFailed;
  }
  DWORD exitCode = 0;
  int32_t result;
  if (!WaitForExit(process, exitCode)) {
    LogSubprocessFailed(kRuntimeInstallerLabel, kExitRuntimeInstallerFailed);
    result = kExitRuntimeInstallerFailed;
  } else if (exitCode != 0) {
    result = static_cast<int32_t>(exitCode);
    LogSubprocessFailed(kRuntimeInstallerLabel, result);
  } else {
    LogSubprocessSucceeded(kRuntimeInstallerLabel);
    result = 0;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

}  // namespace tovik
