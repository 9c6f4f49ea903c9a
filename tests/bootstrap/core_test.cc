// Windows unit tests of the bootstrapper's core under Wine: the runtime
// installer runner, the application installer without a runtime, the runtime
// folder's UTF-8 form, the command-line bounds and the update policy.
#include <windows.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "param_checker.h"
#include "processes.h"
#include "runtime.h"
#include "test_support.h"
#include "tovik_test_helpers.h"

namespace {

using tvtest::TovikLogLines;
using tvtest::RemoveTovikLog;
using tvtest::ShellFolder;

// Keeps the current directory in an empty scratch folder (see the shell's
// recursive-delete fault under Wine) and the log empty.
class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryW(MAX_PATH, savedDir_);
    SetCurrentDirectoryW(scratch_.path().c_str());
    RemoveTovikLog();
  }
  void TearDown() override {
    SetCurrentDirectoryW(savedDir_);
    SetEnvironmentVariableW(L"TV_RECORD", nullptr);
    SetEnvironmentVariableW(L"TV_EXIT_CODE", nullptr);
    RemoveTovikLog();
  }
  // The recorder as the child: it records into `record` and exits with `code`.
  void Recorder(const std::wstring& record, DWORD code) {
    SetEnvironmentVariableW(L"TV_RECORD", record.c_str());
    SetEnvironmentVariableW(L"TV_EXIT_CODE", std::to_wstring(code).c_str());
  }
  tvtest::TempDir scratch_{L"core"};
  wchar_t savedDir_[MAX_PATH] = {};
};

TEST_F(CoreTest, RuntimeInstallerCommandLinesAndExitCodes) {
  tvtest::TempDir dir(L"rtinst");
  const std::wstring installer = dir / L"runtime setup.exe";
  tvtest::CopyFileTo(tvtest::RecorderExe(), installer);
  const std::wstring app = dir / L"my app.bin";
  const std::wstring record = dir / L"record.txt";
  struct Case {
    const wchar_t* options;
    DWORD exitCode;
    std::wstring commandLine;
    std::vector<std::string> log;
  } cases[] = {
      {nullptr, 0, L"\"" + installer + L"\" -x1 \"" + app + L"\"",
       {"Launching subprocess with commandline \"" + tvtest::Narrow(installer) + "\" -x1 \"" +
            tvtest::Narrow(app) + "\"",
        "Subprocess Runtime Installer succeeded"}},
      {L"", 7, L"\"" + installer + L"\" -x1 \"" + app + L"\"",
       {"Launching subprocess with commandline \"" + tvtest::Narrow(installer) + "\" -x1 \"" +
            tvtest::Narrow(app) + "\"",
        "Subprocess Runtime Installer failed (7)"}},
      {L"-silent -location \"C:\\a b\"", 70000,
       L"\"" + installer + L"\" -silent -location \"C:\\a b\" \"" + app + L"\"",
       {"Launching subprocess with commandline \"" + tvtest::Narrow(installer) +
            "\" -silent -location \"C:\\a b\" \"" + tvtest::Narrow(app) + "\"",
        "Subprocess Runtime Installer failed (70000)"}},
      {L"-silent", 0xC0000005, L"\"" + installer + L"\" -silent \"" + app + L"\"",
       {"Launching subprocess with commandline \"" + tvtest::Narrow(installer) + "\" -silent \"" +
            tvtest::Narrow(app) + "\"",
        "Subprocess Runtime Installer failed (-1073741819)"}},
  };
  for (const Case& c : cases) {
    RemoveTovikLog();
    DeleteFileW(record.c_str());
    Recorder(record, c.exitCode);
    EXPECT_EQ(tovik::RunRuntimeInstaller(installer.c_str(), c.options, app.c_str()),
              static_cast<int32_t>(c.exitCode));
    tvtest::Record r = tvtest::ReadRecord(record);
    ASSERT_TRUE(r.present);
    EXPECT_EQ(r.commandLine, c.commandLine);
    EXPECT_EQ(TovikLogLines(), c.log);
  }
}

