// Windows-side helpers for tests that run under Wine: scratch folders, child
// processes with their own environment, files, and the paths of this build.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace tvtest {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// "Z:\..." form of a Unix path of this machine (Wine's drive Z: is "/").
std::wstring WinPath(const char* unixPath);

// Paths of this build's programs, in Windows form.
std::wstring LauncherExe();
std::wstring TovikExe();
std::wstring RecorderExe();
std::wstring BuildDir();
std::wstring SourceDir();

// A fresh, empty folder below the build's scratch area, removed with all its
// contents on destruction. `tag` names it for a reader of a failed run.
class TempDir {
 public:
  explicit TempDir(const std::wstring& tag);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

using EnvList = std::vector<std::pair<std::wstring, std::wstring>>;

// Points this process's temporary folder (TMP and TEMP) at `path` for the
// scope; afterwards the variables are unset again.
class TempFolderOverride {
 public:
  explicit TempFolderOverride(const std::wstring& path) {
    SetEnvironmentVariableW(L"TMP", path.c_str());
    SetEnvironmentVariableW(L"TEMP", path.c_str());
  }
  ~TempFolderOverride() {
    SetEnvironmentVariableW(L"TMP", nullptr);
    SetEnvironmentVariableW(L"TEMP", nullptr);
  }
  TempFolderOverride(const TempFolderOverride&) = delete;
  TempFolderOverride& operator=(const TempFolderOverride&) = delete;
};

struct ProcessResult {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0;
  DWORD error = 0;  // GetLastError of a failed start
};

// How a child ended, for a failure message: "not started (error 2: ...)",
// "timed out and terminated" or "exit code 3".
std::string Describe(const ProcessResult& result);

// The token a child runs with: the test's own, or the limited token of the
// same user that the system links to an administrator's full token (what
// the administrator's programs get unless they are elevated). A test that
// runs with a limited token already gives its own for both.
enum class ChildToken { kOwn, kLimited };

// Starts `application` (may be empty: then the first element of commandLine
// names the program) with `commandLine`, the parent's environment changed by
// `env` (an empty value removes a variable) and `currentDir` (empty: the
// parent's), and waits up to `timeoutMs`. A timed-out child is terminated.
ProcessResult RunProcess(const std::wstring& application, const std::wstring& commandLine,
                         const EnvList& env = {}, const std::wstring& currentDir = L"",
                         DWORD timeoutMs = 120000, ChildToken token = ChildToken::kOwn);

// As RunProcess, and collects what the child writes to its standard output
// and standard error (one pipe, both handles) into `output`. Standard input
// is empty. Inheritable handles are inherited, as the pipe must be.
ProcessResult RunProcessWithOutput(const std::wstring& application, const std::wstring& commandLine,
                                   std::string& output, const EnvList& env = {},
                                   const std::wstring& currentDir = L"", DWORD timeoutMs = 120000);

// Environment that gives a child its own temporary folder.
EnvList TempEnv(const std::wstring& tempDir);

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool Exists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
// Names (not paths) of the entries of a folder, sorted, without "." and "..".
std::vector<std::wstring> ListDir(const std::wstring& folder);
void CopyFileTo(const std::wstring& from, const std::wstring& to);
// Deletes a tree without the shell (its recursive delete has Wine bugs).
void RemoveTree(const std::wstring& path);

// What the recorder program wrote: its command line, current folder, own path,
// the names beside it, the tree below TV_LIST and its exit code. Empty when it did not run.
struct Record {
  bool present = false;
  std::wstring commandLine;
  std::wstring currentDir;
  std::wstring self;
  std::vector<std::wstring> siblings;
  // Entries below the folder named by env TV_LIST, relative to it.
  std::vector<std::wstring> listed;
  // The recorder's token: its user's SID, whether it is elevated and whether
  // the Administrators group is enabled in it (both: an administrator's full
  // token; Wine enables the group in a limited token too).
  std::wstring tokenUser;
  bool tokenElevated = false;
  bool tokenAdministrator = false;
  // The descriptors of its own folder and of the folders directly in the
  // one named by env TV_SECURITY: folder path -> "<protected 0/1>|<owner
  // SID>|<entries>", or "error <code>".
  std::vector<std::pair<std::wstring, std::wstring>> security;
  // With env TV_TRY_RENAME: each file tried, and whether it could be renamed.
  std::vector<std::pair<std::wstring, bool>> renamed;
  // The recorded descriptor of `folder` (compared without case), or "absent".
  std::wstring SecurityOf(const std::wstring& folder) const;
};
Record ReadRecord(const std::wstring& recordFile);

// This process's token, in the token fields of a Record.
Record OwnToken();

// The descriptor a folder the launcher made must have, in the form of
// Record::security, for the token the recorder ran with: protected; owned
// by Administrators and open to Administrators and SYSTEM only (full
// control, inherited by files and folders) when it is an administrator's
// full token (elevated, Administrators enabled) or SYSTEM's; else owned by the token's user and open to the user,
// Administrators and SYSTEM.
std::wstring LauncherFolderSecurity(const Record& r);

// Whether a folder keeps the descriptor it was created with, as on Windows.
// Wine 8 keeps only what a Unix mode holds and shows every folder as owned
// by the user, with full control for SYSTEM and the user, and read access
// for Everyone when others may read it. Probed once.
bool FoldersKeepDescriptors();

// LauncherFolderSecurity as this system shows it: where folders do not keep
// their descriptors, the form Wine shows for a folder that nobody outside
// the token may open: no entry for Everyone.
std::wstring LauncherFolderSecurityAsShown(const Record& r);

// Environment for the recorder: where to write its record and which exit
// code to end with.
EnvList RecorderEnv(const std::wstring& recordFile, DWORD exitCode);

}  // namespace tvtest
