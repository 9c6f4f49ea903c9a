// Demonstration of tovik.exe's whole download flow (run by scripts/demo, not
// a test): tovik with no runtime installed and "-eulaAccepted -allowDownload"
// (the options form: "-allowDownload" alone is no valid command) fetches the
// runtime installer - the recorder program signed with the test PKI - from
// the fixture server on 127.0.0.1:80, slowly enough that its progress dialog
// can be photographed, then runs it. Prints what happened and exits 0 when
// the flow went through: the dialog was seen, the installer ran with the
// expected command line, its exit code became tovik's and the stored file is
// gone.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "download_test_support.h"
#include "http_fixture.h"
#include "language_table.h"
#include "log_reader.h"
#include "test_support.h"
#include "ui_driver.h"
#include "ui_screenshot.h"

namespace {

constexpr DWORD kInstallerExit = 0;
constexpr wchar_t kShotName[] = L"tovik_demo_progress";

void Line(const char* label, const std::string& value) { std::printf("   %-28s %s\n", label, value.c_str()); }
void Line(const char* label, const std::wstring& value) { Line(label, tvtest::Narrow(value)); }

}  // namespace

int main() {
  tvtest::TempDir cwd(L"ui-demo-cwd");
  SetCurrentDirectoryW(cwd.path().c_str());

  tvtest::HttpFixture server;
  if (!server.listening()) {
    std::printf("port 80 on 127.0.0.1 is taken\n");
    return 1;
  }
  const std::string installer = tvtest::ReadFileBytes(tvtest::RecorderExe());
  tvtest::HttpResponse slow;
  slow.body = installer;
  slow.chunkSize = 8192;
  slow.chunkDelayMs = 120;
  server.Serve(tvtest::InstallerPath(), slow);
  server.Serve(tvtest::SignaturePath(), tvtest::ReadFileBytes(tvtest::WinPath(TV_RECORDER_SIGNATURE)));
  server.Serve("/crl/inter.crl", tvtest::Pki("inter.crl"));

  tvtest::TempDir app(L"ui-demo-app"), temp(L"ui-demo-temp"), records(L"ui-demo-record");
  const std::wstring tovik = app / L"tovik.exe", record = records / L"runtime-installer.txt";
  tvtest::CopyFileTo(tvtest::TovikExe(), tovik);
  tvtest::WriteFileBytes(app / L".launch", "Install app.exe\r\n\r\n");
  tvtest::WriteFileBytes(app / L"app.exe", "application bytes");
  tvtest::EnvList env = tvtest::TempEnv(temp.path());
  for (auto& pair : tvtest::RecorderEnv(record, kInstallerExit)) env.push_back(pair);

  const tovik::LanguageTexts& row = tovik::kLanguageTable[tovik::FindLanguageRow(GetUserDefaultUILanguage())];
  const std::wstring title = std::wstring(row.installingPrefix) + L"app.exe";
  std::printf("== tovik.exe -eulaAccepted -allowDownload, no runtime installed, %zu-byte runtime installer served slowly\n",
              installer.size());
  std::printf("   from http://127.0.0.1%s (language row \"%s\")\n", tvtest::InstallerPath().c_str(), row.languageCode);

  tvtest::TovikLogTail log;
  bool seen = false, shot = false;
  std::wstring status;
  std::vector<int> positions;
  int range = 0;
  std::thread driver([&] {
    HWND dialog = tvtest::WaitVisibleDialog(title);
    if (dialog == nullptr) return;
    seen = true;
    status = tvtest::Text(GetDlgItem(dialog, 1002));
    HWND bar = GetDlgItem(dialog, 1003);
    const ULONGLONG until = GetTickCount64() + tvtest::kWaitMs;
    while (IsWindow(dialog) && GetTickCount64() < until) {
      // The range is set once the size of the transfer is known.
      const int high = static_cast<int>(tvtest::Send(bar, PBM_GETRANGE, FALSE, 0));
      const int pos = static_cast<int>(tvtest::Send(bar, PBM_GETPOS));
      if (!IsWindow(dialog)) break;
      if (high > 0) range = high;
      if (positions.empty() || positions.back() != pos) positions.push_back(pos);
      // Photographed once the bar has visibly moved, while the transfer runs.
      if (!shot && pos * 3 >= range && pos < range) {
        Screenshot(dialog, kShotName);
        shot = true;
      }
      Sleep(30);
    }
  });
  const tvtest::ProcessResult run =
      tvtest::RunProcess(tovik, L"\"" + tovik + L"\" -eulaAccepted -allowDownload", env, cwd.path(), 60000);
  driver.join();

  std::printf("== The server was asked for\n");
  for (const std::string& target : server.RequestedTargets()) std::printf("   %s\n", target.c_str());
  std::printf("== The progress dialog\n");
  Line("title:", seen ? title : L"(never seen)");
  Line("text:", status);
  std::string moves;
  for (int pos : positions) moves += std::to_string(pos) + " ";
  Line("bar positions seen:", moves + "(of " + std::to_string(range) + ")");
  std::printf("== The runtime installer\n");
  const tvtest::Record ran = tvtest::ReadRecord(record);
  Line("its command line:", ran.present ? ran.commandLine : L"(it did not run)");
  Line("ended with:", std::to_string(kInstallerExit) + " (told to)");
  // The stored installer lives in a folder of its own run ("tovik-..."),
  // removed with it.
  bool gone = true;
  for (const std::wstring& name : tvtest::ListDir(temp.path()))
    if (name.rfind(L"tovik-", 0) == 0) gone = false;
  Line("stored installer afterwards:", gone ? "gone" : "still there");
  std::printf("== tovik.exe ended with exit code %lu\n", static_cast<unsigned long>(run.exitCode));
  std::printf("== Its log (%s)\n", tvtest::Narrow(tvtest::TovikLogFile()).c_str());
  for (const std::string& line : log.Lines()) std::printf("   %s\n", line.c_str());
  std::printf("== Screenshot saved as %s\n",
              shot ? tvtest::Narrow(tvtest::BuildDir() + L"\\artifacts\\ui\\" + kShotName + L".bmp").c_str()
                   : "(none taken)");

  const std::wstring head = L"\"" + (temp / L"tovik-");
  const std::wstring tail = L"\\VantelRuntimeInstaller.exe\" -eulaAccepted \"" + (app / L"app.exe") + L"\"";
  const std::wstring& line = ran.commandLine;
  const bool ok = run.started && !run.timedOut && run.exitCode == kInstallerExit && seen && shot && ran.present &&
                  gone && line.size() > head.size() + tail.size() && line.compare(0, head.size(), head) == 0 &&
                  line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
  std::fflush(stdout);
  return ok ? 0 : 1;
}
