// The setup program's file held between its choice and its start, and the
// launcher's private folders, called directly under Wine. Attempts on a held
// file come from a second process: this program, started again with
// "--try-replace <path>".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "private_folder.h"
#include "security_text.h"
#include "setup_process.h"
#include "system_functions.h"
#include "test_support.h"

using namespace tvtest;

namespace {

const bool kSystemFunctionsLoaded = LoadSystemFunctions();

// What a second process managed to do to a file; one bit per attempt.
enum Attempt : DWORD {
  kOpenedForWriting = 1,
  kRenamed = 2,
  kDeleted = 4,
  kOpenedForReading = 8,  // with every kind of sharing, as a reader would
};

// Runs in the second process: tries each attempt on `path` and undoes what
// succeeded, so that the next attempt meets the same file.
DWORD TryReplace(const std::wstring& path) {
  DWORD done = 0;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    done |= kOpenedForWriting;
    CloseHandle(h);
  }
  const std::wstring moved = path + L".moved";
  if (MoveFileW(path.c_str(), moved.c_str())) {
    done |= kRenamed;
    MoveFileW(moved.c_str(), path.c_str());
  }
  const std::string bytes = ReadFileBytes(path);
  if (DeleteFileW(path.c_str())) {
    done |= kDeleted;
    WriteFileBytes(path, bytes);
  }
  h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    done |= kOpenedForReading;
    CloseHandle(h);
  }
  return done;
}