TEST_F(CoreTest, RuntimeInstallerAbsentOrUnstartable) {
  EXPECT_EQ(tovik::RunRuntimeInstaller(nullptr, nullptr, L"C:\\app.bin"), 11);
  EXPECT_TRUE(TovikLogLines().empty());

  tvtest::TempDir dir(L"rtmissing");
  const std::wstring missing = dir / L"missing.exe";
  EXPECT_EQ(tovik::RunRuntimeInstaller(missing.c_str(), nullptr, L"C:\\app.bin"), 16);
  // The start is logged, and then why it failed.
  const std::vector<std::string> lines = TovikLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Launching subprocess with commandline \"" + tvtest::Narrow(missing) + "\" -x1 \"C:\\app.bin\"");
  EXPECT_EQ(lines[1].substr(0, 51), "Subprocess Runtime Installer not started: error 2 (");
}

// The arguments a child is given by `commandLine`, as it splits them.
std::vector<std::wstring> Split(const std::wstring& commandLine) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine.c_str(), &count);
  std::vector<std::wstring> out;
  if (argv == nullptr) return out;
  for (int i = 0; i < count; ++i) out.push_back(argv[i]);
  LocalFree(argv);
  return out;
}

// Locations and application paths that the child must get back exactly.
const wchar_t* const kLocations[] = {
    L"C:\\My Apps\\", L"", L"C:\\a b", L"C:\\plain", L"C:\\x\\\\", L"say \"hi\"", L"a\\\"b",
    L"tab\there", L"\\\\server\\share\\", L"\"", L"\\", L"C:\\\u00dcn\u00ef c\u00f8d\u00e9\\",
};
const wchar_t* const kApplicationPaths[] = {
    L"C:\\Apps\\Install \\", L"C:\\Apps\\", L"C:\\My App.bin", L"C:\\app.bin", L"C:\\a\\\\b c",
};

// The -location value through the real argument store.
std::wstring OptionsWithLocation(const wchar_t* location) {
  std::vector<std::wstring> args = {L"-eulaAccepted", L"-location", location, L"-programMenu"};
  std::vector<wchar_t*> argv;
  for (const std::wstring& a : args) argv.push_back(const_cast<wchar_t*>(a.c_str()));
  tovik::ParamChecker checker(static_cast<uint32_t>(argv.size()), argv.data());
  bool allowDownload = false, silent = false;
  int32_t exitCode = -1;
  EXPECT_TRUE(checker.check(allowDownload, silent, exitCode));
  return checker.optionText() != nullptr ? checker.optionText() : L"";
}

TEST(CommandLines, ChildArgumentsSplitBackExactly) {
  for (const wchar_t* location : kLocations) {
    const std::wstring options = OptionsWithLocation(location);
    for (const wchar_t* app : kApplicationPaths) {
      SCOPED_TRACE(tvtest::Narrow(L"location [" + std::wstring(location) + L"] app [" + app + L"]"));
      std::vector<wchar_t> line(tovik::kRuntimeInstallerCommandCapacity);
      ASSERT_TRUE(tovik::BuildRuntimeInstallerCommand(L"C:\\Temp\\tovik-1\\VantelRuntimeInstaller.exe",
                                                      options.c_str(), app, line.data(),
                                                      static_cast<uint32_t>(line.size())));
      EXPECT_EQ(Split(line.data()),
                (std::vector<std::wstring>{L"C:\\Temp\\tovik-1\\VantelRuntimeInstaller.exe", L"-eulaAccepted",
                                           L"-location", location, L"-programMenu", app}));
      ASSERT_TRUE(tovik::BuildApplicationInstallerCommand(options.c_str(), app, line.data(),
                                                          static_cast<uint32_t>(line.size())));
      EXPECT_EQ(Split(line.data()),
                (std::vector<std::wstring>{L"Tessaro Vantel Application Installer.exe", L"-eulaAccepted",
                                           L"-location", location, L"-programMenu", app}));
    }
  }
  // Without options the runtime installer gets -x1, and an empty path stays
  // an argument.
  std::vector<wchar_t> line(tovik::kRuntimeInstallerCommandCapacity);
  ASSERT_TRUE(tovik::BuildRuntimeInstallerCommand(L"C:\\r.exe", nullptr, L"", line.data(),
                                                  static_cast<uint32_t>(line.size())));
  EXPECT_EQ(Split(line.data()), (std::vector<std::wstring>{L"C:\\r.exe", L"-x1", L""}));
}

