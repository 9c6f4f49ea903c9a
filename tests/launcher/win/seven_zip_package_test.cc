// End-to-end under Wine: packages made of the launcher and a 7z archive, run
// as a user would, with the recorder as setup program: 7z extraction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seven_zip_package.h"

using namespace tvtest;

namespace {

class Unpacks : public testing::TestWithParam<const char*> {};

// Without a setup program in the archive the launcher ends with 5 after the
// extraction and leaves its folder: exactly the files and the folders of the
// archive, the empty ones included.
TEST_P(Unpacks, EveryFileAsItWentIn) {
  PackageRun run(GetParam());
  const ProcessResult result = run.Run(L"");
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 5u);
  const auto folders = ExtractionFolders(run.temp.path());
  ASSERT_EQ(folders.size(), 1u);
  const Tree got = TreeOf(folders[0]);
  const Tree source = TreeOf(Archive("src/" + std::string(GetParam())));
  EXPECT_EQ(got.files, source.files);
  EXPECT_EQ(got.folders, source.folders);
}

INSTANTIATE_TEST_SUITE_P(SevenZip, Unpacks,
                         testing::Values("solid_many", "mixed", "filter_bcj", "filter_bcj2",
                                         "filter_ppc", "filter_ia64", "filter_arm",
                                         "filter_armt", "filter_sparc", "filter_delta"));

TEST(SevenZipPackage, RunsItsSetupProgramAndCleansUp) {
  PackageRun run("with_setup");
  const std::wstring record = run.records / L"r.txt";
  const ProcessResult result = run.Run(L" one", RecorderEnv(record, 7));
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 7u);
  const Record r = ReadRecord(record);
  ASSERT_TRUE(r.present);
  std::vector<std::wstring> siblings = r.siblings;
  std::sort(siblings.begin(), siblings.end());
  EXPECT_EQ(siblings, (std::vector<std::wstring>{L"Tessaro Vantel Installer.exe", L"data"}));
  EXPECT_TRUE(ListDir(run.temp.path()).empty());
}

TEST(SevenZipPackage, DamagedStreamEndsWith5AndKeepsEarlierFiles) {
  PackageRun run("damaged");
  EXPECT_EQ(run.Run(L"").exitCode, 5u);
  const auto folders = ExtractionFolders(run.temp.path());
  ASSERT_EQ(folders.size(), 1u);
  const Tree got = TreeOf(folders[0]);
  ASSERT_EQ(got.files.size(), 1u);
  EXPECT_EQ(got.files.begin()->first, "1.dat");
  EXPECT_EQ(got.files.begin()->second, ReadFileBytes(Archive("src/damaged/1.dat")));
}

TEST(SevenZipPackage, Lzma2FirstArchiveIsNoPayload) {
  PackageRun run("lzma2_first");
  EXPECT_EQ(run.Run(L"").exitCode, 5u);
  // Refused before anything is written.
  EXPECT_TRUE(ExtractionFolders(run.temp.path()).empty());
}

class RefusedName : public testing::TestWithParam<const char*> {};

TEST_P(RefusedName, EndsWith5AndWritesNothingOutside) {
  PackageRun run(GetParam());
  EXPECT_EQ(run.Run(L"").exitCode, 5u);
  const auto folders = ExtractionFolders(run.temp.path());
  ASSERT_EQ(folders.size(), 1u);
  const Tree inside = TreeOf(folders[0]);
  EXPECT_EQ(inside.files.size(), 1u);  // the harmless first file
  EXPECT_EQ(inside.files.count("0ok.txt"), 1u);
  Tree all = TreeOf(run.temp.path());
  for (const auto& [name, data] : all.files) EXPECT_EQ(name.find("evil"), std::string::npos) << name;
  EXPECT_EQ(ListDir(run.dir.path()), std::vector<std::wstring>{L"package.exe"});
  EXPECT_TRUE(ListDir(run.cwd.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(SevenZip, RefusedName,
                         testing::Values("refused_parent", "refused_deep_parent",
                                         "refused_drive", "refused_leading",
                                         "refused_backslash", "refused_device",
                                         "refused_device_folder", "refused_device_port"));

// An archive whose header has no names table (one empty file): the launcher
// ends with 5, not with a fault, and leaves its folder behind, empty.
TEST(SevenZipPackage, ArchiveWithoutNamesEndsWith5) {
  PackageRun run("nameless");
  const ProcessResult result = run.Run(L"");
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 5u);
  const auto folders = ExtractionFolders(run.temp.path());
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_TRUE(ListDir(folders[0]).empty());
  EXPECT_EQ(ListDir(run.temp.path()).size(), 1u);
}

// A file named "nul.txt" beside the setup program: its bytes would go to the
// device and the setup program would run without it. Nothing may run.
TEST(SevenZipPackage, DeviceNameEndsWith5BeforeTheSetupProgram) {
  PackageRun run("device_with_setup");
  const std::wstring record = run.records / L"r.txt";
  EXPECT_EQ(run.Run(L"", RecorderEnv(record, 0)).exitCode, 5u);
  EXPECT_FALSE(ReadRecord(record).present);
  const auto folders = ExtractionFolders(run.temp.path());
  ASSERT_EQ(folders.size(), 1u);
  for (const std::wstring& name : ListDir(folders[0])) EXPECT_NE(_wcsicmp(name.c_str(), L"nul.txt"), 0);
  EXPECT_EQ(ListDir(run.dir.path()), std::vector<std::wstring>{L"package.exe"});
  EXPECT_TRUE(ListDir(run.cwd.path()).empty());
}

// Names of 117 and 118 characters: with an extraction folder of L = 140
// characters, 258 - L = 118 units with the terminator fit and 119 do not.
TEST(SevenZipPackage, NameLimitCountsUnitsWithTheTerminator) {
  for (const auto& [archive, fits] : {std::pair<const char*, bool>{"name_117", true}, {"name_118", false}}) {
    PackageRun run(archive);
    // The system's unique number may have fewer than four hex digits; try
    // again in a fresh folder until the extraction folder has 140 characters.
    // Wine takes it from the tick count, whose low 16 bits stay below 0x1000
    // for four seconds at a time: wait for them to leave that range first,
    // or every attempt of a run may fall into it.
    bool measured = false;
    for (int attempt = 0; attempt < 8 && !measured; ++attempt) {
      while ((GetTickCount() & 0xFFFF) < 0x1000) Sleep(50);
      std::wstring temp = run.temp.path() + L"\\" + std::wstring(1, L'a' + attempt);
      temp += std::wstring(128 - temp.size(), L'p');  // 128 + "\" + "VanXXXX.tmp" = 140
      ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
      EXPECT_EQ(run.Run(L"", {}, temp).exitCode, 5u);  // no setup program in the archive
      const auto folders = ExtractionFolders(temp);
      ASSERT_EQ(folders.size(), 1u);
      if (folders[0].size() != 140) continue;
      measured = true;
      EXPECT_EQ(TreeOf(folders[0]).files.size(), fits ? 1u : 0u) << archive;
    }
    EXPECT_TRUE(measured);
  }
}

}  // namespace