EnvList Join(EnvList a, const EnvList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::wstring SelfExe() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// What a second process can do to `path` now.
DWORD AttemptsOnFromOtherProcess(const std::wstring& path) {
  const ProcessResult result =
      RunProcess(SelfExe(), L"\"" + SelfExe() + L"\" --try-replace \"" + path + L"\"");
  EXPECT_TRUE(result.started);
  return result.exitCode;
}

const DWORD kEverything = kOpenedForWriting | kRenamed | kDeleted | kOpenedForReading;

TEST(HoldForStart, OthersMayOnlyReadTheHeldFile) {
  TempDir dir(L"hold");
  const std::wstring setup = dir / L"setup.exe";
  CopyFileTo(RecorderExe(), setup);
  ASSERT_EQ(AttemptsOnFromOtherProcess(setup), kEverything);  // the attempts themselves work

  HANDLE held = HoldForStart(setup.c_str());
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(AttemptsOnFromOtherProcess(setup), static_cast<DWORD>(kOpenedForReading));
  CloseHandle(held);
  EXPECT_EQ(AttemptsOnFromOtherProcess(setup), kEverything);
}

TEST(HoldForStart, WhatCannotBeHeld) {
  TempDir dir(L"nohold");
  CreateDirectoryW((dir / L"folder.exe").c_str(), nullptr);
  const std::wstring busy = dir / L"busy.exe";
  WriteFileBytes(busy, "MZ");
  HANDLE writer = CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  for (const wchar_t* name : {L"missing.exe", L"folder.exe", L"busy.exe"}) {
    HANDLE held = HoldForStart((dir / name).c_str());
    EXPECT_EQ(held, INVALID_HANDLE_VALUE) << Narrow(name);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  }
  CloseHandle(writer);
}

// The shell start of RunSetupProgram, replaced for one test: a second process
// attacks the setup program at the last moment before the real start.
decltype(gSystem.shellExecuteEx) realShellExecuteEx;
std::wstring attackedPath;
DWORD attemptsBeforeStart;

BOOL WINAPI AttackThenStart(SHELLEXECUTEINFOW* info) {
  attemptsBeforeStart = AttemptsOnFromOtherProcess(attackedPath);
  return realShellExecuteEx(info);
}

TEST(RunSetupProgram, TheHeldProgramCannotBeReplacedBeforeItStartsAndStillStarts) {
  ASSERT_TRUE(kSystemFunctionsLoaded);
  TempDir dir(L"start");
  const std::wstring setup = dir / L"setup.exe";
  CopyFileTo(RecorderExe(), setup);
  const std::wstring record = dir / L"record.txt";
  SetEnvironmentVariableW(L"TV_RECORD", record.c_str());
  SetEnvironmentVariableW(L"TV_EXIT_CODE", L"70000");

  realShellExecuteEx = gSystem.shellExecuteEx;
  gSystem.shellExecuteEx = AttackThenStart;
  attackedPath = setup;
  attemptsBeforeStart = 0;
  HANDLE held = HoldForStart(setup.c_str());
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  DWORD exitCode = 0;
  const bool ran = RunSetupProgram(setup.c_str(), L" a", held, &exitCode);
  gSystem.shellExecuteEx = realShellExecuteEx;
  SetEnvironmentVariableW(L"TV_RECORD", nullptr);
  SetEnvironmentVariableW(L"TV_EXIT_CODE", nullptr);

  EXPECT_EQ(attemptsBeforeStart, static_cast<DWORD>(kOpenedForReading));
  // Held with read sharing only, the program starts all the same.
  ASSERT_TRUE(ran);
  EXPECT_EQ(exitCode, 70000u);
  const Record r = ReadRecord(record);
  ASSERT_TRUE(r.present);
  EXPECT_EQ(_wcsicmp(r.self.c_str(), setup.c_str()), 0) << Narrow(r.self);
  // Released once started: the setup program's file is free again.
  EXPECT_EQ(AttemptsOnFromOtherProcess(setup), kEverything);
}

TEST(RunSetupProgram, TheHoldIsReleasedWhenTheStartFails) {
  ASSERT_TRUE(kSystemFunctionsLoaded);
  TempDir dir(L"nostart");
  // Not a program: the shell refuses it.
  const std::wstring notProgram = dir / L"setup.exe";
  WriteFileBytes(notProgram, "not a program");
  HANDLE held = HoldForStart(notProgram.c_str());
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  DWORD exitCode = 42;
  EXPECT_FALSE(RunSetupProgram(notProgram.c_str(), L"", held, &exitCode));
  EXPECT_EQ(AttemptsOnFromOtherProcess(notProgram), kEverything);
}


TEST(LauncherTempPath, TheUsersTemporaryFolderUnlessSystem) {
  ASSERT_TRUE(kSystemFunctionsLoaded);
  ASSERT_TRUE(ReadLauncherToken());
  TempDir temp(L"ltemp");
  TempFolderOverride use(temp.path());
  wchar_t path[MAX_PATH + 1];
  const DWORD length = LauncherTempPath(MAX_PATH + 1, path);
  ASSERT_GT(length, 0u);
  if (RunsAsLocalSystem()) {
    GTEST_SKIP() << "running as SYSTEM: the folder is the system's, not TEMP";
  }
  EXPECT_EQ(std::wstring(path, length), temp.path() + L"\\");
  // Too small a buffer: the size needed, as GetTempPathW answers.
  wchar_t small[4];
  EXPECT_GT(LauncherTempPath(4, small), 4u);
}

TEST(CreatePrivateFolder, ProtectedForTheTokensKindAndRefusesAnExistingName) {
  ASSERT_TRUE(kSystemFunctionsLoaded);
  TempDir dir(L"private");
  const std::wstring folder = dir / L"Van1.tmp";
  ASSERT_TRUE(CreatePrivateFolder(folder.c_str()));
  // A folder of default security beside it: what the check must tell apart.
  const std::wstring plain = dir / L"plain";
  ASSERT_TRUE(CreateDirectoryW(plain.c_str(), nullptr));
  // The recorder, run from inside, reports both descriptors and its token.
  CopyFileTo(RecorderExe(), folder + L"\\r.exe");
  const std::wstring record = dir / L"record.txt";
  ASSERT_TRUE(RunProcess(folder + L"\\r.exe", L"r.exe",
                         Join(RecorderEnv(record, 0), {{L"TV_SECURITY", dir.path()}}))
                  .started);
  const Record r = ReadRecord(record);
  ASSERT_TRUE(r.present);
  EXPECT_EQ(Narrow(r.SecurityOf(folder)), Narrow(LauncherFolderSecurityAsShown(r)));
  EXPECT_NE(Narrow(r.SecurityOf(plain)), Narrow(LauncherFolderSecurityAsShown(r)));
  EXPECT_NE(r.SecurityOf(plain), L"absent");
  // Someone else's folder (or file) of the same name is never taken over.
  EXPECT_FALSE(CreatePrivateFolder(folder.c_str()));
  WriteFileBytes(dir / L"Van2.tmp", "");
  EXPECT_FALSE(CreatePrivateFolder((dir / L"Van2.tmp").c_str()));
}

// The descriptor CreatePrivateFolder hands the system, read back from
// memory: Wine keeps no descriptor on a folder, so under Wine this is where
// all of it can be seen.
decltype(gSystem.convertStringSecurityDescriptor) realConvert;
std::wstring givenDescriptor;

BOOL WINAPI ConvertAndKeep(LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* sd, PULONG size) {
  const BOOL converted = realConvert(text, revision, sd, size);
  givenDescriptor = converted ? DescriptorText(*sd) : L"not converted";
  return converted;
}

TEST(CreatePrivateFolder, HandsTheSystemTheDescriptorForTheTokensKind) {
  ASSERT_TRUE(kSystemFunctionsLoaded);
  TempDir dir(L"given");
  realConvert = gSystem.convertStringSecurityDescriptor;
  gSystem.convertStringSecurityDescriptor = ConvertAndKeep;
  givenDescriptor.clear();
  const bool created = CreatePrivateFolder((dir / L"Van3.tmp").c_str());
  gSystem.convertStringSecurityDescriptor = realConvert;
  EXPECT_TRUE(created);
  const Record token = OwnToken();
  EXPECT_EQ(Narrow(givenDescriptor), Narrow(LauncherFolderSecurity(token)))
      << "token " << Narrow(token.tokenUser) << " elevated " << token.tokenElevated;
}

TEST(CreatePrivateFolder, TheOtherKindOfTokenInAChild) {
  // An administrator's full token (Wine's) is linked to a limited one: the
  // tests above run once more in a child that has it.
  const Record token = OwnToken();
  if (!token.tokenElevated) GTEST_SKIP() << "this token is limited already";
  const ProcessResult child = RunProcess(
      SelfExe(), L"\"" + SelfExe() + L"\" --gtest_filter=CreatePrivateFolder.*-*Child*", {}, L"",
      120000, ChildToken::kLimited);
  ASSERT_TRUE(child.started);
  EXPECT_EQ(child.exitCode, 0u);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--try-replace") return static_cast<int>(TryReplace(Widen(argv[2])));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
