// tovik.exe end to end with no runtime and downloading allowed: the fixture
// server hands out a signed runtime installer (the recorder program), a
// driver thread watches the progress dialog of the child process.
#include <windows.h>

#include <commctrl.h>
#include <richedit.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download_test_support.h"
#include "http_fixture.h"
#include "language_table.h"
#include "log_reader.h"
#include "test_support.h"
#include "tovik_test_helpers.h"
#include "ui_driver.h"
#include "ui_screenshot.h"

namespace {

using tvtest::kWaitMs;
using tvtest::RegisterHttpsRecorder;
using tvtest::Send;
using tvtest::Text;
using tvtest::WaitVisibleDialog;

// tovik inherits this program's language (LANG, set by the test's
// registration), so its texts are those of the same row.
const tovik::LanguageTexts& Row() {
  return tovik::kLanguageTable[tovik::FindLanguageRow(GetUserDefaultUILanguage())];
}
std::wstring Title() { return std::wstring(Row().installingPrefix) + L"app.exe"; }

// The client point of character `at` of a rich-edit control in another
// process: the point structure has to live in that process.
POINT CharPoint(HWND richEdit, LONG at) {
  DWORD pid = 0;
  GetWindowThreadProcessId(richEdit, &pid);
  POINT result = {-1, -1};
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (process == nullptr) return result;
  void* remote = VirtualAllocEx(process, nullptr, sizeof(POINTL), MEM_COMMIT, PAGE_READWRITE);
  if (remote != nullptr) {
    Send(richEdit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(remote), at);
    POINTL point = {};
    SIZE_T read = 0;
    if (ReadProcessMemory(process, remote, &point, sizeof(point), &read)) result = {point.x + 2, point.y + 4};
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return result;
}

class TovikDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening()) << "port 80 is taken";
    installer_ = tvtest::ReadFileBytes(tvtest::RecorderExe());
    server_.Serve("/crl/inter.crl", tvtest::Pki("inter.crl"));
    server_.Serve(tvtest::SignaturePath(), tvtest::ReadFileBytes(tvtest::WinPath(TV_RECORDER_SIGNATURE)));
    tvtest::CopyFileTo(tvtest::TovikExe(), app_ / L"tovik.exe");
    tvtest::WriteFileBytes(app_ / L".launch", "Install app.exe\r\n\r\n");
    tvtest::WriteFileBytes(app_ / L"app.exe", "app");
  }

  tvtest::EnvList Env() {
    tvtest::EnvList env = tvtest::TempEnv(temp_.path());
    for (auto& pair : tvtest::RecorderEnv(record_, 23)) env.push_back(pair);
    return env;
  }

  tvtest::ProcessResult RunTovik(const std::wstring& args) {
    return tvtest::RunProcess(app_ / L"tovik.exe", L"\"" + (app_ / L"tovik.exe") + L"\" " + args, Env(),
                              scratch_.path(), 60000);
  }

  // The stored installer a recorded command line starts with: in a run
  // folder of its own below the temporary folder. Empty when it is not.
  std::wstring StoredInstaller(const std::wstring& commandLine) const {
    const std::wstring prefix = L"\"" + temp_.path() + L"\\tovik-";
    const std::wstring name = L"\\VantelRuntimeInstaller.exe\"";
    const size_t end = commandLine.find(name);
    if (commandLine.compare(0, prefix.size(), prefix) != 0 || end == std::wstring::npos ||
        commandLine.find(L'\\', prefix.size()) != end) {
      return L"";
    }
    return commandLine.substr(1, end + name.size() - 2);
  }

  // No run folder (and so no stored installer) is left in the temporary folder.
  bool NoRunFolderLeft() const {
    for (const std::wstring& entry : tvtest::ListDir(temp_.path())) {
      if (entry.compare(0, 6, L"tovik-") == 0 || entry == L"VantelRuntimeInstaller.exe") return false;
    }
    return true;
  }

  tvtest::HttpFixture server_;
  std::string installer_;
  tvtest::TempDir app_{L"ui-e2e-app"};
  tvtest::TempDir temp_{L"ui-e2e-temp"};
  tvtest::TempDir scratch_{L"ui-e2e-cwd"};
  tvtest::TempDir records_{L"ui-e2e-record"};
  std::wstring record_ = records_ / L"runtime-installer.txt";
};

