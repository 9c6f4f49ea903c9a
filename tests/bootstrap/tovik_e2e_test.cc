// tovik.exe end to end under Wine, as a user runs it: a copy of the program
// with its ".launch" in a scratch folder, standard output through a pipe, the
// per-user log, and fake runtimes installed for real with msiexec.
#include <windows.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "tovik_test_helpers.h"
#include "tv_version.h"

namespace {

using tvtest::InstalledRuntime;
using tvtest::TovikLogLines;
using tvtest::RemoveTovikLog;
using tvtest::RuntimeFolder;
using Lines = std::vector<std::string>;

const std::string kUsage =
    "Available Options: -silent { -eulaAccepted ( -location <dir> ) -desktopShortcut -programMenu "
    "-allowDownload }\r\n";
#ifdef TOVIK_TRUSTS_TEST_ROOT
const std::string kBegin =
    "Bootstrapper begin with version " TV_VERSION_TEXT " on Win x86 (test build: trusts the test root certificate)";
#else
const std::string kBegin = "Bootstrapper begin with version " TV_VERSION_TEXT " on Win x86";
#endif
const std::string kNoDownload = "Unable to download runtime installer without -allowDownload";

struct TovikRun {
  DWORD exitCode = 0;
  std::string output;
};

class TovikTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryW(MAX_PATH, savedDir_);
    SetCurrentDirectoryW(scratch_.path().c_str());
    tvtest::CopyFileTo(tvtest::TovikExe(), dir_ / L"tovik.exe");
    tvtest::WriteFileBytes(dir_ / L"app.bin", "application");
    RemoveTovikLog();
  }
  void TearDown() override {
    SetCurrentDirectoryW(savedDir_);
    RemoveTovikLog();
  }

  void WriteLaunch(const std::string& bytes) { tvtest::WriteFileBytes(dir_ / L".launch", bytes); }

  TovikRun Tovik(const std::wstring& args, DWORD childExit = 0) {
    TovikRun run;
    tvtest::EnvList env = tvtest::RecorderEnv(record(), childExit);
    tvtest::ProcessResult r = tvtest::RunProcessWithOutput(
        dir_ / L"tovik.exe", L"\"" + (dir_ / L"tovik.exe") + L"\"" + (args.empty() ? L"" : L" " + args),
        run.output, env, scratch_.path());
    EXPECT_TRUE(r.started) << tvtest::Describe(r);
    EXPECT_FALSE(r.timedOut);
    run.exitCode = r.exitCode;
    return run;
  }

  std::wstring record() const { return scratch_ / L"record.txt"; }
  std::string appPath() const { return tvtest::Narrow(dir_ / L"app.bin"); }
  std::string runtimeFolder() const { return tvtest::Narrow(RuntimeFolder()); }
  std::string ApplicationInstallerLine(const std::string& options) const {
    return "Launching subprocess with commandline \"Tessaro Vantel Application Installer.exe\"" +
           (options.empty() ? "" : " " + options) + " \"" + appPath() + "\"";
  }

  tvtest::TempDir scratch_{L"tovik-cwd"};
  tvtest::TempDir dir_{L"tovik"};
  wchar_t savedDir_[MAX_PATH] = {};
};

TEST_F(TovikTest, VersionPrintsAndLogsNothing) {
  // Not even the launch file is read.
  TovikRun run = Tovik(L"-version");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, TV_VERSION_TEXT "\r\n");
  EXPECT_FALSE(tvtest::Exists(tvtest::TovikLogFile()));
}

TEST_F(TovikTest, RejectedLinesPrintUsageAndLogNothing) {
  WriteLaunch("Install app.bin\r\n\r\n");
  for (const wchar_t* args : {L"-allowDownload", L"-version -silent", L"--silent", L"-Silent",
                              L"-eulaAccepted -silent", L"-silent -location", L"/silent"}) {
    TovikRun run = Tovik(args);
    EXPECT_EQ(run.exitCode, 2u) << tvtest::Narrow(args);
    EXPECT_EQ(run.output, kUsage) << tvtest::Narrow(args);
    EXPECT_FALSE(tvtest::Exists(tvtest::TovikLogFile())) << tvtest::Narrow(args);
  }
}

TEST_F(TovikTest, MissingOrUnusableLaunchFileEndsWith12) {
  const std::string where = tvtest::Narrow(dir_ / L".launch");
  const Lines expected = {kBegin, "Could not locate native install directory (\"" + where + "\")",
                          "Bootstrapper end with exit code 12"};
  struct Case {
    const char* name;
    bool present;
    std::string bytes;
  } cases[] = {
      {"absent", false, ""},
      {"lower-case prefix", true, "install app.bin\r\n\r\n"},
      {"no trailing bytes", true, "Install app.bin"},
      {"names nothing", true, "Install missing.bin\r\n\r\n"},
      {"too short", true, "Install"},
  };
  for (const Case& c : cases) {
    RemoveTovikLog();
    DeleteFileW((dir_ / L".launch").c_str());
    if (c.present) WriteLaunch(c.bytes);
    TovikRun run = Tovik(L"-silent");
    EXPECT_EQ(run.exitCode, 12u) << c.name;
    EXPECT_EQ(run.output, "") << c.name;
    EXPECT_EQ(TovikLogLines(), expected) << c.name;
  }
}

