#include "log.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>

#include "log_format.h"
#include "version.h"

namespace tovik {
namespace {

constexpr DWORD kLogSizeCap = 524288;
constexpr DWORD kPathCapacity = MAX_PATH;

// The one lock of the log. It is a static object so that it exists before the
// entry runs (the download worker starts only later) and is released by the
// run-time's exit handlers when the process ends.
class LogLock {
 public:
  LogLock() { InitializeCriticalSection(&section_); }
  // The download worker is never joined and may still be logging while the
  // exit handlers run: deleting the section under it would be undefined. So
  // the exit handler takes the lock for good (after any line in progress)
  // and the section goes with the process; a later Log call from the worker
  // waits until the process ends it, and one from this thread, which owns
  // the section, still goes through.
  ~LogLock() { EnterCriticalSection(&section_); }
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;

  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

LogLock logLock;

// Fills `path` with "<local app data>\Tessaro\Vantel\logs\Install.log",
// creating the folders on the way. Leaves it empty when the shell has no
// local application-data folder to offer.
void FormLogPath(wchar_t (&path)[kPathCapacity]) {
  path[0] = L'\0';
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path))) {
    path[0] = L'\0';
    return;
  }
  if (!PathAppendW(path, L"Tessaro\\Vantel\\logs\\")) {
    path[0] = L'\0';
    return;
  }
  // Best effort: an existing folder is fine, a missing one fails the open.
  SHCreateDirectoryExW(nullptr, path, nullptr);
  if (!PathAppendW(path, L"Install")) {
    path[0] = L'\0';
    return;
  }
  // Bounded on purpose: a cut name still opens (or fails to) on its own.
  lstrcpynW(path + lstrlenW(path), L".log", kPathCapacity - lstrlenW(path));
}

// How long a line waits for another process's line before it is written
// without the file lock (and then, likely, lost to the exclusive open).
constexpr DWORD kFileLockWaitMs = 10000;

// The lock shared by every process that writes the log file at `path`: a
// named mutex whose name is derived from the path (case folded, as the file
// system folds it). Created once and kept for the process's life; null when
// none can be had.
HANDLE FileLock(const wchar_t* path) {
  static HANDLE lock = nullptr;
  static unsigned long long lockKey = 0;
  // FNV-1a over the upper-cased path.
  wchar_t folded[kPathCapacity];
  lstrcpynW(folded, path, kPathCapacity);
  CharUpperBuffW(folded, static_cast<DWORD>(lstrlenW(folded)));
  unsigned long long key = 14695981039346656037ull;
  for (const wchar_t* p = folded; *p != L'\0'; ++p) {
    key ^= static_cast<unsigned short>(*p);
    key *= 1099511628211ull;
  }
  if (lock != nullptr && key == lockKey) return lock;
  if (lock != nullptr) CloseHandle(lock);
  lock = nullptr;
  wchar_t name[64];
  static const wchar_t* const kNamespaces[] = {L"Global\\", L"Local\\"};
  for (const wchar_t* prefix : kNamespaces) {
    // "<prefix>TessaroVantelLog-" and sixteen hexadecimal digits.
    lstrcpynW(name, prefix, 64);
    lstrcatW(name, L"TessaroVantelLog-");
    wchar_t* digits = name + lstrlenW(name);
    for (int i = 0; i < 16; ++i) digits[i] = L"0123456789abcdef"[(key >> (60 - 4 * i)) & 0xF];
    digits[16] = L'\0';
    lock = CreateMutexW(nullptr, FALSE, name);
    // The global namespace may be closed to this user; the session's serves
    // every run of one logon.
    if (lock != nullptr) break;
  }
  lockKey = key;
  return lock;
}