TEST_F(TovikDownload, ProgressInUserLanguageThenRuntimeInstallerGetsTheApplication) {
  tvtest::HttpResponse slow;
  slow.body = installer_;
  slow.chunkSize = 16384;
  slow.chunkDelayMs = 80;
  server_.Serve(tvtest::InstallerPath(), slow);
  tvtest::TovikLogTail log;
  std::vector<int> positions;
  std::wstring status, title;
  std::thread driver([&] {
    HWND dialog = WaitVisibleDialog(Title());
    if (dialog == nullptr) return;
    status = Text(GetDlgItem(dialog, 1002));
    Screenshot(dialog, L"tovik_download_progress_de");
    HWND bar = GetDlgItem(dialog, 1003);
    const ULONGLONG until = GetTickCount64() + kWaitMs;
    while (IsWindow(dialog) && GetTickCount64() < until) {
      const int pos = static_cast<int>(Send(bar, PBM_GETPOS));
      if (positions.empty() || positions.back() != pos) positions.push_back(pos);
      Sleep(30);
    }
  });
  const tvtest::ProcessResult run = RunTovik(L"");
  driver.join();
  ASSERT_TRUE(run.started) << tvtest::Describe(run);
  EXPECT_EQ(run.exitCode, 23u);
  EXPECT_STREQ(Row().languageCode, "de") << "the test runs in German (LANG)";
  EXPECT_EQ(status, Row().pleaseWait);
  EXPECT_GE(positions.size(), 3u) << "the bar did not move";
  const tvtest::Record record = tvtest::ReadRecord(record_);
  ASSERT_TRUE(record.present);
  const std::wstring stored = StoredInstaller(record.commandLine);
  ASSERT_FALSE(stored.empty()) << tvtest::Narrow(record.commandLine);
  EXPECT_EQ(record.commandLine, L"\"" + stored + L"\" -x1 \"" + (app_ / L"app.exe") + L"\"");
  EXPECT_EQ(record.self, stored);
  EXPECT_TRUE(NoRunFolderLeft()) << "stored installer left behind";
}

TEST_F(TovikDownload, OptionsFormOfTheRuntimeInstallerCommand) {
  server_.Serve(tvtest::InstallerPath(), installer_);
  std::atomic<bool> seen{false};
  std::thread driver([&] { seen = WaitVisibleDialog(Title(), 15000) != nullptr; });
  const tvtest::ProcessResult run = RunTovik(L"-eulaAccepted -desktopShortcut -allowDownload");
  driver.join();
  EXPECT_EQ(run.exitCode, 23u);
  const tvtest::Record record = tvtest::ReadRecord(record_);
  ASSERT_TRUE(record.present);
  EXPECT_TRUE(seen) << "no progress dialog titled " << tvtest::Narrow(Title());
  const std::wstring stored = StoredInstaller(record.commandLine);
  ASSERT_FALSE(stored.empty()) << tvtest::Narrow(record.commandLine);
  EXPECT_EQ(record.commandLine,
            L"\"" + stored + L"\" -eulaAccepted -desktopShortcut \"" + (app_ / L"app.exe") + L"\"");
  EXPECT_TRUE(NoRunFolderLeft());
}

TEST_F(TovikDownload, CancelDuringSlowTransferEndsWith11AndRunsNothing) {
  tvtest::HttpResponse slow;
  slow.body = installer_;
  slow.chunkSize = 4096;
  slow.chunkDelayMs = 100;
  server_.Serve(tvtest::InstallerPath(), slow);
  tvtest::TovikLogTail log;
  std::thread driver([&] {
    HWND dialog = WaitVisibleDialog(Title());
    if (dialog == nullptr) return;
    Sleep(500);
    Send(GetDlgItem(dialog, 1001), BM_CLICK);
  });
  const tvtest::ProcessResult run = RunTovik(L"");
  driver.join();
  EXPECT_EQ(run.exitCode, 11u);
  EXPECT_FALSE(tvtest::ReadRecord(record_).present) << "an installer ran after a cancel";
  EXPECT_TRUE(NoRunFolderLeft());
  const std::vector<std::string> lines = log.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Download cancelled"), lines.end());
}

TEST_F(TovikDownload, SilentRunNeverShowsTheProgressDialog) {
  tvtest::HttpResponse slow;
  slow.body = installer_;
  slow.chunkSize = 16384;
  slow.chunkDelayMs = 40;
  server_.Serve(tvtest::InstallerPath(), slow);
  std::atomic<bool> seen{false};
  std::thread driver([&] { seen = WaitVisibleDialog(Title(), 4000) != nullptr; });
  const tvtest::ProcessResult run = RunTovik(L"-silent -allowDownload");
  driver.join();
  EXPECT_EQ(run.exitCode, 23u);
  EXPECT_FALSE(seen) << "progress dialog visible in a silent run";
}

