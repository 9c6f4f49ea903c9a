// The bootstrapper's log: one line per event in a per-user UTF-8 file,
// safe to call from the main thread and the download worker at once.
//
// The file is "<CSIDL_LOCAL_APPDATA>\Tessaro\Vantel\logs\Install.log" (folders
// created as needed); a new or emptied file starts with the byte-order mark
// EF BB BF; a file larger than 524288 bytes is emptied before the next line.
// Each call opens, writes and closes the file under one process-wide lock
// (LogLock), which exists before the entry runs and is taken for good by
// the exit handlers, so a worker still logging at exit never sees it gone.
#pragma once

#include <stdint.h>

namespace tovik {

enum LogLevel : int32_t {
  ERR = 0,
  WARN = 1,
  INFO = 2,
  DEBUG = 3,  // never written
};

// Writes one line "[YYYY-MM-DD:hh:mm:ss] <message>\r\n" (message cut at 748
// bytes). Returns 0 when written (and for DEBUG), -3 for an unknown level or
// an absent format, -5 when the file cannot be opened. Callers never act on it.
int32_t Log(LogLevel level, const char* format, ...);

// One operation per message of the program; each fixes text and level.
void LogBootstrapperBegin();                            // INFO
void LogBootstrapperEnd(int32_t exitCode);              // INFO for 0, else ERR
void LogNoInstallDirectory(const char* path);           // ERR
void LogInstalledRuntime(uint32_t major, uint32_t minor, uint32_t build, uint32_t revision,
                         const char* folder);           // INFO
void LogNoRuntime();                                    // INFO
void LogDownloadNotAllowed();                           // ERR
void LogLaunchingSubprocess(const char* commandLine);   // INFO
void LogSubprocessSucceeded(const char* label);         // INFO
void LogSubprocessFailed(const char* label, int32_t code);  // ERR
void LogCommandLineTooLong(const char* label);          // ERR
void LogUpdatesDisabled();                              // ERR
void LogDownloadCancelled();                            // INFO
void LogDownloadBegin(const char* what, const char* address);  // INFO
void LogDownloadSuccess();                              // INFO
void LogDownloadFailure(const char* reason);            // ERR
// Another request of the same file after `reason` (e.g. "status 503"),
// the `retry`-th of at most `maxRetries`, after a wait of `waitMs`.
void LogDownloadRetry(const char* reason, uint32_t retry, uint32_t maxRetries, uint32_t waitMs);  // WARN
// A request for the rest of a body that stopped after `received` of
// `announced` bytes, the `resumption`-th of at most `maxResumptions`.
void LogDownloadResume(uint32_t received, uint32_t announced, uint32_t resumption,
                       uint32_t maxResumptions);  // WARN
// The server answered a request for the rest with the whole file.
void LogDownloadRestart();                              // WARN
void LogSignatureVerified(const char* kind);            // INFO
// `kind` is a fixed word of the log's texts, two spellings that readers of
// the log tell apart: "Detatched" (sic) for a signature that does not verify
// over the installer, "Detached" for a valid one whose signer fails the
// usage or name test. Neither is a typo to mend.
void LogSignatureFailed(const char* kind);              // ERR
void LogChainBegin();                                   // INFO
void LogChainSucceeded();                               // INFO
void LogChainFailed();                                  // ERR
void LogRevocationFound();                              // INFO

// A step that failed for a reason the system gave, with that error number
// and the system's text for it: "<step> failed: error <n> (<text>)", or
// "<step> failed for <object>: error <n> (<text>)" when `object` (a path or
// a name) is given. The text is the system's in its language, or "unknown
// error" when it has none.
void LogStepFailed(const char* step, const wchar_t* object, uint32_t error);  // ERR
// A step that failed for a reason of the program's own (no system error):
// "<step> failed: <reason>", or "<step> failed for <object>: <reason>".
void LogStepRefused(const char* step, const wchar_t* object, const char* reason);  // ERR
// A child that could not be started: "Subprocess <label> not started: error
// <n> (<text>)", as LogStepFailed.
void LogSubprocessNotStarted(const char* label, uint32_t error);  // ERR

}  // namespace tovik
