// Stand-in for every program the products start (setup program, application
// installer, runtime installer, link handler). It writes what it was given to
// the file named by TV_RECORD, as UTF-8 "key=value" lines:
//   cmdline=<its command line>   cwd=<its current folder>   self=<its path>
//   file=<name>   (one line per entry of its own folder, sorted by the system)
//   listed=<path>  (when TV_LIST names a folder, or is "*" for its own
//                   folder: one line per entry below it, at any depth,
//                   relative to it, "\" between levels)
//   token=<its token>   (in the form of security_text.h)
//   security=<folder>|<its descriptor>  (security_text.h; its own folder, then
//                  each folder directly in the one TV_SECURITY names; a folder
//                  whose descriptor cannot be read gives "<folder>|error <code>")
//   renamed=<file>|<1 when it could be renamed, else 0>  (when TV_TRY_RENAME
//                  names a folder: each file directly in each folder directly
//                  in it; a file that could be renamed is renamed back)
// then, when TV_HOLD_MS is set, leaves behind a process of its own (a copy
// of itself) that holds "held.txt" in its folder open, sharing nothing, for
// that many milliseconds, as an updater or crash reporter a setup program
// starts may do; then sleeps TV_SLEEP_MS milliseconds if set, and exits with
// TV_EXIT_CODE (decimal, default 0). Command lines hold no line breaks, so lines suffice.
#include <windows.h>

#include <string>
#include <vector>

#include "security_text.h"

static std::wstring Env(const wchar_t* name) {
  wchar_t buf[4096];
  DWORD n = GetEnvironmentVariableW(name, buf, 4096);
  return (n == 0 || n >= 4096) ? std::wstring() : std::wstring(buf, n);
}

static void Put(HANDLE h, const std::wstring& key, const std::wstring& value) {
  std::wstring line = key + L"=" + value + L"\n";
  int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), (int)line.size(), nullptr, 0, nullptr, nullptr);
  std::string utf8(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), (int)line.size(), utf8.data(), n, nullptr, nullptr);
  DWORD wrote;
  WriteFile(h, utf8.data(), (DWORD)utf8.size(), &wrote, nullptr);
}

// Writes one "listed=" line per entry below `folder`, depth first.
static void ListTree(HANDLE h, const std::wstring& folder, const std::wstring& prefix) {
  WIN32_FIND_DATAW fd;
  HANDLE f = FindFirstFileW((folder + L"\\*").c_str(), &fd);
  if (f == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    Put(h, L"listed", prefix + name);
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListTree(h, folder + L"\\" + name, prefix + name + L"\\");
  } while (FindNextFileW(f, &fd));
  FindClose(f);
}

// Tries to rename each file directly in each folder directly in `top`.
static void TryRenames(HANDLE h, const std::wstring& top) {
  WIN32_FIND_DATAW folder;
  HANDLE folders = FindFirstFileW((top + L"\\*").c_str(), &folder);
  if (folders == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = folder.cFileName;
    if (name == L"." || name == L".." || !(folder.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    const std::wstring inside = top + L"\\" + name;
    WIN32_FIND_DATAW file;
    HANDLE files = FindFirstFileW((inside + L"\\*").c_str(), &file);
    if (files == INVALID_HANDLE_VALUE) continue;
    do {
      if (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      const std::wstring path = inside + L"\\" + file.cFileName;
      const std::wstring moved = path + L".renamed";
      const bool renamed = MoveFileW(path.c_str(), moved.c_str()) != FALSE;
      if (renamed) MoveFileW(moved.c_str(), path.c_str());
      Put(h, L"renamed", path + (renamed ? L"|1" : L"|0"));
    } while (FindNextFileW(files, &file));
    FindClose(files);
  } while (FindNextFileW(folders, &folder));
  FindClose(folders);
}

static void PutToken(HANDLE h) { Put(h, L"token", tvtest::TokenText()); }

static void PutSecurity(HANDLE h, const std::wstring& folder) {
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD need = 0;
  GetFileSecurityW(folder.c_str(), what, nullptr, 0, &need);
  std::vector<BYTE> sd(need ? need : 1);
  if (!need || !GetFileSecurityW(folder.c_str(), what, sd.data(), need, &need)) {
    Put(h, L"security", folder + L"|error " + std::to_wstring(GetLastError()));
    return;
  }
  Put(h, L"security", folder + L"|" + tvtest::DescriptorText(sd.data()));
}

// The process TV_HOLD_MS leaves behind: "--hold <file> <ms>".
static int Hold(const wchar_t* file, const wchar_t* ms) {
  HANDLE h = CreateFileW(file, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  Sleep(wcstoul(ms, nullptr, 10));
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return 0;
}

// Starts the holder and returns once it holds the file.
static void LeaveHolder(const std::wstring& ms) {
  wchar_t self[4096];
  const DWORD n = GetModuleFileNameW(nullptr, self, 4096);
  const std::wstring path(self, n);
  const std::wstring held = path.substr(0, path.find_last_of(L'\\')) + L"\\held.txt";
  std::wstring line = L"\"" + path + L"\" --hold \"" + held + L"\" " + ms;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  for (int i = 0; i < 500; ++i) {
    HANDLE h = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) return;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    Sleep(10);
  }
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"--hold") return Hold(argv[2], argv[3]);
  std::wstring record = Env(L"TV_RECORD");
  if (!record.empty()) {
    HANDLE h = CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      Put(h, L"cmdline", GetCommandLineW());
      wchar_t buf[4096];
      DWORD n = GetCurrentDirectoryW(4096, buf);
      Put(h, L"cwd", std::wstring(buf, n));
      n = GetModuleFileNameW(nullptr, buf, 4096);
      std::wstring self(buf, n);
      Put(h, L"self", self);
      std::wstring folder = self.substr(0, self.find_last_of(L'\\'));
      WIN32_FIND_DATAW fd;
      HANDLE f = FindFirstFileW((folder + L"\\*").c_str(), &fd);
      if (f != INVALID_HANDLE_VALUE) {
        do {
          std::wstring name = fd.cFileName;
          if (name != L"." && name != L"..") Put(h, L"file", name);
        } while (FindNextFileW(f, &fd));
        FindClose(f);
      }
      std::wstring list = Env(L"TV_LIST");
      if (list == L"*") list = folder;
      if (!list.empty()) ListTree(h, list, L"");
      PutToken(h);
      PutSecurity(h, folder);
      std::wstring renames = Env(L"TV_TRY_RENAME");
      if (!renames.empty()) TryRenames(h, renames);
      std::wstring others = Env(L"TV_SECURITY");
      if (!others.empty()) {
        f = FindFirstFileW((others + L"\\*").c_str(), &fd);
        if (f != INVALID_HANDLE_VALUE) {
          do {
            std::wstring name = fd.cFileName;
            if (name != L"." && name != L".." && (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
              PutSecurity(h, others + L"\\" + name);
          } while (FindNextFileW(f, &fd));
          FindClose(f);
        }
      }
      CloseHandle(h);
    }
  }
  std::wstring hold = Env(L"TV_HOLD_MS");
  if (!hold.empty()) LeaveHolder(hold);
  std::wstring sleep = Env(L"TV_SLEEP_MS");
  if (!sleep.empty()) Sleep(wcstoul(sleep.c_str(), nullptr, 10));
  std::wstring code = Env(L"TV_EXIT_CODE");
  return code.empty() ? 0 : (int)wcstoul(code.c_str(), nullptr, 10);
}
