// tovik.exe beside planted copies of the system libraries it calls but does
// not import: none of them may run, and the run works as with a clean
// folder. The test program runs with WINEDLLOVERRIDES preferring native
// copies of those libraries (see CMakeLists.txt): Wine takes the override
// from the environment of the whole run, and without it never runs a
// planted library.
//
// version.dll is not among them: Wine's own user32 imports it, so under Wine
// a planted version.dll that Wine is told to prefer loads into every program
// that imports user32, before its first instruction. Windows' user32 does
// not import it; that tovik itself does not is the image check pe_tovik's.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "download_test_support.h"
#include "http_fixture.h"
#include "log_reader.h"
#include "test_support.h"
#include "tovik_test_helpers.h"
#include "ui_driver.h"

namespace {

constexpr const wchar_t* kPlanted[] = {L"msi.dll", L"wininet.dll", L"crypt32.dll", L"cryptnet.dll",
                                       L"riched20.dll"};

bool AnyLineStartsWith(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.compare(0, start.size(), start) == 0; });
}

// An outdated runtime is installed, so that the run asks the Windows
// Installer and reads a version resource before it downloads.
TEST(TovikPlantedLibraries, NeverRunAndTheRunStillWorks) {
  tvtest::HttpFixture server;
  ASSERT_TRUE(server.listening()) << "port 80 is taken";
  server.Serve("/crl/inter.crl", tvtest::Pki("inter.crl"));
  server.Serve(tvtest::SignaturePath(), tvtest::ReadFileBytes(tvtest::WinPath(TV_RECORDER_SIGNATURE)));
  const std::string installer = tvtest::ReadFileBytes(tvtest::RecorderExe());
  tvtest::TempDir app(L"planted-app"), temp(L"planted-temp"), cwd(L"planted-cwd"), out(L"planted-out");
  tvtest::CopyFileTo(tvtest::TovikExe(), app / L"tovik.exe");
  tvtest::WriteFileBytes(app / L".launch", "Install app.exe\r\n\r\n");
  tvtest::WriteFileBytes(app / L"app.exe", "app");
  for (const wchar_t* name : kPlanted) tvtest::CopyFileTo(tvtest::WinPath(TV_PLANTED_DIR) + L"\\" + name, app / name);
  tvtest::InstalledRuntime runtime(L"v1");

  const struct {
    const char* name;
    int status;  // of the installer request
    DWORD code;
    const wchar_t* dialog;  // caption the driver answers with OK; null: none expected
  } cases[] = {
      {"download, verification and the runtime installer", 200, 23, nullptr},
      {"update unavailable: the rich-text error dialog", 404, 14, L"Tessaro Vantel Installer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.Serve(tvtest::InstallerPath(), tvtest::HttpResponse{c.status, installer});
    const std::wstring marker = out / L"marker.txt", record = out / L"record.txt";
    DeleteFileW(marker.c_str());
    DeleteFileW(record.c_str());
    tvtest::EnvList env = tvtest::TempEnv(temp.path());
    for (auto& pair : tvtest::RecorderEnv(record, 23)) env.push_back(pair);
    env.push_back({L"TV_DLL_MARKER", marker});
    std::wstring shown;
    std::thread driver([&] {
      if (c.dialog == nullptr) return;
      HWND dialog = tvtest::WaitVisibleDialog(c.dialog);
      if (dialog == nullptr) return;
      shown = tvtest::Text(GetDlgItem(dialog, 1004));
      tvtest::Send(GetDlgItem(dialog, IDOK), BM_CLICK);
    });
    tvtest::TovikLogTail log;
    const tvtest::ProcessResult run = tvtest::RunProcess(
        app / L"tovik.exe", L"\"" + (app / L"tovik.exe") + L"\"", env, cwd.path(), 60000);
    driver.join();
    EXPECT_FALSE(tvtest::Exists(marker)) << "a planted library ran: " << tvtest::ReadFileBytes(marker);
    EXPECT_EQ(run.exitCode, c.code) << tvtest::Describe(run);
    EXPECT_EQ(tvtest::ReadRecord(record).present, c.dialog == nullptr);
    if (c.dialog != nullptr) EXPECT_FALSE(shown.empty()) << "no error dialog with its text";
    EXPECT_TRUE(AnyLineStartsWith(log.Lines(), "Installed runtime (1.")) << "the runtime was not found";
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  static tvtest::TempDir cwd(L"planted-main-cwd");
  SetCurrentDirectoryW(cwd.path().c_str());
  return RUN_ALL_TESTS();
}