TEST_F(TovikTest, NoRuntimeWithoutDownloadEndsWith10) {
  WriteLaunch("Install app.bin\r\n\r\n");
  TovikRun run = Tovik(L"-silent");
  EXPECT_EQ(run.exitCode, 10u);
  EXPECT_EQ(run.output, kNoDownload + "\r\n");
  EXPECT_EQ(TovikLogLines(), (Lines{kBegin, "No installed runtime detected", kNoDownload,
                               "Bootstrapper end with exit code 10"}));
}

// Two runs at the same time (a double click, two deployments) write the
// same log: every line of both is kept, whole.
TEST_F(TovikTest, TwoRunsAtOnceKeepEveryLine) {
  WriteLaunch("Install app.bin\r\n\r\n");
  constexpr int kRounds = 5;
  for (int round = 0; round < kRounds; ++round) {
    DWORD codes[2] = {};
    auto run = [&](int i) {
      tvtest::ProcessResult r = tvtest::RunProcess(dir_ / L"tovik.exe", L"\"" + (dir_ / L"tovik.exe") + L"\" -silent",
                                                   {}, scratch_.path());
      codes[i] = r.started && !r.timedOut ? r.exitCode : 0xDEAD;
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    EXPECT_EQ(codes[0], 10u);
    EXPECT_EQ(codes[1], 10u);
  }
  const Lines run = {kBegin, "No installed runtime detected", kNoDownload, "Bootstrapper end with exit code 10"};
  Lines lines = TovikLogLines();
  EXPECT_EQ(lines.size(), run.size() * 2 * kRounds);
  for (const std::string& text : run) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), text), 2 * kRounds) << text;
  }
}

