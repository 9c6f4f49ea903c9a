// The bootstrapper's log file under Wine: where it lives, its byte-order
// mark, the size cap, refused levels and concurrent writers. Every case
// starts without the file, in the prefix's user profile.
#include "log.h"

#include <shlobj.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "log_reader.h"
#include "test_support.h"
#include "tv_version.h"

namespace {

std::wstring LocalAppData() {
  wchar_t path[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path))) return L"";
  return path;
}

std::wstring LogFolder() { return LocalAppData() + L"\\Tessaro\\Vantel\\logs"; }
std::wstring LogFile() { return tvtest::TovikLogFile(); }

const std::string kBom = "\xEF\xBB\xBF";

// Lines without the timestamp, each checked to carry one and its line end.
std::vector<std::string> Lines(const std::string& bytes) { return tvtest::LogLinesOf(bytes); }

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(LocalAppData().empty());
    tvtest::RemoveTree(LocalAppData() + L"\\Tessaro");
  }
  void TearDown() override { tvtest::RemoveTree(LocalAppData() + L"\\Tessaro"); }
};

TEST_F(LogFileTest, FirstLineCreatesFoldersAndStartsWithByteOrderMark) {
  ASSERT_FALSE(tvtest::Exists(LogFolder()));
  EXPECT_EQ(tovik::Log(tovik::INFO, "Download success"), 0);
  std::string bytes = tvtest::ReadFileBytes(LogFile());
  ASSERT_EQ(bytes.substr(0, 3), kBom);
  EXPECT_EQ(Lines(bytes.substr(3)), std::vector<std::string>{"Download success"});
  EXPECT_EQ(bytes.size(), 3u + 22u + 16u + 2u);

  // A second line is appended without a second mark.
  EXPECT_EQ(tovik::Log(tovik::ERR, "%s failed (%d)", "x", -5), 0);
  bytes = tvtest::ReadFileBytes(LogFile());
  EXPECT_EQ(Lines(bytes.substr(3)), (std::vector<std::string>{"Download success", "x failed (-5)"}));
}

TEST_F(LogFileTest, FileAtTheCapIsAppendedToAndOneByteMoreStartsAfresh) {
  ASSERT_EQ(tovik::Log(tovik::INFO, "create"), 0);
  for (size_t size : {524288u, 524289u}) {
    std::string filler(size, 'a');
    tvtest::WriteFileBytes(LogFile(), filler);
    ASSERT_EQ(tvtest::ReadFileBytes(LogFile()).size(), size);
    EXPECT_EQ(tovik::Log(tovik::INFO, "next"), 0);
    std::string bytes = tvtest::ReadFileBytes(LogFile());
    if (size == 524288u) {
      EXPECT_EQ(bytes.size(), size + 22 + 4 + 2);
      EXPECT_EQ(bytes.compare(0, size, filler), 0);
      EXPECT_EQ(Lines(bytes.substr(size)), std::vector<std::string>{"next"});
    } else {
      ASSERT_EQ(bytes.substr(0, 3), kBom);
      EXPECT_EQ(Lines(bytes.substr(3)), std::vector<std::string>{"next"});
    }
  }
}

TEST_F(LogFileTest, RefusedCallsCreateNothing) {
  EXPECT_EQ(tovik::Log(tovik::DEBUG, "never"), 0);
  EXPECT_EQ(tovik::Log(static_cast<tovik::LogLevel>(4), "never"), -3);
  EXPECT_EQ(tovik::Log(static_cast<tovik::LogLevel>(-1), "never"), -3);
  EXPECT_EQ(tovik::Log(tovik::INFO, nullptr), -3);
  EXPECT_FALSE(tvtest::Exists(LogFile()));
  EXPECT_FALSE(tvtest::Exists(LocalAppData() + L"\\Tessaro"));
}

TEST_F(LogFileTest, WarnIsWrittenWithoutItsName) {
  EXPECT_EQ(tovik::Log(tovik::WARN, "w"), 0);
  std::string bytes = tvtest::ReadFileBytes(LogFile());
  EXPECT_EQ(Lines(bytes.substr(3)), std::vector<std::string>{"w"});
}