// Each failure of the worker shows its text in the user's language; OK ends
// the run with the code and nothing is installed.
TEST_F(TovikDownload, FailuresShowMessageBoxesWithTheirCode) {
  const struct {
    int status;  // of the installer request
    bool badSignature;
    DWORD code;
    const wchar_t* text;
  } cases[] = {{500, false, 11, Row().runtimeMissing}, {200, true, 13, Row().validationFailed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    tvtest::HttpResponse response;
    response.status = c.status;
    response.body = installer_;
    server_.Serve(tvtest::InstallerPath(), response);
    if (c.badSignature) server_.Serve(tvtest::SignaturePath(), tvtest::Pki("good.p7"));
    std::wstring shown;
    std::thread driver([&] {
      HWND box = WaitVisibleDialog(L"Tessaro Vantel");
      if (box == nullptr) return;
      shown = Text(GetDlgItem(box, 0xFFFF));
      Send(GetDlgItem(box, IDOK), BM_CLICK);
    });
    const tvtest::ProcessResult run = RunTovik(L"");
    driver.join();
    EXPECT_EQ(run.exitCode, c.code);
    EXPECT_EQ(shown, c.text);
    EXPECT_FALSE(tvtest::ReadRecord(record_).present);
    EXPECT_TRUE(NoRunFolderLeft());
  }
}

TEST_F(TovikDownload, UnavailableUpdateDialogLinkOpensSystemRequirements) {
  server_.Serve(tvtest::InstallerPath(), tvtest::HttpResponse{404, "no"});
  // The handler inherits tovik's environment, so it records into record_;
  // no runtime installer can run in this case to write there as well.
  const std::wstring urlRecord = record_;
  RegisterHttpsRecorder(urlRecord);
  const std::wstring text = Row().updateUnavailable;
  const size_t open = text.find(L"'") + 1;
  const std::wstring address = text.substr(open, text.find(L"'>") - open);
  const std::wstring label = text.substr(text.find(L"'>") + 2, text.find(L"</a>") - text.find(L"'>") - 2);
  std::wstring opened;
  std::thread driver([&] {
    HWND dialog = WaitVisibleDialog(L"Tessaro Vantel Installer");
    if (dialog == nullptr) return;
    HWND rich = GetDlgItem(dialog, 1004);
    const std::wstring all = Text(rich);
    const POINT at = CharPoint(rich, static_cast<LONG>(all.find(label) + 1));
    PostMessageW(rich, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    PostMessageW(rich, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    const ULONGLONG until = GetTickCount64() + kWaitMs;
    while (!tvtest::ReadRecord(urlRecord).present && GetTickCount64() < until) Sleep(50);
    opened = tvtest::ReadRecord(urlRecord).commandLine;
    Send(GetDlgItem(dialog, IDOK), BM_CLICK);
  });
  const tvtest::ProcessResult run = RunTovik(L"");
  driver.join();
  SetEnvironmentVariableW(L"TV_RECORD", nullptr);
  EXPECT_EQ(run.exitCode, 14u);
  EXPECT_NE(address.find(L"/go/vantel_sysreqs_de/"), std::wstring::npos);
  EXPECT_NE(opened.find(L"\"" + address + L"\""), std::wstring::npos) << tvtest::Narrow(opened);
  EXPECT_EQ(tvtest::ReadRecord(record_).self.find(L"VantelRuntimeInstaller"), std::wstring::npos);
}

// Updates turned off by the machine policy value or by the marker file below
// the user's roaming application data.
class UpdateBlock {
 public:
  virtual ~UpdateBlock() = default;
};

class PolicyBlock : public UpdateBlock {
 public:
  PolicyBlock() {
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    RegSetValueExW(key_, L"UpdateDisabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
  }
  ~PolicyBlock() override {
    RegDeleteValueW(key_, L"UpdateDisabled");
    RegCloseKey(key_);
  }

 private:
  static constexpr const wchar_t* kKey = L"Software\\Policies\\Tessaro\\Vantel";
  HKEY key_ = nullptr;
};

class MarkerBlock : public UpdateBlock {
 public:
  MarkerBlock() {
    wchar_t roaming[MAX_PATH] = L"";
    EXPECT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, roaming)));
    const std::wstring folder = std::wstring(roaming) + L"\\Tessaro";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\Vantel").c_str(), nullptr);
    marker_ = folder + L"\\Vantel\\updateDisabled";
    tvtest::WriteFileBytes(marker_, "");
  }
  ~MarkerBlock() override { DeleteFileW(marker_.c_str()); }

 private:
  std::wstring marker_;
};

// An outdated runtime and updates turned off: the error dialog stands over
// the progress dialog, nothing is requested, 15.
TEST_F(TovikDownload, BlockedUpdateShowsDialogAndRequestsNothing) {
  const struct {
    const char* name;
    std::function<std::unique_ptr<UpdateBlock>()> block;
  } cases[] = {{"policy value", [] { return std::make_unique<PolicyBlock>(); }},
               {"marker file", [] { return std::make_unique<MarkerBlock>(); }}};
  tvtest::InstalledRuntime runtime(L"v1");
  server_.Serve(tvtest::InstallerPath(), installer_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<UpdateBlock> block = c.block();
    server_.ClearRequests();
    tvtest::TovikLogTail log;
    std::wstring shown, behind;
    bool progressVisible = false;
    std::thread driver([&] {
      HWND dialog = WaitVisibleDialog(L"Tessaro Vantel Installer");
      if (dialog == nullptr) return;
      shown = Text(GetDlgItem(dialog, 1004));
      HWND progress = WaitVisibleDialog(Title(), 2000);
      progressVisible = progress != nullptr;
      if (progress != nullptr) behind = Text(GetDlgItem(progress, 1002));
      Send(GetDlgItem(dialog, IDOK), BM_CLICK);
    });
    const tvtest::ProcessResult run = RunTovik(L"");
    driver.join();
    EXPECT_EQ(run.exitCode, 15u);
    EXPECT_EQ(shown, Row().updateBlocked);
    EXPECT_TRUE(progressVisible);
    EXPECT_EQ(behind, Row().pleaseWait);
    EXPECT_TRUE(server_.RequestedTargets().empty()) << "the blocked run went to the network";
    const std::vector<std::string> lines = log.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Cannot complete installation because runtime updates are disabled on this machine"),
              lines.end());
  }
}

