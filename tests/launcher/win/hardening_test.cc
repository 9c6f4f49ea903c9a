// The relaunch operations and the system function table, called directly
// under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "relaunch.h"
#include "system_functions.h"
#include "test_support.h"

using namespace tvtest;

namespace {

// The launcher resolves its user32, shell32, ole32 and advapi32 functions right after
// the start-up hardening; the operations under test rely on them.
const bool kSystemFunctionsLoaded = LoadSystemFunctions();

// Every slot of the table is filled: a member added to the table but not
// resolved would be called as a null pointer. The table is read as the array
// of function pointers it is, so a new member is checked without being named.
TEST(LoadSystemFunctions, FillsEverySlotOfTheTable) {
  ASSERT_TRUE(kSystemFunctionsLoaded);
  static_assert(sizeof(SystemFunctions) % sizeof(void*) == 0);
  void* slots[sizeof(SystemFunctions) / sizeof(void*)];
  memcpy(slots, &gSystem, sizeof(slots));
  for (size_t i = 0; i < sizeof(slots) / sizeof(slots[0]); ++i) EXPECT_NE(slots[i], nullptr) << i;
}

TEST(FolderHasLibraries, AnyEntryNamedDllCounts) {
  struct Case {
    const wchar_t* file;    // created as an empty file, or nothing
    const wchar_t* folder;  // created as a folder, or nothing
    bool expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, false},         {L"readme.txt", L"sub", false},
      {L"x.dll", nullptr, true},         {nullptr, L"y.dll", true},
      {L"UPPER.DLL", nullptr, true},     {L"x.dll.txt", nullptr, false},
  };
  for (const Case& c : cases) {
    TempDir dir(L"libs");
    if (c.file) WriteFileBytes(dir / c.file, "");
    if (c.folder) CreateDirectoryW((dir / c.folder).c_str(), nullptr);
    EXPECT_EQ(FolderHasLibraries(dir.path().c_str()), c.expected)
        << Narrow(c.file ? c.file : L"-") << " " << Narrow(c.folder ? c.folder : L"-");
  }
}

TEST(FolderHasLibraries, FolderTooLongToCheckCountsAsHavingLibraries) {
  // 255 characters: the folder fits, the folder plus "\*.dll" does not.
  const std::wstring folder = L"C:\\" + std::wstring(252, L'f');
  EXPECT_TRUE(FolderHasLibraries(folder.c_str()));
  const std::wstring fits = L"C:\\" + std::wstring(240, L'f');  // does not exist
  EXPECT_FALSE(FolderHasLibraries(fits.c_str()));
}


TEST(MakeUniqueTempFolder, CreatesAGuidFolderForTheCopy) {
  TempDir temp(L"guid");
  TempFolderOverride use(temp.path());
  wchar_t copyPath[MAX_PATH];
  ASSERT_TRUE(MakeUniqueTempFolder(copyPath));
  const auto entries = ListDir(temp.path());
  ASSERT_EQ(entries.size(), 1u);
  const std::wstring guid = entries[0];
  EXPECT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), L'{');
  EXPECT_EQ(guid.back(), L'}');
  EXPECT_TRUE(IsDirectory(temp / guid));
  EXPECT_TRUE(ListDir(temp / guid).empty());
  EXPECT_EQ(std::wstring(copyPath), temp / guid + L"\\VantelInstaller.exe");

  wchar_t second[MAX_PATH];
  ASSERT_TRUE(MakeUniqueTempFolder(second));
  EXPECT_NE(std::wstring(second), std::wstring(copyPath));
}