TEST_F(LogFileTest, FileHeldOpenByAnotherWriterLosesTheLine) {
  ASSERT_EQ(tovik::Log(tovik::INFO, "create"), 0);
  HANDLE held = CreateFileW(LogFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(tovik::Log(tovik::INFO, "lost"), -5);
  CloseHandle(held);
  EXPECT_EQ(Lines(tvtest::ReadFileBytes(LogFile()).substr(3)), std::vector<std::string>{"create"});
}

TEST_F(LogFileTest, LongMessageIsCutAt748Bytes) {
  std::string arg(2000, 'c');
  EXPECT_EQ(tovik::Log(tovik::INFO, "%s", arg.c_str()), 0);
  EXPECT_EQ(Lines(tvtest::ReadFileBytes(LogFile()).substr(3)),
            std::vector<std::string>{std::string(748, 'c')});
}

TEST_F(LogFileTest, TwoThreadsWriteWholeLines) {
  auto writer = [](const char* tag) {
    for (int i = 0; i < 1000; ++i) tovik::Log(tovik::INFO, "%s line %d", tag, i);
  };
  std::thread a(writer, "alpha"), b(writer, "beta");
  a.join();
  b.join();
  std::string bytes = tvtest::ReadFileBytes(LogFile());
  ASSERT_EQ(bytes.substr(0, 3), kBom);
  std::vector<std::string> lines = Lines(bytes.substr(3));
  ASSERT_EQ(lines.size(), 2000u);
  int nextAlpha = 0, nextBeta = 0;
  for (const std::string& line : lines) {
    if (line == "alpha line " + std::to_string(nextAlpha))
      ++nextAlpha;
    else if (line == "beta line " + std::to_string(nextBeta))
      ++nextBeta;
    else
      ADD_FAILURE() << "unexpected line: " << line;
  }
  EXPECT_EQ(nextAlpha, 1000);
  EXPECT_EQ(nextBeta, 1000);
}

// The download worker is never joined: a process whose worker is logging
// while the main thread returns must end cleanly with whole lines.
TEST_F(LogFileTest, ExitWhileAnotherThreadLogs) {
  for (int run = 0; run < 3; ++run) {
    tvtest::ProcessResult r = tvtest::RunProcess(tvtest::WinPath(TV_LOG_EXIT_PROBE), L"log_exit_probe.exe",
                                                 {}, L"", 30000);
    ASSERT_TRUE(r.started) << tvtest::Describe(r);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
  }
  std::string bytes = tvtest::ReadFileBytes(LogFile());
  ASSERT_EQ(bytes.substr(0, 3), kBom);
  std::vector<std::string> lines = Lines(bytes.substr(3));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "main returns"), 3);
  for (const std::string& line : lines)
    EXPECT_TRUE(line == "main returns" || line.rfind("worker line ", 0) == 0) << line;
}

// Two processes writing at once (two runs of the program, each with its
// own lock inside), each writing `lines` lines.
void RunTwoWriters(int lines) {
  const std::wstring probe = tvtest::WinPath(TV_LOG_WRITER_PROBE);
  auto writer = [&](const wchar_t* tag, tvtest::ProcessResult* result) {
    *result = tvtest::RunProcess(probe, L"log_writer_probe.exe " + std::wstring(tag) + L" " + std::to_wstring(lines),
                                 {}, L"", 60000);
  };
  tvtest::ProcessResult a, b;
  std::thread first(writer, L"alpha", &a), second(writer, L"beta", &b);
  first.join();
  second.join();
  for (const tvtest::ProcessResult* r : {&a, &b}) {
    EXPECT_TRUE(r->started);
    EXPECT_FALSE(r->timedOut);
    EXPECT_EQ(r->exitCode, 0u);  // no line failed to open the file
  }
}

// Every line of both is kept whole, each writer's in its order.
void ExpectBothWritersWhole(const std::vector<std::string>& lines, int rounds, int perRound) {
  int nextAlpha = 0, nextBeta = 0;
  for (const std::string& line : lines) {
    if (line == "alpha line " + std::to_string(nextAlpha % perRound)) {
      ++nextAlpha;
    } else if (line == "beta line " + std::to_string(nextBeta % perRound)) {
      ++nextBeta;
    } else {
      ADD_FAILURE() << "unexpected line: " << line;
    }
  }
  EXPECT_EQ(nextAlpha, rounds * perRound);
  EXPECT_EQ(nextBeta, rounds * perRound);
}