TEST_F(CoreTest, RecordedChildCommandLineSplitsBack) {
  // As the child itself sees it: the recorder's recorded line, split.
  tvtest::TempDir dir(L"rtsplit");
  const std::wstring installer = dir / L"VantelRuntimeInstaller.exe";
  tvtest::CopyFileTo(tvtest::RecorderExe(), installer);
  const std::wstring record = dir / L"record.txt";
  for (const wchar_t* location : {L"C:\\My Apps\\", L"", L"say \"hi\" \\"}) {
    SCOPED_TRACE(tvtest::Narrow(location));
    const std::wstring options = OptionsWithLocation(location);
    DeleteFileW(record.c_str());
    Recorder(record, 0);
    const std::wstring app = L"C:\\Apps\\Install \\";
    EXPECT_EQ(tovik::RunRuntimeInstaller(installer.c_str(), options.c_str(), app.c_str()), 0);
    tvtest::Record r = tvtest::ReadRecord(record);
    ASSERT_TRUE(r.present);
    EXPECT_EQ(Split(r.commandLine), (std::vector<std::wstring>{installer, L"-eulaAccepted", L"-location", location,
                                                               L"-programMenu", app}));
  }
}

TEST_F(CoreTest, CommandLinesThatDoNotFitStartNothing) {
  // The application installer's line: its fixed program name, a space and
  // the quoted path fill the capacity exactly; one more does not fit.
  const std::wstring program = L"\"Tessaro Vantel Application Installer.exe\" ";
  const size_t room = tovik::kApplicationInstallerCommandCapacity - 1 - program.size();
  std::vector<wchar_t> line(tovik::kApplicationInstallerCommandCapacity);
  const uint32_t capacity = static_cast<uint32_t>(line.size());
  EXPECT_TRUE(
      tovik::BuildApplicationInstallerCommand(nullptr, std::wstring(room - 2, L'p').c_str(), line.data(), capacity));
  EXPECT_EQ(std::wstring(line.data()), program + L"\"" + std::wstring(room - 2, L'p') + L"\"");
  EXPECT_FALSE(
      tovik::BuildApplicationInstallerCommand(nullptr, std::wstring(room - 1, L'p').c_str(), line.data(), capacity));
  EXPECT_EQ(line[0], L'\0');
  // Quoting counts: a trailing backslash takes two.
  EXPECT_TRUE(tovik::BuildApplicationInstallerCommand(nullptr, (std::wstring(room - 4, L'p') + L"\\").c_str(),
                                                      line.data(), capacity));
  EXPECT_FALSE(tovik::BuildApplicationInstallerCommand(nullptr, (std::wstring(room - 3, L'p') + L"\\").c_str(),
                                                       line.data(), capacity));

  // Repeated switches push the path out: nothing is started, 5 is the end.
  std::wstring options;
  for (int i = 0; i < 40; ++i) options += L"-desktopShortcut ";
  options += L"-programMenu";
  EXPECT_EQ(tovik::LaunchApplicationInstaller(options.c_str(), L"C:\\Apps\\Sample App.bin"), 5);
  EXPECT_EQ(TovikLogLines(), std::vector<std::string>{"Subprocess Application Installer not started: command line too long"});

  RemoveTovikLog();
  tvtest::TempDir dir(L"rtlong");
  const std::wstring installer = dir / L"runtime setup.exe";
  tvtest::CopyFileTo(tvtest::RecorderExe(), installer);
  const std::wstring record = dir / L"record.txt";
  Recorder(record, 0);
  const std::wstring longPath = L"C:\\" + std::wstring(3000, L'p');
  EXPECT_EQ(tovik::RunRuntimeInstaller(installer.c_str(), nullptr, longPath.c_str()), 16);
  EXPECT_FALSE(tvtest::Exists(record)) << "a child was started";
  EXPECT_EQ(TovikLogLines(), std::vector<std::string>{"Subprocess Runtime Installer not started: command line too long"});
}

