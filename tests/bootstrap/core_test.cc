// Windows unit tests of the bootstrapper's core under Wine: the runtime
// installer runner, the application installer without a runtime, the runtime
// folder's UTF-8 form, the command-line bounds and the update policy.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "param_checker.h"
#include "processes.h"
#include "runtime.h"
#include "test_support.h"
#include "tovik_test_helpers.h"

namespace {

using tovik_test::LogLines;
using tovik_test::RemoveLog;
using tovik_test::ShellFolder;

// Keeps the current directory in an empty scratch folder (see the shell's
// recursive-delete fault under Wine) and the log empty.
class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryW(MAX_PATH, savedDir_);
    SetCurrentDirectoryW(scratch_.path().c_str());
    RemoveLog();
  }
  void TearDown() override {
    SetCurrentDirectoryW(savedDir_);
    SetEnvironmentVariableW(L"TV_RECORD", nullptr);
    SetEnvironmentVariableW(L"TV_EXIT_CODE", nullptr);
    RemoveLog();
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
    RemoveLog();
    DeleteFileW(record.c_str());
    Recorder(record, c.exitCode);
    EXPECT_EQ(tovik::RunRuntimeInstaller(installer.c_str(), c.options, app.c_str()),
              static_cast<int32_t>(c.exitCode));
    tvtest::Record r = tvtest::ReadRecord(record);
    ASSERT_TRUE(r.present);
    EXPECT_EQ(r.commandLine, c.commandLine);
    EXPECT_EQ(LogLines(), c.log);
  }
}

TEST_F(CoreTest, RuntimeInstallerAbsentOrUnstartable) {
  EXPECT_EQ(tovik::RunRuntimeInstaller(nullptr, nullptr, L"C:\\app.bin"), 11);
  EXPECT_TRUE(LogLines().empty());

  tvtest::TempDir dir(L"rtmissing");
  const std::wstring missing = dir / L"missing.exe";
  EXPECT_EQ(tovik::RunRuntimeInstaller(missing.c_str(), nullptr, L"C:\\app.bin"), 16);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Launching subprocess with commandline \"" +
                                                 tvtest::Narrow(missing) + "\" -x1 \"C:\\app.bin\""});
}

TEST_F(CoreTest, CommandLinesAreCutAtTheirCapacity) {
  std::wstring longPath(3000, L'p');
  std::vector<wchar_t> line(tovik::kRuntimeInstallerCommandCapacity);
  tovik::BuildRuntimeInstallerCommand(L"C:\\r.exe", nullptr, longPath.c_str(), line.data(),
                                      static_cast<uint32_t>(line.size()));
  std::wstring built(line.data());
  EXPECT_EQ(built.size(), tovik::kRuntimeInstallerCommandCapacity - 1);
  EXPECT_EQ(built.substr(0, 16), L"\"C:\\r.exe\" -x1 \"");

  std::vector<wchar_t> appLine(tovik::kApplicationInstallerCommandCapacity);
  tovik::BuildApplicationInstallerCommand(L"-silent", longPath.c_str(), appLine.data(),
                                          static_cast<uint32_t>(appLine.size()));
  EXPECT_EQ(std::wstring(appLine.data()).size(), tovik::kApplicationInstallerCommandCapacity - 1);

  tovik::BuildApplicationInstallerCommand(nullptr, L"C:\\a.bin", appLine.data(),
                                          static_cast<uint32_t>(appLine.size()));
  EXPECT_EQ(std::wstring(appLine.data()), L"\"Tessaro Vantel Application Installer.exe\" \"C:\\a.bin\"");
  tovik::BuildApplicationInstallerCommand(L"", L"C:\\a.bin", appLine.data(),
                                          static_cast<uint32_t>(appLine.size()));
  EXPECT_EQ(std::wstring(appLine.data()), L"\"Tessaro Vantel Application Installer.exe\" \"C:\\a.bin\"");
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
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
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
       L"-eulaAccepted -location \"C:\\a b\" -programMenu"},
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
