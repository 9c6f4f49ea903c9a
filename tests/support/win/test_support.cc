#include "test_support.h"

#include <sddl.h>
#include <shlwapi.h>

#include <algorithm>
#include <map>
#include <string>

#include "security_text.h"
#include "tv_test_paths.h"

namespace tvtest {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring WinPath(const char* unixPath) {
  std::wstring p = L"Z:" + Widen(unixPath);
  std::replace(p.begin(), p.end(), L'/', L'\\');
  return p;
}

std::wstring LauncherExe() { return WinPath(TV_LAUNCHER_EXE); }
std::wstring TovikExe() { return WinPath(TV_TOVIK_EXE); }
std::wstring RecorderExe() { return WinPath(TV_RECORDER_EXE); }
std::wstring BuildDir() { return WinPath(TV_BUILD_DIR); }
std::wstring SourceDir() { return WinPath(TV_SOURCE_DIR); }

TempDir::TempDir(const std::wstring& tag) {
  std::wstring root = BuildDir() + L"\\scratch";
  CreateDirectoryW(root.c_str(), nullptr);
  for (unsigned i = 0;; ++i) {
    wchar_t suffix[32];
    wsprintfW(suffix, L"-%lu-%u", GetCurrentProcessId(), i);
    std::wstring candidate = root + L"\\" + tag + suffix;
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      path_ = candidate;  // let the test fail on its own use of the path
      return;
    }
  }
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

EnvList TempEnv(const std::wstring& tempDir) { return {{L"TEMP", tempDir}, {L"TMP", tempDir}}; }

static std::wstring BuildEnvironmentBlock(const EnvList& changes) {
  // Case-insensitive names, as Windows treats them.
  struct Less {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
      return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
  };
  std::map<std::wstring, std::wstring, Less> vars;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
    std::wstring entry = p;
    size_t eq = entry.find(L'=', 1);  // names like "=C:" start with '='
    if (eq == std::wstring::npos) continue;
    vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : changes) {
    if (value.empty())
      vars.erase(name);
    else
      vars[name] = value;
  }
  std::wstring out;
  for (const auto& [name, value] : vars) {
    out += name + L"=" + value;
    out.push_back(L'\0');
  }
  out.push_back(L'\0');
  return out;
}

std::string Describe(const ProcessResult& result) {
  if (!result.started) {
    std::string text = "not started (error " + std::to_string(result.error);
    wchar_t* message = nullptr;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, result.error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr) != 0) {
      std::string said = Narrow(message);
      while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ')) said.pop_back();
      text += ": " + said;
    }
    if (message != nullptr) LocalFree(message);
    return text + ")";
  }
  if (result.timedOut) return "timed out and terminated";
  return "exit code " + std::to_string(result.exitCode);
}

namespace {

// A primary token for a child of the limited kind, or null when this
// process's own token is not linked to one (it is limited itself).
HANDLE LimitedToken() {
  HANDLE own;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return nullptr;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size;
  HANDLE primary = nullptr;
  if (GetTokenInformation(own, TokenElevationType, &type, sizeof(type), &size) &&
      type == TokenElevationTypeFull &&
      GetTokenInformation(own, TokenLinkedToken, &linked, sizeof(linked), &size)) {
    if (!DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                          TokenPrimary, &primary))
      primary = nullptr;
    CloseHandle(linked.LinkedToken);
  }
  CloseHandle(own);
  return primary;
}

}  // namespace

