// Helpers shared by the bootstrapper's Windows-side tests: the fake runtimes
// installed with msiexec (and, through log_reader.h, its per-user log).
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_reader.h"
#include "test_support.h"

namespace tvtest {

inline std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) return L"";
  return path;
}

// Where the fake runtimes' MSI packages install. The packages are 32-bit: under
// 64-bit Wine (the wine-x64 build) they land in "Program Files (x86)", which
// a 32-bit tovik sees as its "Program Files". The Windows Installer keeps its
// component registrations in one place for 32- and 64-bit callers, so the
// lookup answers the same in both builds.
inline std::wstring RuntimeFolder() {
  std::wstring base = ShellFolder(CSIDL_PROGRAM_FILESX86);
  if (base.empty()) base = ShellFolder(CSIDL_PROGRAM_FILES);
  return base + L"\\Tessaro Vantel Runtime";
}

inline std::wstring FakeRuntimeMsi(const wchar_t* variant) {
  return tvtest::WinPath(TV_FAKE_RUNTIME_DIR) + L"\\fake_runtime_" + variant + L".msi";
}

// Installs one fake runtime ("v1", "v2", "nover") for the life of the object
// and removes it afterwards.
class InstalledRuntime {
 public:
  explicit InstalledRuntime(const wchar_t* variant) : msi_(FakeRuntimeMsi(variant)) {
    tvtest::ProcessResult r =
        tvtest::RunProcess(L"", L"msiexec.exe /i \"" + msi_ + L"\" /qn");
    EXPECT_TRUE(r.started && !r.timedOut && r.exitCode == 0) << "msiexec /i: " << tvtest::Describe(r);
    EXPECT_TRUE(tvtest::Exists(RuntimeFolder() + L"\\runtime.key"));
  }
  ~InstalledRuntime() {
    tvtest::ProcessResult r = tvtest::RunProcess(L"", L"msiexec.exe /x \"" + msi_ + L"\" /qn");
    EXPECT_TRUE(r.started && !r.timedOut && r.exitCode == 0) << "msiexec /x: " << tvtest::Describe(r);
  }
  InstalledRuntime(const InstalledRuntime&) = delete;
  InstalledRuntime& operator=(const InstalledRuntime&) = delete;

 private:
  std::wstring msi_;
};

}  // namespace tvtest
