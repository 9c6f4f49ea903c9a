// tovik.exe end to end where the network or the disk lets it down: a
// temporary folder that cannot take the installer, and a proxy that asks
// for credentials. Silent runs; the failure box that a silent run still
// shows is answered by a driver thread.
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
#include "ui_driver.h"

namespace {

using Lines = std::vector<std::string>;

const char kEnd11[] = "Bootstrapper end with exit code 11";

class TovikRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening()) << "port 80 is taken";
    server_.Serve("/crl/inter.crl", tvtest::Pki("inter.crl"));
    tvtest::CopyFileTo(tvtest::TovikExe(), app_ / L"tovik.exe");
    tvtest::WriteFileBytes(app_ / L".launch", "Install app.exe\r\n\r\n");
    tvtest::WriteFileBytes(app_ / L"app.exe", "app");
  }

  // A silent run with `temp` as its temporary folder; OK on the failure box
  // that shows if it fails. Its exit code, 0xDEAD when it did not end.
  DWORD RunSilent(const std::wstring& temp) {
    tvtest::EnvList env = tvtest::TempEnv(temp);
    for (auto& pair : tvtest::RecorderEnv(record_, 23)) env.push_back(pair);
    bool done = false;
    std::thread driver([&] {
      const DWORD until = GetTickCount() + 120000;
      while (!done && GetTickCount() < until) {
        HWND box = tvtest::WaitVisibleDialog(L"Tessaro Vantel", 500);
        if (box != nullptr) tvtest::Send(GetDlgItem(box, IDOK), BM_CLICK);
      }
    });
    const tvtest::ProcessResult run = tvtest::RunProcess(
        app_ / L"tovik.exe", L"\"" + (app_ / L"tovik.exe") + L"\" -silent -allowDownload", env, scratch_.path(), 120000);
    done = true;
    driver.join();
    return run.started && !run.timedOut ? run.exitCode : 0xDEAD;
  }

  tvtest::HttpFixture server_;
  tvtest::TempDir app_{L"net-e2e-app"};
  tvtest::TempDir scratch_{L"net-e2e-cwd"};
  tvtest::TempDir records_{L"net-e2e-record"};
  std::wstring record_ = records_ / L"runtime-installer.txt";
};

// The line right before the end line of the run.
std::string CauseLine(const Lines& lines) {
  auto end = std::find(lines.begin(), lines.end(), kEnd11);
  return end == lines.end() || end == lines.begin() ? "(no end line 11)" : *(end - 1);
}

// The installer is downloaded and verified, and cannot be stored: the run
// ends with 11, names the step and the system's reason, and leaves nothing.
TEST_F(TovikRun, FailedStoreIsExplained) {
  const std::wstring small = tvtest::WinPath(TV_SMALL_TEMP);
  const bool mounted = tvtest::Exists(small + L"\\.mounted");
  tvtest::TempDir longBase{L"net-e2e-long"};
  std::wstring longTemp = longBase.path();
  while (longTemp.size() < 225) {
    longTemp += L"\\" + std::wstring(std::min<size_t>(60, 225 - longTemp.size() - 1), L'd');
    CreateDirectoryW(longTemp.c_str(), nullptr);
  }
  const struct {
    const char* name;
    std::wstring temp;
    const char* installer;
    const char* signature;
    std::string cause;  // what the line before the end line starts with
    bool skip;
  } cases[] = {
      // 2 MiB of room for a 32 MiB installer.
      {"temporary folder on a full disk", small + L"\\temp", "big-installer.bin", "big.p7",
       "Store runtime installer: write file failed for " + tvtest::Narrow(small) + "\\temp\\tovik-", !mounted},
      {"temporary path of 225 characters", longTemp, "installer.bin", "good.p7",
       "Store runtime installer: temporary folder failed for " + tvtest::Narrow(longTemp) + "\\: error 206 (", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.skip) {
      std::printf("skipped \"%s\": no 2 MiB file system mounted at %s\n", c.name, TV_SMALL_TEMP);
      continue;
    }
    CreateDirectoryW(c.temp.c_str(), nullptr);
    server_.Serve(tvtest::InstallerPath(), tvtest::Pki(c.installer));
    server_.Serve(tvtest::SignaturePath(), tvtest::Pki(c.signature));
    tvtest::TovikLogTail log;
    EXPECT_EQ(RunSilent(c.temp), 11u);
    const std::string cause = CauseLine(log.Lines());
    EXPECT_EQ(cause.substr(0, c.cause.size()), c.cause) << cause;
    if (std::string(c.name).find("full") != std::string::npos) {
      EXPECT_NE(cause.find(": error 112 ("), std::string::npos) << cause;
    }
    EXPECT_TRUE(tvtest::ListDir(c.temp).empty()) << "left behind in the temporary folder";
    EXPECT_FALSE(tvtest::ReadRecord(record_).present);
    RemoveDirectoryW(c.temp.c_str());
  }
}

// Behind the system's proxy (a real proxy that the test script started, its
// address in TV_PROXY_OPEN, and one that wants Basic credentials in
// TV_PROXY_AUTH): the proxy carries the download, and its 407 ends a silent
// run with 11 and a line that names it. Runs only from proxy_e2e.sh, in a
// prefix of its own, since the proxy is a setting of the whole prefix.
class ProxyRun : public TovikRun {
 protected:
  void SetUp() override {
    if (GetEnvironmentVariableA("TV_PROXY_OPEN", nullptr, 0) == 0) GTEST_SKIP() << "run by proxy_e2e.sh";
    TovikRun::SetUp();
    server_.Serve(tvtest::InstallerPath(), tvtest::ReadFileBytes(tvtest::RecorderExe()));
    server_.Serve(tvtest::SignaturePath(), tvtest::ReadFileBytes(tvtest::WinPath(TV_RECORDER_SIGNATURE)));
  }
  void TearDown() override { SetProxy(""); }

  // The system's proxy setting of this user, as the control panel writes it.
  static void SetProxy(const std::string& server) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD enable = server.empty() ? 0 : 1;
    RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof(enable));
    RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>(server.size() + 1));
    RegCloseKey(key);
  }

  static std::string Env(const char* name) {
    char value[256] = {};
    GetEnvironmentVariableA(name, value, sizeof(value));
    return value;
  }

  tvtest::TempDir temp_{L"net-e2e-temp"};
};

TEST_F(ProxyRun, OpenProxyCarriesTheDownload) {
  SetProxy(Env("TV_PROXY_OPEN"));
  EXPECT_EQ(RunSilent(temp_.path()), 23u);
  EXPECT_TRUE(tvtest::ReadRecord(record_).present);
  // Both files came through the proxy, which says so in its Via header.
  const auto requests = server_.Requests();
  ASSERT_GE(requests.size(), 2u);
  for (size_t i = 0; i < 2; ++i) EXPECT_NE(requests[i].Header("Via"), "") << requests[i].head;
}

TEST_F(ProxyRun, ProxyWantingCredentialsEndsASilentRun) {
  SetProxy(Env("TV_PROXY_AUTH"));
  tvtest::TovikLogTail log;
  EXPECT_EQ(RunSilent(temp_.path()), 11u);
  EXPECT_EQ(CauseLine(log.Lines()), "Download failure: 407 proxy authentication required");
  EXPECT_TRUE(server_.Requests().empty()) << "the proxy let a request through";
  EXPECT_FALSE(tvtest::ReadRecord(record_).present);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  static tvtest::TempDir cwd(L"net-e2e-main-cwd");
  SetCurrentDirectoryW(cwd.path().c_str());
  return RUN_ALL_TESTS();
}