ProcessResult RunProcess(const std::wstring& application, const std::wstring& commandLine,
                         const EnvList& env, const std::wstring& currentDir, DWORD timeoutMs,
                         ChildToken token) {
  ProcessResult result;
  std::wstring envBlock = BuildEnvironmentBlock(env);
  std::wstring cmd = commandLine;
  cmd.push_back(L'\0');
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  HANDLE limited = token == ChildToken::kLimited ? LimitedToken() : nullptr;
  const BOOL started =
      limited ? CreateProcessAsUserW(limited, application.empty() ? nullptr : application.c_str(),
                                     cmd.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                                     envBlock.data(), currentDir.empty() ? nullptr : currentDir.c_str(),
                                     &si, &pi)
              : CreateProcessW(application.empty() ? nullptr : application.c_str(), cmd.data(),
                               nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, envBlock.data(),
                               currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi);
  if (!started) result.error = GetLastError();
  if (limited) CloseHandle(limited);
  if (!started) return result;
  result.started = true;
  if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    result.timedOut = true;
    TerminateProcess(pi.hProcess, 0xDEAD);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  GetExitCodeProcess(pi.hProcess, &result.exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

ProcessResult RunProcessWithOutput(const std::wstring& application, const std::wstring& commandLine,
                                   std::string& output, const EnvList& env,
                                   const std::wstring& currentDir, DWORD timeoutMs) {
  ProcessResult result;
  output.clear();
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    result.error = GetLastError();
    return result;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  std::wstring envBlock = BuildEnvironmentBlock(env);
  std::wstring cmd = commandLine;
  cmd.push_back(L'\0');
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessW(application.empty() ? nullptr : application.c_str(), cmd.data(),
                                nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, envBlock.data(),
                                currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi);
  if (!started) result.error = GetLastError();
  // Only the child (and its children) keep the write end: the reads below
  // end when the last of them has exited.
  CloseHandle(writeEnd);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!started) {
    CloseHandle(readEnd);
    return result;
  }
  result.started = true;
  struct Reader {
    HANDLE pipe;
    std::string* out;
    static DWORD WINAPI Run(void* self) {
      Reader* r = static_cast<Reader*>(self);
      char buf[4096];
      DWORD got = 0;
      while (ReadFile(r->pipe, buf, sizeof(buf), &got, nullptr) && got > 0) r->out->append(buf, got);
      return 0;
    }
  } reader{readEnd, &output};
  HANDLE thread = CreateThread(nullptr, 0, &Reader::Run, &reader, 0, nullptr);
  if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    result.timedOut = true;
    TerminateProcess(pi.hProcess, 0xDEAD);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  GetExitCodeProcess(pi.hProcess, &result.exitCode);
  // A grandchild that still holds the pipe must not hang the test.
  if (thread != nullptr && WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) {
    CancelIoEx(readEnd, nullptr);
    WaitForSingleObject(thread, 5000);
  }
  if (thread != nullptr) CloseHandle(thread);
  CloseHandle(readEnd);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) out.append(buf, got);
  CloseHandle(h);
  return out;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = (DWORD)std::min<size_t>(bytes.size() - done, 1u << 20), wrote = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) break;
    done += wrote;
  }
  CloseHandle(h);
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> ListDir(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring n = fd.cFileName;
    if (n != L"." && n != L"..") names.push_back(n);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

void CopyFileTo(const std::wstring& from, const std::wstring& to) {
  CopyFileW(from.c_str(), to.c_str(), FALSE);
}

void RemoveTree(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return;
  if (a & FILE_ATTRIBUTE_DIRECTORY) {
    for (const auto& name : ListDir(path)) RemoveTree(path + L"\\" + name);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
  } else {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  }
}

namespace {

// "<user>|<elevated>|<administrator>" (security_text.h) into `r`.
void ParseToken(const std::wstring& value, Record& r) {
  const size_t bar = value.find(L'|');
  r.tokenUser = value.substr(0, bar);
  r.tokenElevated = bar != std::wstring::npos && value.compare(bar, 3, L"|1|") == 0;
  r.tokenAdministrator = value.size() > 2 && value.compare(value.size() - 2, 2, L"|1") == 0;
}

}  // namespace

Record OwnToken() {
  Record r;
  ParseToken(TokenText(), r);
  return r;
}

Record ReadRecord(const std::wstring& recordFile) {
  Record r;
  std::string bytes = ReadFileBytes(recordFile);
  if (bytes.empty()) return r;
  r.present = true;
  std::wstring text = Widen(bytes);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = line.find(L'=');
    if (eq == std::wstring::npos) continue;
    std::wstring key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == L"cmdline")
      r.commandLine = value;
    else if (key == L"cwd")
      r.currentDir = value;
    else if (key == L"self")
      r.self = value;
    else if (key == L"file")
      r.siblings.push_back(value);
    else if (key == L"listed")
      r.listed.push_back(value);
    else if (key == L"token")
      ParseToken(value, r);
    else if (key == L"renamed" && value.size() > 2)
      r.renamed.emplace_back(value.substr(0, value.size() - 2), value.back() == L'1');
    else if (key == L"security") {
      const size_t bar = value.find(L'|');
      if (bar != std::wstring::npos) r.security.emplace_back(value.substr(0, bar), value.substr(bar + 1));
    }
  }
  return r;
}

std::wstring Record::SecurityOf(const std::wstring& folder) const {
  for (const auto& [path, descriptor] : security)
    if (_wcsicmp(path.c_str(), folder.c_str()) == 0) return descriptor;
  return L"absent";
}

bool FoldersKeepDescriptors() {
  static const bool kept = [] {
    TempDir dir(L"probe");
    const std::wstring folder = dir / L"protected";
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                              &sa.lpSecurityDescriptor, nullptr))
      return false;
    const BOOL created = CreateDirectoryW(folder.c_str(), &sa);
    LocalFree(sa.lpSecurityDescriptor);
    if (!created) return false;
    BYTE sd[4096];
    DWORD need = 0;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision;
    return GetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, sd, sizeof(sd), &need) &&
           GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_DACL_PROTECTED);
  }();
  return kept;
}

std::wstring LauncherFolderSecurityAsShown(const Record& r) {
  if (FoldersKeepDescriptors()) return LauncherFolderSecurity(r);
  return L"0|" + r.tokenUser + L"|A,3,1f01ff,S-1-5-18;A,3,1f01ff," + r.tokenUser;
}

std::wstring LauncherFolderSecurity(const Record& r) {
  // Allowed (A), inherited by files and folders (OI|CI = 3), full control.
  const std::wstring full = L"A,3,1f01ff,";
  const std::wstring admins = L"S-1-5-32-544", system = L"S-1-5-18";
  if ((r.tokenElevated && r.tokenAdministrator) || r.tokenUser == system)
    return L"1|" + admins + L"|" + full + admins + L";" + full + system;
  return L"1|" + r.tokenUser + L"|" + full + r.tokenUser + L";" + full + admins + L";" + full + system;
}

EnvList RecorderEnv(const std::wstring& recordFile, DWORD exitCode) {
  return {{L"TV_RECORD", recordFile}, {L"TV_EXIT_CODE", std::to_wstring(exitCode)}};
}

}  // namespace tvtest