// Needs the fake runtime to be absent, as every other test leaves it.
TEST_F(CoreTest, ApplicationInstallerWithoutRuntimeIs3) {
  wchar_t* folder = reinterpret_cast<wchar_t*>(1);
  EXPECT_EQ(tovik::FindRuntimeFolder(0, &folder), 0);
  EXPECT_EQ(folder, nullptr);
  char utf8[16] = "junk";
  EXPECT_EQ(tovik::GetRuntimeFolder(utf8, sizeof(utf8)), 0);
  EXPECT_STREQ(utf8, "");
  tovik::RuntimeVersion version = {};
  EXPECT_EQ(tovik::ReadRuntimeVersion(version), -3);

  EXPECT_EQ(tovik::LaunchApplicationInstaller(nullptr, L"C:\\app.bin"), 3);
  EXPECT_EQ(TovikLogLines(), (std::vector<std::string>{
                            "Launching subprocess with commandline \"Tessaro Vantel Application "
                            "Installer.exe\" \"C:\\app.bin\"",
                            "Subprocess Application Installer failed (3)"}));
}

// The real argument store: wide arguments to UTF-8 and the options back to
// wide text, non-ASCII included.
TEST(ParamChecker, OptionsSurviveTheRoundTrip) {
  struct Case {
    std::vector<std::wstring> args;
    bool goOn;
    const wchar_t* options;  // null: none
  } cases[] = {
      {{}, true, nullptr},
      {{L"-silent"}, true, L"-silent"},
      {{L"-silent", L"-location", L"C:\\\u00dcn\u00ef c\u00f8d\u00e9 \U0001F600", L"-allowDownload"}, true,
       L"-silent -location \"C:\\\u00dcn\u00ef c\u00f8d\u00e9 \U0001F600\""},
      {{L"-eulaAccepted", L"-location", L"\"C:\\a b\"", L"-programMenu"}, true,
       L"-eulaAccepted -location \"\\\"C:\\a b\\\"\" -programMenu"},
      {{L"-\u00e9ulaAccepted", L"-allowDownload"}, false, nullptr},
  };
  for (const Case& c : cases) {
    std::vector<wchar_t*> argv;
    for (const std::wstring& a : c.args) argv.push_back(const_cast<wchar_t*>(a.c_str()));
    tovik::ParamChecker checker(static_cast<uint32_t>(argv.size()), argv.data());
    EXPECT_FALSE(checker.outOfMemory());
    bool allowDownload = false, silent = false;
    int32_t exitCode = -1;
    EXPECT_EQ(checker.check(allowDownload, silent, exitCode), c.goOn);
    if (!c.goOn) continue;
    if (c.options == nullptr)
      EXPECT_EQ(checker.optionText(), nullptr);
    else
      EXPECT_STREQ(checker.optionText(), c.options);
  }
}

class FixedSource : public tovik::RuntimeFolderSource {
 public:
  FixedSource(const wchar_t* folder, int32_t result) : folder_(folder), result_(result) {}
  int32_t FindFolder(wchar_t** folder) override {
    *folder = nullptr;
    if (folder_ != nullptr) {
      size_t bytes = (wcslen(folder_) + 1) * sizeof(wchar_t);
      *folder = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, bytes));
      memcpy(*folder, folder_, bytes);
    }
    return result_;
  }

 private:
  const wchar_t* folder_;
  int32_t result_;
};