// "-silent" hides the progress dialog but not the failures: the message box
// of 13 and the error dialog of 14 still show, and OK ends the run.
TEST_F(TovikDownload, SilentRunStillShowsFailures) {
  const struct {
    int status;  // of the installer request
    bool badSignature;
    DWORD code;
    const wchar_t* caption;
    const wchar_t* text;  // of the message box; nullptr for the error dialog
  } cases[] = {{200, true, 13, L"Tessaro Vantel", Row().validationFailed},
               {404, false, 14, L"Tessaro Vantel Installer", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    tvtest::HttpResponse response;
    response.status = c.status;
    response.body = installer_;
    server_.Serve(tvtest::InstallerPath(), response);
    if (c.badSignature) server_.Serve(tvtest::SignaturePath(), tvtest::Pki("good.p7"));
    std::atomic<bool> progressSeen{false}, stop{false};
    std::thread watcher([&] {
      while (!stop && !progressSeen) progressSeen = WaitVisibleDialog(Title(), 200) != nullptr;
    });
    bool shown = false;
    std::wstring text;
    std::thread driver([&] {
      HWND box = WaitVisibleDialog(c.caption);
      if (box == nullptr) return;
      shown = true;
      text = Text(GetDlgItem(box, c.text != nullptr ? 0xFFFF : 1004));
      Send(GetDlgItem(box, IDOK), BM_CLICK);
    });
    const tvtest::ProcessResult run = RunTovik(L"-silent -allowDownload");
    driver.join();
    stop = true;
    watcher.join();
    EXPECT_EQ(run.exitCode, c.code);
    EXPECT_TRUE(shown) << "no failure shown in a silent run";
    if (c.text != nullptr) EXPECT_EQ(text, c.text);
    else EXPECT_FALSE(text.empty());
    EXPECT_FALSE(progressSeen) << "progress dialog visible in a silent run";
    EXPECT_FALSE(tvtest::ReadRecord(record_).present);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  static tvtest::TempDir cwd(L"ui-e2e-main-cwd");
  SetCurrentDirectoryW(cwd.path().c_str());
  return RUN_ALL_TESTS();
}
