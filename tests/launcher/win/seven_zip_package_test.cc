// 7z extraction under Wine: the launcher's own extraction called on archives
// that the 7-Zip program wrote (what lands in the folder), and packages made
// of the launcher and such an archive, run as a user would, with the
// recorder as setup program (what the run does and leaves).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seven_zip.h"
#include "seven_zip_package.h"

using namespace tvtest;

namespace {

// Unpacks the archive `name` with the launcher's extraction into `folder`
// (which must exist), as a run would into its extraction folder.
bool ExtractInto(const std::string& name, const std::wstring& folder) {
  const std::wstring archive = Archive(name + ".7z");
  HANDLE file = CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << name;
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  wchar_t outputPath[MAX_PATH + 2];
  lstrcpynW(outputPath, folder.c_str(), MAX_PATH + 2);
  const DWORD folderLength = static_cast<DWORD>(folder.size());
  outputPath[folderLength] = L'\\';
  outputPath[folderLength + 1] = L'\0';
  const bool done = ExtractSevenZip(file, 0, size.QuadPart, folderLength, outputPath);
  CloseHandle(file);
  return done;
}

class Unpacks : public testing::TestWithParam<const char*> {};

// Exactly the files and the folders of the archive, the empty ones included.
TEST_P(Unpacks, EveryFileAsItWentIn) {
  TempDir out(L"7z-out");
  ASSERT_TRUE(ExtractInto(GetParam(), out.path()));
  const Tree got = TreeOf(out.path());
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

TEST(SevenZipPackage, DamagedStreamEndsWith5AndLeavesNothing) {
  PackageRun run("damaged");
  EXPECT_EQ(run.Run(L"").exitCode, 5u);
  EXPECT_TRUE(ExtractionFolders(run.temp.path()).empty());
}

TEST(SevenZipPackage, Lzma2FirstArchiveIsNoPayload) {
  PackageRun run("lzma2_first");
  EXPECT_EQ(run.Run(L"").exitCode, 5u);
  // Refused before anything is written.
  EXPECT_TRUE(ExtractionFolders(run.temp.path()).empty());
}

class RefusedName : public testing::TestWithParam<const char*> {};

// The refusal comes at the refused name (the harmless first file is written
// before it); a run of such a package writes nothing outside and leaves
// nothing behind.
TEST_P(RefusedName, EndsWith5AndWritesNothingOutside) {
  TempDir out(L"7z-out");
  EXPECT_FALSE(ExtractInto(GetParam(), out.path()));
  EXPECT_EQ(TreeOf(out.path()).files.size(), 1u);
  EXPECT_EQ(TreeOf(out.path()).files.count("0ok.txt"), 1u);

  PackageRun run(GetParam());
  EXPECT_EQ(run.Run(L"").exitCode, 5u);
  EXPECT_TRUE(ListDir(run.temp.path()).empty());
  EXPECT_EQ(ListDir(run.dir.path()), std::vector<std::wstring>{L"package.exe"});
  EXPECT_TRUE(ListDir(run.cwd.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(SevenZip, RefusedName,
                         testing::Values("refused_parent", "refused_deep_parent",
                                         "refused_drive", "refused_leading",
                                         "refused_backslash", "refused_device",
                                         "refused_device_folder", "refused_device_port"));

// An archive whose header has no names table (one empty file): the launcher
// ends with 5, not with a fault, and leaves nothing behind.
TEST(SevenZipPackage, ArchiveWithoutNamesEndsWith5) {
  PackageRun run("nameless");
  const ProcessResult result = run.Run(L"");
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 5u);
  EXPECT_TRUE(ListDir(run.temp.path()).empty());
}

// A file named "nul.txt" beside the setup program: its bytes would go to the
// device and the setup program would run without it. Nothing may run.
TEST(SevenZipPackage, DeviceNameEndsWith5BeforeTheSetupProgram) {
  PackageRun run("device_with_setup");
  const std::wstring record = run.records / L"r.txt";
  EXPECT_EQ(run.Run(L"", RecorderEnv(record, 0)).exitCode, 5u);
  EXPECT_FALSE(ReadRecord(record).present);
  EXPECT_TRUE(ListDir(run.temp.path()).empty());
  EXPECT_EQ(ListDir(run.dir.path()), std::vector<std::wstring>{L"package.exe"});
  EXPECT_TRUE(ListDir(run.cwd.path()).empty());
}

// Names of 117 and 118 characters: with an extraction folder of L = 140
// characters, 258 - L = 118 units with the terminator fit and 119 do not.
TEST(SevenZipPackage, NameLimitCountsUnitsWithTheTerminator) {
  for (const auto& [archive, fits] : {std::pair<const char*, bool>{"name_117", true}, {"name_118", false}}) {
    TempDir out(L"7z-out");
    std::wstring folder = out.path() + L"\\";
    folder += std::wstring(140 - folder.size(), L'f');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(ExtractInto(archive, folder), fits) << archive;
    EXPECT_EQ(TreeOf(folder).files.size(), fits ? 1u : 0u) << archive;
  }
}

}  // namespace