// The window that TwoRunsAtOnceKeepEveryLine only hits under load, held
// open: a run reads the launch file while another run is reading it.
TEST_F(TovikTest, LaunchFileReadByAnotherRunStillReads) {
  WriteLaunch("Install app.bin\r\n\r\n");
  HANDLE reader = CreateFileW((dir_ / L".launch").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  TovikRun run = Tovik(L"-silent");
  CloseHandle(reader);
  EXPECT_EQ(run.exitCode, 10u);
  EXPECT_EQ(TovikLogLines(), (Lines{kBegin, "No installed runtime detected", kNoDownload,
                               "Bootstrapper end with exit code 10"}));
}

TEST_F(TovikTest, OldRuntimeWithoutDownloadEndsWith10) {
  InstalledRuntime runtime(L"v1");
  WriteLaunch("Install app.bin\r\n\r\n");
  TovikRun run = Tovik(L"-silent");
  EXPECT_EQ(run.exitCode, 10u);
  EXPECT_EQ(run.output, kNoDownload + "\r\n");
  EXPECT_EQ(TovikLogLines(), (Lines{kBegin, "Installed runtime (1.9.65535.65535) located at " + runtimeFolder(),
                               kNoDownload, "Bootstrapper end with exit code 10"}));
  EXPECT_FALSE(tvtest::ReadRecord(record()).present);
}

TEST_F(TovikTest, RuntimeLibraryWithoutVersionIsNoRuntime) {
  InstalledRuntime runtime(L"nover");
  WriteLaunch("Install app.bin\r\n\r\n");
  TovikRun run = Tovik(L"-silent");
  EXPECT_EQ(run.exitCode, 10u);
  EXPECT_EQ(TovikLogLines(), (Lines{kBegin, "No installed runtime detected", kNoDownload,
                               "Bootstrapper end with exit code 10"}));
}

TEST_F(TovikTest, CurrentRuntimeRunsTheApplicationInstaller) {
  InstalledRuntime runtime(L"v2");
  WriteLaunch("Install app.bin\r\n\r\n");
  const std::string located = "Installed runtime (2.0.0.0) located at " + runtimeFolder();
  const std::wstring program = RuntimeFolder() + L"\\Versions\\1.0\\Tessaro Vantel Application Installer.exe";
  struct Case {
    std::wstring args;
    DWORD childExit;
    std::string options;
    Lines tail;
  } cases[] = {
      {L"", 0, "", {"Subprocess Application Installer succeeded", "Bootstrapper end with exit code 0"}},
      {L"-silent", 70000, "-silent",
       {"Subprocess Application Installer failed (70000)", "Bootstrapper end with exit code 70000"}},
      {L"-silent -eulaAccepted -location \"C:\\My Apps\" -desktopShortcut -allowDownload", 3,
       "-silent -eulaAccepted -location \"C:\\My Apps\" -desktopShortcut",
       {"Subprocess Application Installer failed (3)", "Bootstrapper end with exit code 3"}},
  };
  for (const Case& c : cases) {
    RemoveTovikLog();
    DeleteFileW(record().c_str());
    TovikRun run = Tovik(c.args, c.childExit);
    EXPECT_EQ(run.exitCode, c.childExit);
    EXPECT_EQ(run.output, "");
    tvtest::Record r = tvtest::ReadRecord(record());
    ASSERT_TRUE(r.present);
    EXPECT_EQ(tvtest::Narrow(r.commandLine),
              "\"Tessaro Vantel Application Installer.exe\"" + (c.options.empty() ? "" : " " + c.options) +
                  " \"" + appPath() + "\"");
    EXPECT_EQ(_wcsicmp(r.self.c_str(), program.c_str()), 0) << tvtest::Narrow(r.self);
    Lines expected = {kBegin, located, ApplicationInstallerLine(c.options)};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(TovikLogLines(), expected);
  }
}

TEST_F(TovikTest, RuntimeWithoutKeyFileStillCounts) {
  InstalledRuntime runtime(L"v2");
  ASSERT_TRUE(DeleteFileW((RuntimeFolder() + L"\\runtime.key").c_str()));
  WriteLaunch("Install app.bin\r\n\r\n");
  TovikRun run = Tovik(L"-silent", 0);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(tvtest::ReadRecord(record()).present);
  EXPECT_EQ(TovikLogLines(), (Lines{kBegin, "Installed runtime (2.0.0.0) located at " + runtimeFolder(),
                               ApplicationInstallerLine("-silent"),
                               "Subprocess Application Installer succeeded",
                               "Bootstrapper end with exit code 0"}));
}

TEST_F(TovikTest, ApplicationInstallerThatCannotStartEndsWith5) {
  InstalledRuntime runtime(L"v2");
  ASSERT_TRUE(DeleteFileW(
      (RuntimeFolder() + L"\\Versions\\1.0\\Tessaro Vantel Application Installer.exe").c_str()));
  WriteLaunch("Install app.bin\r\n\r\n");
  TovikRun run = Tovik(L"");
  EXPECT_EQ(run.exitCode, 5u);
  Lines lines = TovikLogLines();
  ASSERT_EQ(lines.size(), 6u);
  // Why it did not start: the system's error number and text.
  EXPECT_EQ(lines[3].substr(0, 55), "Subprocess Application Installer not started: error 2 (");
  lines.erase(lines.begin() + 3);
  EXPECT_EQ(lines, (Lines{kBegin, "Installed runtime (2.0.0.0) located at " + runtimeFolder(),
                          ApplicationInstallerLine(""), "Subprocess Application Installer failed (5)",
                          "Bootstrapper end with exit code 5"}));
}

TEST_F(TovikTest, LaunchFileForms) {
  InstalledRuntime runtime(L"v2");
  CreateDirectoryW((dir_ / L"sub dir").c_str(), nullptr);
  tvtest::WriteFileBytes(dir_ / L"sub dir\\\u00e4pp.bin", "x");
  struct Case {
    std::string bytes;
    std::wstring applicationPath;
  } cases[] = {
      {"Install \r\n\r\n", dir_.path() + L"\\"},
      {"Install sub dir\\\xC3\xA4pp.bin\r\n\r\n", dir_ / L"sub dir\\\u00e4pp.bin"},
      {std::string("Install app.bin\0junk\r\n\r\n", 25), dir_ / L"app.bin"},
  };
  for (const Case& c : cases) {
    DeleteFileW(record().c_str());
    WriteLaunch(c.bytes);
    TovikRun run = Tovik(L"");
    EXPECT_EQ(run.exitCode, 0u) << c.bytes;
    tvtest::Record r = tvtest::ReadRecord(record());
    ASSERT_TRUE(r.present) << c.bytes;
    // As the child splits it: a path ending in a backslash keeps it.
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(r.commandLine.c_str(), &count);
    ASSERT_NE(argv, nullptr);
    std::vector<std::wstring> args(argv, argv + count);
    LocalFree(argv);
    EXPECT_EQ(args, (std::vector<std::wstring>{L"Tessaro Vantel Application Installer.exe", c.applicationPath}));
  }
}

// The version resource says what the build trusts, where a user looks.
TEST(TovikVersionResource, TellsWhetherTheTestRootIsTrusted) {
  const std::wstring exe = tvtest::TovikExe();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_NE(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
  wchar_t* text = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileDescription",
                             reinterpret_cast<void**>(&text), &length));
  const std::wstring description(text);
#ifdef TOVIK_TRUSTS_TEST_ROOT
  EXPECT_EQ(description, L"Tessaro Vantel Bootstrapper (test build: trusts the test root certificate)");
#else
  EXPECT_EQ(description, L"Tessaro Vantel Bootstrapper");
#endif
}

}  // namespace