TEST(MakeUniqueTempFolder, RefusesACopyPathThatDoesNotFit) {
  // Temporary folder, "\", GUID (38), "\", "VantelInstaller.exe" (19): a
  // folder of 200 characters gives 259, one of 201 gives 260 (no room left
  // for the terminator).
  for (const auto& [length, fits] : {std::pair<size_t, bool>{200, true}, {201, false}}) {
    TempDir base(L"guidlong");
    std::wstring longTemp = base.path() + L"\\";
    longTemp += std::wstring(length - longTemp.size(), L't');
    ASSERT_EQ(longTemp.size(), length);
    ASSERT_TRUE(CreateDirectoryW(longTemp.c_str(), nullptr));
    TempFolderOverride use(longTemp);
    wchar_t copyPath[MAX_PATH];
    EXPECT_EQ(MakeUniqueTempFolder(copyPath), fits) << length;
    EXPECT_EQ(ListDir(longTemp).size(), fits ? 1u : 0u) << length;
  }
}

TEST(CopyParameters, GiveTheCopyTheSameTail) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"", L""},
      {L" a", L"a"},
      {L"  a \"b c\"", L" a \"b c\""},
      {L"-x y", L"-x y"},
      {L" ", L""},
  };
  for (const auto& [tail, expected] : cases)
    EXPECT_EQ(std::wstring(CopyParameters(tail)), expected) << Narrow(tail);
}

struct CopyRun {
  bool started;
  DWORD exitCode;
  Record record;
};

CopyRun RunRecorderAsCopy(const wchar_t* parameters, DWORD code, DWORD sleepMs, DWORD waitMs) {
  TempDir dir(L"copy");
  const std::wstring copy = dir / L"VantelInstaller.exe";
  CopyFileTo(RecorderExe(), copy);
  const std::wstring record = dir / L"record.txt";
  SetEnvironmentVariableW(L"TV_RECORD", record.c_str());
  SetEnvironmentVariableW(L"TV_EXIT_CODE", std::to_wstring(code).c_str());
  SetEnvironmentVariableW(L"TV_SLEEP_MS", sleepMs ? std::to_wstring(sleepMs).c_str() : nullptr);
  CopyRun run{false, 12345, {}};
  run.started = RunCopyAndWait(copy.c_str(), parameters, &run.exitCode, waitMs);
  SetEnvironmentVariableW(L"TV_RECORD", nullptr);
  SetEnvironmentVariableW(L"TV_EXIT_CODE", nullptr);
  SetEnvironmentVariableW(L"TV_SLEEP_MS", nullptr);
  if (sleepMs) Sleep(sleepMs + 1000);  // let a still-running copy finish its record
  run.record = ReadRecord(record);
  run.record.currentDir += L"|" + dir.path();  // both, for the working-folder check
  return run;
}

TEST(RunCopyAndWait, PassesTheCopysExitCodeThrough) {
  for (DWORD code : {0u, 7u, 70000u}) {
    CopyRun run = RunRecorderAsCopy(nullptr, code, 0, kCopyWaitMs);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, code);
  }
}

TEST(RunCopyAndWait, StartsTheCopyInItsOwnFolderWithTheParameters) {
  CopyRun run = RunRecorderAsCopy(L"a \"b c\"", 0, 0, kCopyWaitMs);
  ASSERT_TRUE(run.record.present);
  const std::wstring cwd = run.record.currentDir.substr(0, run.record.currentDir.find(L'|'));
  const std::wstring dir = run.record.currentDir.substr(run.record.currentDir.find(L'|') + 1);
  EXPECT_EQ(_wcsicmp(cwd.c_str(), dir.c_str()), 0) << Narrow(cwd);
  const std::wstring& line = run.record.commandLine;
  EXPECT_EQ(line.substr(line.size() - 8), L" a \"b c\"") << Narrow(line);
}

TEST(RunCopyAndWait, ACopyStillRunningAfterTheWaitGives259) {
  CopyRun run = RunRecorderAsCopy(nullptr, 0, 3000, 300);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 259u);
}

TEST(RunCopyAndWait, AMissingCopyIsNotStarted) {
  TempDir dir(L"nocopy");
  DWORD code = 42;
  EXPECT_FALSE(RunCopyAndWait((dir / L"VantelInstaller.exe").c_str(), nullptr, &code));
  EXPECT_EQ(code, 42u);
}

}  // namespace
