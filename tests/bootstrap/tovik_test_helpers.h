// Helpers shared by the bootstrapper's Windows-side tests: its per-user log
// file and the fake runtimes installed with msiexec.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tovik_test {

inline std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) return L"";
  return path;
}

inline std::wstring LogFile() {
  return ShellFolder(CSIDL_LOCAL_APPDATA) + L"\\Tessaro\\Vantel\\logs\\Install.log";
}

inline void RemoveLog() { DeleteFileW(LogFile().c_str()); }

// The log's lines without the byte-order mark, timestamps and line ends.
inline std::vector<std::string> LogLines() {
  std::string bytes = tvtest::ReadFileBytes(LogFile());
  std::vector<std::string> lines;
  if (bytes.empty()) return lines;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) {
    ADD_FAILURE() << "log without byte-order mark";
    return lines;
  }
  size_t pos = 3;
  while (pos < bytes.size()) {
    size_t end = bytes.find("\r\n", pos);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(pos, end - pos);
    lines.push_back(line.size() >= 22 && line[0] == '[' && line[21] == ' ' ? line.substr(22)
                                                                          : "<no stamp>" + line);
    pos = end + 2;
  }
  return lines;
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
    EXPECT_TRUE(r.started && r.exitCode == 0) << "msiexec /i failed: " << r.exitCode;
    EXPECT_TRUE(tvtest::Exists(RuntimeFolder() + L"\\runtime.key"));
  }
  ~InstalledRuntime() {
    tvtest::ProcessResult r = tvtest::RunProcess(L"", L"msiexec.exe /x \"" + msi_ + L"\" /qn");
    EXPECT_TRUE(r.started && r.exitCode == 0) << "msiexec /x failed: " << r.exitCode;
  }
  InstalledRuntime(const InstalledRuntime&) = delete;
  InstalledRuntime& operator=(const InstalledRuntime&) = delete;

 private:
  std::wstring msi_;
};

}  // namespace tovik_test