int32_t WriteLine(const char* format, va_list args) {
  wchar_t path[kPathCapacity];
  FormLogPath(path);
  if (path[0] == L'\0') return -5;

  // The line is formed first, so that the file is held only for one write.
  static const unsigned char kByteOrderMark[3] = {0xEF, 0xBB, 0xBF};
  char line[sizeof(kByteOrderMark) + kLogTimestampCapacity + kLogMessageCapacity + 2];
  size_t length = sizeof(kByteOrderMark);
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogTime time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  char stamp[kLogTimestampCapacity];
  const size_t stampLength = FormatLogTimestamp(stamp, time);
  memcpy(line + length, stamp, stampLength);
  length += stampLength;
  char message[kLogMessageCapacity];
  const size_t messageLength = FormatLogMessage(message, format, args);
  memcpy(line + length, message, messageLength);
  length += messageLength;
  line[length++] = '\r';
  line[length++] = '\n';

  // Other processes write the same file: the check for the size cap, the
  // emptying and the line are one step for all of them.
  HANDLE lock = FileLock(path);
  DWORD waited = lock != nullptr ? WaitForSingleObject(lock, kFileLockWaitMs) : WAIT_FAILED;
  // An abandoned lock is ours all the same: its owner ended mid-line.
  const bool locked = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;

  int32_t result = -5;
  // Opened for appending: each write lands at the end, wherever another
  // writer left the file.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER size = {};
  if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.QuadPart > kLogSizeCap) {
    CloseHandle(file);
    file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    size.QuadPart = 0;
  }
  if (file != INVALID_HANDLE_VALUE) {
    const size_t skip = size.QuadPart == 0 ? 0 : sizeof(kByteOrderMark);
    if (skip == 0) memcpy(line, kByteOrderMark, sizeof(kByteOrderMark));
    DWORD written = 0;
    // Best effort: a failed write loses the line and nothing else.
    WriteFile(file, line + skip, static_cast<DWORD>(length - skip), &written, nullptr);
    CloseHandle(file);
    result = 0;
  }
  if (locked) ReleaseMutex(lock);
  return result;
}

// The system's text for `error` in UTF-8, without the line end it comes
// with; "unknown error" when the system has none.
void SystemErrorText(uint32_t error, char* text, int capacity) {
  wchar_t wide[256];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, wide,
                                sizeof(wide) / sizeof(wide[0]), nullptr);
  while (length > 0 && (wide[length - 1] == L'\r' || wide[length - 1] == L'\n' || wide[length - 1] == L' ')) --length;
  wide[length] = L'\0';
  if (length == 0 || WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, capacity, nullptr, nullptr) == 0) {
    lstrcpynA(text, "unknown error", capacity);
  }
}

// `object` in UTF-8; empty when absent or not convertible.
void ObjectText(const wchar_t* object, char* text, int capacity) {
  text[0] = '\0';
  if (object != nullptr && WideCharToMultiByte(CP_UTF8, 0, object, -1, text, capacity, nullptr, nullptr) == 0) {
    text[0] = '\0';
  }
}

// Room for a path of MAX_PATH characters in UTF-8.
constexpr int kObjectCapacity = 3 * MAX_PATH;
constexpr int kReasonCapacity = 512;

}  // namespace

int32_t Log(LogLevel level, const char* format, ...) {
  if (level == DEBUG) return 0;
  if (level != ERR && level != WARN && level != INFO) return -3;
  logLock.Enter();
  int32_t result = -3;
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    result = WriteLine(format, args);
    va_end(args);
  }
  logLock.Leave();
  return result;
}

// The results of the calls below are ignored on purpose: a failed log line
// never changes a run.

void LogBootstrapperBegin() {
#ifdef TOVIK_TRUSTS_TEST_ROOT
  // Whoever reads the log of such a build learns that it is no product.
  Log(INFO, "%s begin with version %s on %s %s (test build: trusts the test root certificate)", "Bootstrapper",
      kVersionText, "Win", "x86");
#else
  Log(INFO, "%s begin with version %s on %s %s", "Bootstrapper", kVersionText, "Win", "x86");
#endif
}

void LogBootstrapperEnd(int32_t exitCode) {
  Log(exitCode == 0 ? INFO : ERR, "%s end with exit code %d", "Bootstrapper", exitCode);
}

void LogNoInstallDirectory(const char* path) {
  Log(ERR, "Could not locate native install directory (\"%s\")", path);
}

