// tovik.exe end to end with no runtime and downloading allowed: the fixture
// server hands out a signed runtime installer (the recorder program), a
// driver thread watches the progress dialog of the child process.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "download_test_support.h"
#include "http_fixture.h"
#include "language_table.h"
#include "test_support.h"

namespace {

constexpr DWORD kWaitMs = 20000;

// tovik inherits this program's language (LANG, set by the test's
// registration), so its texts are those of the same row.
const tovik::LanguageTexts& Row() {
  return tovik::kLanguageTable[tovik::FindLanguageRow(GetUserDefaultUILanguage())];
}
std::wstring Title() { return std::wstring(Row().installingPrefix) + L"app.exe"; }

std::wstring Text(HWND window) {
  wchar_t buffer[1024] = L"";
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &ignored);
  return buffer;
}

struct Search {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindByCaption(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  wchar_t klass[32] = L"";
  GetClassNameW(window, klass, 32);
  if (lstrcmpW(klass, L"#32770") == 0 && IsWindowVisible(window) && Text(window) == search->caption) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WaitVisibleDialog(const std::wstring& caption, DWORD waitMs = kWaitMs) {
  const ULONGLONG until = GetTickCount64() + waitMs;
  do {
    Search search{caption};
    EnumWindows(FindByCaption, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(20);
  } while (GetTickCount64() < until);
  return nullptr;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
  return static_cast<LRESULT>(result);
}

class TovikDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening()) << "port 80 is taken";
    installer_ = tvtest::ReadFileBytes(tvtest::RecorderExe());
    server_.Serve("/crl/inter.crl", dltest::Pki("inter.crl"));
    server_.Serve(dltest::SignaturePath(), tvtest::ReadFileBytes(tvtest::WinPath(TV_RECORDER_SIGNATURE)));
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
  slow.chunkDelayMs = 40;
  server_.Serve(dltest::InstallerPath(), slow);
  dltest::LogTail log;
  std::vector<int> positions;
  std::wstring status, title;
  std::thread driver([&] {
    HWND dialog = WaitVisibleDialog(Title());
    if (dialog == nullptr) return;
    status = Text(GetDlgItem(dialog, 1002));
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
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 23u);
  EXPECT_STREQ(Row().languageCode, "de") << "the test runs in German (LANG)";
  EXPECT_EQ(status, Row().pleaseWait);
  EXPECT_GE(positions.size(), 3u) << "the bar did not move";
  const tvtest::Record record = tvtest::ReadRecord(record_);
  ASSERT_TRUE(record.present);
  EXPECT_EQ(record.commandLine, L"\"" + (temp_ / L"VantelRuntimeInstaller.exe") + L"\" -x1 \"" +
                                    (app_ / L"app.exe") + L"\"");
  EXPECT_FALSE(tvtest::Exists(temp_ / L"VantelRuntimeInstaller.exe")) << "stored installer left behind";
}

TEST_F(TovikDownload, OptionsFormOfTheRuntimeInstallerCommand) {
  server_.Serve(dltest::InstallerPath(), installer_);
  std::atomic<bool> seen{false};
  std::thread driver([&] { seen = WaitVisibleDialog(Title(), 15000) != nullptr; });
  const tvtest::ProcessResult run = RunTovik(L"-eulaAccepted -desktopShortcut -allowDownload");
  driver.join();
  EXPECT_EQ(run.exitCode, 23u);
  const tvtest::Record record = tvtest::ReadRecord(record_);
  ASSERT_TRUE(record.present);
  EXPECT_TRUE(seen) << "no progress dialog titled " << tvtest::Narrow(Title());
  EXPECT_EQ(record.commandLine, L"\"" + (temp_ / L"VantelRuntimeInstaller.exe") +
                                    L"\" -eulaAccepted -desktopShortcut \"" + (app_ / L"app.exe") + L"\"");
  EXPECT_FALSE(tvtest::Exists(temp_ / L"VantelRuntimeInstaller.exe"));
}

TEST_F(TovikDownload, CancelDuringSlowTransferEndsWith11AndRunsNothing) {
  tvtest::HttpResponse slow;
  slow.body = installer_;
  slow.chunkSize = 4096;
  slow.chunkDelayMs = 100;
  server_.Serve(dltest::InstallerPath(), slow);
  dltest::LogTail log;
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
  EXPECT_FALSE(tvtest::Exists(temp_ / L"VantelRuntimeInstaller.exe"));
  const std::vector<std::string> lines = log.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Download cancelled"), lines.end());
}

TEST_F(TovikDownload, SilentRunNeverShowsTheProgressDialog) {
  tvtest::HttpResponse slow;
  slow.body = installer_;
  slow.chunkSize = 16384;
  slow.chunkDelayMs = 40;
  server_.Serve(dltest::InstallerPath(), slow);
  std::atomic<bool> seen{false};
  std::thread driver([&] { seen = WaitVisibleDialog(Title(), 4000) != nullptr; });
  const tvtest::ProcessResult run = RunTovik(L"-silent -allowDownload");
  driver.join();
  EXPECT_EQ(run.exitCode, 23u);
  EXPECT_FALSE(seen) << "progress dialog visible in a silent run";
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  static tvtest::TempDir cwd(L"ui-e2e-main-cwd");
  SetCurrentDirectoryW(cwd.path().c_str());
  return RUN_ALL_TESTS();
}