TEST_F(LogFileTest, TwoProcessesKeepEveryLine) {
  constexpr int kRounds = 4;
  constexpr int kLines = 300;
  for (int round = 0; round < kRounds; ++round) RunTwoWriters(kLines);
  std::string bytes = tvtest::ReadFileBytes(LogFile());
  ASSERT_EQ(bytes.substr(0, 3), kBom);
  std::vector<std::string> lines = Lines(bytes.substr(3));
  EXPECT_EQ(lines.size(), static_cast<size_t>(2 * kRounds * kLines));
  ExpectBothWritersWhole(lines, kRounds, kLines);
}

// A file over the cap is emptied by the first writer only.
TEST_F(LogFileTest, TwoProcessesEmptyAFullFileOnce) {
  ASSERT_EQ(tovik::Log(tovik::INFO, "create"), 0);
  tvtest::WriteFileBytes(LogFile(), std::string(524289, 'a'));
  constexpr int kLines = 300;  // far below the cap together
  RunTwoWriters(kLines);
  std::string bytes = tvtest::ReadFileBytes(LogFile());
  ASSERT_EQ(bytes.substr(0, 3), kBom);
  std::vector<std::string> lines = Lines(bytes.substr(3));
  EXPECT_EQ(lines.size(), static_cast<size_t>(2 * kLines));
  ExpectBothWritersWhole(lines, 1, kLines);
}

// Every message operation, with its fixed text (the level is not part of a line).
TEST_F(LogFileTest, MessageOperationsWriteTheirTexts) {
  struct Case {
    std::function<void()> call;
    const char* text;
  } cases[] = {
#ifdef TOVIK_TRUSTS_TEST_ROOT
      {[] { tovik::LogBootstrapperBegin(); },
       "Bootstrapper begin with version " TV_VERSION_TEXT " on Win x86 (test build: trusts the test root certificate)"},
#else
      {[] { tovik::LogBootstrapperBegin(); }, "Bootstrapper begin with version " TV_VERSION_TEXT " on Win x86"},
#endif
      {[] { tovik::LogBootstrapperEnd(0); }, "Bootstrapper end with exit code 0"},
      {[] { tovik::LogBootstrapperEnd(70000); }, "Bootstrapper end with exit code 70000"},
      {[] { tovik::LogNoInstallDirectory("C:\\x\\.launch"); },
       "Could not locate native install directory (\"C:\\x\\.launch\")"},
      {[] { tovik::LogInstalledRuntime(1, 9, 65535, 65535, "C:\\R"); },
       "Installed runtime (1.9.65535.65535) located at C:\\R"},
      {[] { tovik::LogNoRuntime(); }, "No installed runtime detected"},
      {[] { tovik::LogDownloadNotAllowed(); }, "Unable to download runtime installer without -allowDownload"},
      {[] { tovik::LogLaunchingSubprocess("\"a b\" c"); }, "Launching subprocess with commandline \"a b\" c"},
      {[] { tovik::LogSubprocessSucceeded("Runtime Installer"); }, "Subprocess Runtime Installer succeeded"},
      {[] { tovik::LogSubprocessFailed("Application Installer", -1073741819); },
       "Subprocess Application Installer failed (-1073741819)"},
      {[] { tovik::LogUpdatesDisabled(); },
       "Cannot complete installation because runtime updates are disabled on this machine"},
      {[] { tovik::LogDownloadCancelled(); }, "Download cancelled"},
      {[] { tovik::LogDownloadBegin("runtime", "http://h/p"); }, "Begin runtime download from http://h/p"},
      {[] { tovik::LogDownloadSuccess(); }, "Download success"},
      {[] { tovik::LogDownloadFailure("Bad status"); }, "Download failure: Bad status"},
      {[] { tovik::LogSignatureVerified("Detached"); }, "Detached signature verified"},
      {[] { tovik::LogSignatureFailed("Detatched"); }, "Detatched signature validation failed"},
      {[] { tovik::LogChainBegin(); }, "Begin cert chain validation"},
      {[] { tovik::LogChainSucceeded(); }, "Cert chain validation succeeded"},
      {[] { tovik::LogChainFailed(); }, "Cert chain validation failed"},
      {[] { tovik::LogRevocationFound(); }, "Cert revocation found"},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    c.call();
    expected.push_back(c.text);
  }
  EXPECT_EQ(Lines(tvtest::ReadFileBytes(LogFile()).substr(3)), expected);
}

}  // namespace