void LogInstalledRuntime(uint32_t major, uint32_t minor, uint32_t build, uint32_t revision,
                         const char* folder) {
  Log(INFO, "Installed runtime (%d.%d.%d.%d) located at %s", static_cast<int>(major),
      static_cast<int>(minor), static_cast<int>(build), static_cast<int>(revision), folder);
}

void LogNoRuntime() { Log(INFO, "No installed runtime detected"); }

void LogDownloadNotAllowed() {
  Log(ERR, "Unable to download runtime installer without -allowDownload");
}

void LogLaunchingSubprocess(const char* commandLine) {
  Log(INFO, "Launching subprocess with commandline %s", commandLine);
}

void LogCommandLineTooLong(const char* label) {
  Log(ERR, "Subprocess %s not started: command line too long", label);
}

void LogSubprocessSucceeded(const char* label) { Log(INFO, "Subprocess %s succeeded", label); }

void LogSubprocessFailed(const char* label, int32_t code) {
  Log(ERR, "Subprocess %s failed (%d)", label, code);
}

void LogUpdatesDisabled() {
  Log(ERR, "Cannot complete installation because runtime updates are disabled on this machine");
}

void LogDownloadCancelled() { Log(INFO, "Download cancelled"); }

void LogDownloadBegin(const char* what, const char* address) {
  Log(INFO, "Begin %s download from %s", what, address);
}

void LogDownloadSuccess() { Log(INFO, "Download success"); }

void LogDownloadFailure(const char* reason) { Log(ERR, "Download failure: %s", reason); }

void LogDownloadRetry(const char* reason, uint32_t retry, uint32_t maxRetries, uint32_t waitMs) {
  Log(WARN, "Download retry %u of %u in %u ms after %s", static_cast<unsigned>(retry),
      static_cast<unsigned>(maxRetries), static_cast<unsigned>(waitMs), reason);
}

void LogDownloadResume(uint32_t received, uint32_t announced, uint32_t resumption, uint32_t maxResumptions) {
  Log(WARN, "Download interrupted after %u of %u bytes, resumption %u of %u", static_cast<unsigned>(received),
      static_cast<unsigned>(announced), static_cast<unsigned>(resumption), static_cast<unsigned>(maxResumptions));
}

void LogDownloadRestart() { Log(WARN, "Download restarted from the beginning: the server sent the whole file"); }

void LogSignatureVerified(const char* kind) { Log(INFO, "%s signature verified", kind); }

void LogSignatureFailed(const char* kind) { Log(ERR, "%s signature validation failed", kind); }

void LogChainBegin() { Log(INFO, "Begin cert chain validation"); }

void LogChainSucceeded() { Log(INFO, "Cert chain validation succeeded"); }

void LogChainFailed() { Log(ERR, "Cert chain validation failed"); }

void LogRevocationFound() { Log(INFO, "Cert revocation found"); }

void LogStepFailed(const char* step, const wchar_t* object, uint32_t error) {
  char reason[kReasonCapacity];
  SystemErrorText(error, reason, kReasonCapacity);
  char named[kObjectCapacity];
  ObjectText(object, named, kObjectCapacity);
  if (named[0] != '\0') {
    Log(ERR, "%s failed for %s: error %u (%s)", step, named, static_cast<unsigned>(error), reason);
  } else {
    Log(ERR, "%s failed: error %u (%s)", step, static_cast<unsigned>(error), reason);
  }
}

void LogStepRefused(const char* step, const wchar_t* object, const char* reason) {
  char named[kObjectCapacity];
  ObjectText(object, named, kObjectCapacity);
  if (named[0] != '\0') {
    Log(ERR, "%s failed for %s: %s", step, named, reason);
  } else {
    Log(ERR, "%s failed: %s", step, reason);
  }
}

void LogSubprocessNotStarted(const char* label, uint32_t error) {
  char reason[kReasonCapacity];
  SystemErrorText(error, reason, kReasonCapacity);
  Log(ERR, "Subprocess %s not started: error %u (%s)", label, static_cast<unsigned>(error), reason);
}

}  // namespace tovik
