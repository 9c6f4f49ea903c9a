// End-to-end under Wine: the self-relaunch of a 7z package whose folder holds
// a library, run as a user would, with the recorder as setup program.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "command_line_tail.h"
#include "seven_zip_package.h"

using namespace tvtest;

namespace {

struct Relaunch {
  const char* what;
  const wchar_t* file;
  const wchar_t* folder;
  bool relaunches;
};

class Relaunches : public testing::TestWithParam<Relaunch> {};

TEST_P(Relaunches, FromAPrivateCopyOnlyWhenTheFolderHoldsALibrary) {
  const Relaunch& c = GetParam();
  PackageRun run("with_setup");
  if (c.file) WriteFileBytes(run.dir / c.file, "not a library");
  if (c.folder) ASSERT_TRUE(CreateDirectoryW((run.dir / c.folder).c_str(), nullptr));
  const std::wstring record = run.records / L"r.txt";
  const ProcessResult result =
      run.Run(L"", Join(RecorderEnv(record, 7), {{L"TV_LIST", run.temp.path()}}));
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 7u);
  const Record r = ReadRecord(record);
  ASSERT_TRUE(r.present);
  bool copied = false;
  const auto inside = CopyFolderEntries(r, &copied);
  EXPECT_EQ(copied, c.relaunches);
  if (c.relaunches) {
    EXPECT_EQ(inside, std::vector<std::wstring>{L"VantelInstaller.exe"});
    // The copy's working folder is its own folder.
    EXPECT_NE(r.currentDir.find(L"{"), std::wstring::npos) << Narrow(r.currentDir);
  }
  // Copy, GUID folder and extraction folder are all gone.
  EXPECT_EQ(ListDir(run.temp.path()), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(
    Folders, Relaunches,
    testing::Values(Relaunch{"clean", nullptr, nullptr, false},
                    Relaunch{"file", L"x.dll", nullptr, true},
                    Relaunch{"folder", nullptr, L"y.dll", true},
                    Relaunch{"other_files", L"notes.txt", L"data", false}),
    [](const testing::TestParamInfo<Relaunch>& info) { return std::string(info.param.what); });

TEST(Relaunch, TheCopysExitCodeIsTheOuterExitCode) {
  for (DWORD code : {0u, 7u, 70000u}) {
    PackageRun run("with_setup");
    WriteFileBytes(run.dir / L"x.dll", "");
    const std::wstring record = run.records / L"r.txt";
    const ProcessResult result =
        run.Run(L"", Join(RecorderEnv(record, code), {{L"TV_LIST", run.temp.path()}}));
    EXPECT_EQ(result.exitCode, code);
    bool copied = false;
    CopyFolderEntries(ReadRecord(record), &copied);
    EXPECT_TRUE(copied) << code;
    EXPECT_EQ(ListDir(run.temp.path()), std::vector<std::wstring>{}) << code;
  }
}

TEST(Relaunch, CopyFolderAndExtractionFolderAreOpenToTheTokensKindOnly) {
  for (const ChildToken token : {ChildToken::kOwn, ChildToken::kLimited}) {
    const char* what = token == ChildToken::kOwn ? "own token" : "limited token";
    PackageRun run("with_setup");
    WriteFileBytes(run.dir / L"x.dll", "");
    const std::wstring record = run.records / L"r.txt";
    // The setup program reads the descriptor of every folder in the temporary
    // folder while it runs: the copy's GUID folder and the copy's extraction
    // folder.
    const ProcessResult result = run.Run(
        L"", Join(RecorderEnv(record, 0), {{L"TV_SECURITY", run.temp.path()}}), L"", token);
    EXPECT_EQ(result.exitCode, 0u) << what;
    const Record r = ReadRecord(record);
    ASSERT_TRUE(r.present) << what;
    if (token == ChildToken::kLimited) EXPECT_FALSE(r.tokenElevated) << what;
    // The setup program's own folder, the extraction folder, comes twice.
    std::set<std::wstring> guidFolders, extractionFolders;
    for (const auto& [folder, descriptor] : r.security) {
      const size_t slash = folder.rfind(L'\\');
      if (_wcsicmp(folder.substr(0, slash).c_str(), run.temp.path().c_str()) != 0) continue;
      const std::wstring name = folder.substr(slash + 1);
      if (IsGuidName(name)) guidFolders.insert(name);
      if (name.rfind(L"Van", 0) == 0) extractionFolders.insert(name);
      EXPECT_EQ(Narrow(descriptor), Narrow(LauncherFolderSecurityAsShown(r))) << what << " " << Narrow(name);
    }
    EXPECT_EQ(guidFolders.size(), 1u) << what;
    EXPECT_EQ(extractionFolders.size(), 1u) << what;
    EXPECT_EQ(ListDir(run.temp.path()), std::vector<std::wstring>{}) << what;
  }
}

TEST(Relaunch, ThePrivateCopyCannotBeRenamedWhileItRuns) {
  PackageRun run("with_setup");
  WriteFileBytes(run.dir / L"x.dll", "");
  const std::wstring record = run.records / L"r.txt";
  // The setup program tries to rename every file in every folder of the
  // temporary folder while the copy waits for it.
  const ProcessResult result =
      run.Run(L"", Join(RecorderEnv(record, 0), {{L"TV_TRY_RENAME", run.temp.path()}}));
  EXPECT_EQ(result.exitCode, 0u);
  const Record r = ReadRecord(record);
  ASSERT_TRUE(r.present);
  int copies = 0;
  for (const auto& [file, renamed] : r.renamed) {
    if (file.size() < 20 || _wcsicmp(file.substr(file.size() - 20).c_str(), L"\\VantelInstaller.exe") != 0)
      continue;
    ++copies;
    EXPECT_FALSE(renamed) << Narrow(file);
  }
  EXPECT_EQ(copies, 1);
  EXPECT_EQ(ListDir(run.temp.path()), std::vector<std::wstring>{});
}

// The setup program's parameters, from its recorded command line.
std::wstring SetupTail(const std::wstring& recordFile) {
  const Record r = ReadRecord(recordFile);
  EXPECT_TRUE(r.present);
  return CommandLineTail(r.commandLine.c_str());
}

TEST(Relaunch, ArgumentsReachTheSetupProgramAsInADirectRun) {
  for (const std::wstring arguments :
       {std::wstring(L" a \"b c\" \"d \\\"e\\\" f\"  g"), std::wstring(L""),
        std::wstring(L" \"C:\\Program Files\\x\" /q=\"1 2\""), std::wstring(L" ") + std::wstring(300, L'z')}) {
    PackageRun direct("with_setup");
    const std::wstring directRecord = direct.records / L"r.txt";
    ASSERT_EQ(direct.Run(arguments, RecorderEnv(directRecord, 0)).exitCode, 0u);

    PackageRun relaunched("with_setup");
    WriteFileBytes(relaunched.dir / L"x.dll", "");
    const std::wstring relaunchedRecord = relaunched.records / L"r.txt";
    ASSERT_EQ(relaunched.Run(arguments, RecorderEnv(relaunchedRecord, 0)).exitCode, 0u);

    // The shell puts one space between program and parameters at each start;
    // what counts is that the relaunch changes nothing.
    const std::wstring directTail = SetupTail(directRecord);
    EXPECT_EQ(SetupTail(relaunchedRecord), directTail);
    EXPECT_EQ(directTail.substr(directTail.size() - arguments.size()), arguments);
  }
}

}  // namespace