TEST(RuntimeFolder, Utf8FormAndItsBounds) {
  struct Case {
    const wchar_t* folder;
    int32_t sourceResult;
    uint32_t size;
    int32_t result;
    std::string text;
  } cases[] = {
      {L"C:\\R\u00fcntime", 0, 64, 0, "C:\\R\xC3\xBCntime"},
      {L"C:\\R\u00fcntime", 0, 12, 0, "C:\\R\xC3\xBCntime"},  // 11 bytes and the terminator
      {L"C:\\R\u00fcntime", 0, 11, -4, ""},
      {L"C:\\R", 0, 0, -4, "untouched"},
      {nullptr, 0, 64, 0, ""},
      {nullptr, -3, 64, -3, ""},
  };
  for (const Case& c : cases) {
    FixedSource source(c.folder, c.sourceResult);
    char buffer[64] = "untouched";
    EXPECT_EQ(tovik::GetRuntimeFolder(source, buffer, c.size), c.result);
    EXPECT_EQ(std::string(buffer), c.text);
  }
}

// The update policy: a marker file below the roaming application data and a
// machine policy value. HKLM\Software\Policies is one key for 32- and 64-bit
// programs, so this 64-bit test sees what the 32-bit program sees.
class UpdatePolicyTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    DeleteFileW(Marker().c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
  }
  static std::wstring Marker() {
    return ShellFolder(CSIDL_APPDATA) + L"\\Tessaro\\Vantel\\updateDisabled";
  }
  static void SetValue(HKEY root, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"UpdateDisabled", 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static constexpr const wchar_t* kKey = L"Software\\Policies\\Tessaro\\Vantel";
};

TEST_F(UpdatePolicyTest, NothingSetAllowsUpdates) {
  EXPECT_TRUE(tovik::UpdatesAllowed());
  EXPECT_EQ(tovik::ReadPolicyValue("UpdateDisabled"), 0u);
}

TEST_F(UpdatePolicyTest, MarkerFileAloneDisallows) {
  SHCreateDirectoryExW(nullptr, (ShellFolder(CSIDL_APPDATA) + L"\\Tessaro\\Vantel").c_str(), nullptr);
  tvtest::WriteFileBytes(Marker(), "");
  ASSERT_TRUE(tvtest::Exists(Marker()));
  EXPECT_FALSE(tovik::UpdatesAllowed());
  // A marker held open by another process cannot be opened: no marker.
  HANDLE held = CreateFileW(Marker().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(tovik::UpdatesAllowed());
  CloseHandle(held);
}

// Another run reading the marker at the same moment does not hide it.
TEST_F(UpdatePolicyTest, MarkerReadByAnotherRunStillDisallows) {
  SHCreateDirectoryExW(nullptr, (ShellFolder(CSIDL_APPDATA) + L"\\Tessaro\\Vantel").c_str(), nullptr);
  tvtest::WriteFileBytes(Marker(), "");
  HANDLE reader = CreateFileW(Marker().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(tovik::UpdatesAllowed());
  CloseHandle(reader);
}

TEST_F(UpdatePolicyTest, MachinePolicyValues) {
  struct Case {
    DWORD type;
    std::string data;
    uint32_t value;
    bool allowed;
  } cases[] = {
      {REG_DWORD, std::string("\x01\x00\x00\x00", 4), 1, false},
      {REG_DWORD, std::string("\x00\x00\x00\x00", 4), 0, true},
      {REG_DWORD, std::string("\x02\x00\x00\x00", 4), 2, true},
      {REG_SZ, std::string("1\0\0\0", 4), 0, true},
      {REG_BINARY, std::string("\x01\x00\x00\x00", 4), 0, true},
  };
  for (const Case& c : cases) {
    SetValue(HKEY_LOCAL_MACHINE, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
    EXPECT_EQ(tovik::ReadPolicyValue("UpdateDisabled"), c.value) << c.type;
    EXPECT_EQ(tovik::UpdatesAllowed(), c.allowed) << c.type;
  }
  EXPECT_EQ(tovik::ReadPolicyValue("Other"), 0u);
}

TEST_F(UpdatePolicyTest, CurrentUserPolicyHasNoEffect) {
  DWORD one = 1;
  SetValue(HKEY_CURRENT_USER, REG_DWORD, &one, sizeof(one));
  EXPECT_TRUE(tovik::UpdatesAllowed());
}

}  // namespace
