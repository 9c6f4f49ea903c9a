// End-to-end under Wine: packages made of the launcher and a 7z archive (made
// at build time by the 7-Zip program), run as a user would, with the
// recorder as setup program. Covers 7z extraction, the self-relaunch and the
// start-up hardening.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "command_line_tail.h"
#include "test_support.h"

using namespace tvtest;

namespace {

std::wstring Archive(const std::string& name) { return WinPath((std::string(TV_7Z_ARCHIVES) + "/" + name).c_str()); }
std::wstring PlantedDir() { return WinPath(TV_PLANTED_DIR); }
std::wstring ProbeExe() { return WinPath(TV_DLL_PROBE_EXE); }

// Writes "<folder>\package.exe": the launcher with `archive` appended.
std::wstring MakePackage(const std::wstring& folder, const std::string& archive) {
  const std::wstring package = folder + L"\\package.exe";
  WriteFileBytes(package, ReadFileBytes(LauncherExe()) + ReadFileBytes(Archive(archive + ".7z")));
  return package;
}

// Every file below `root` by its "/"-separated relative name, and every folder.
struct Tree {
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
};

void Walk(const std::wstring& root, const std::string& prefix, Tree& tree) {
  for (const std::wstring& name : ListDir(root)) {
    const std::wstring path = root + L"\\" + name;
    const std::string rel = prefix + Narrow(name);
    if (IsDirectory(path)) {
      tree.folders.insert(rel);
      Walk(path, rel + "/", tree);
    } else {
      tree.files[rel] = ReadFileBytes(path);
    }
  }
}

Tree TreeOf(const std::wstring& root) {
  Tree tree;
  Walk(root, "", tree);
  return tree;
}

// The folders that hold files: what an extraction creates.
std::set<std::string> FoldersOnTheWay(const Tree& tree) {
  std::set<std::string> folders;
  for (const auto& [name, data] : tree.files)
    for (size_t at = name.find('/'); at != std::string::npos; at = name.find('/', at + 1))
      folders.insert(name.substr(0, at));
  return folders;
}

// The extraction folders ("Van*.tmp") left in a temporary folder.
std::vector<std::wstring> ExtractionFolders(const std::wstring& temp) {
  std::vector<std::wstring> found;
  for (const std::wstring& name : ListDir(temp))
    if (name.rfind(L"Van", 0) == 0 && IsDirectory(temp + L"\\" + name)) found.push_back(temp + L"\\" + name);
  return found;
}

EnvList Join(EnvList a, const EnvList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One run of a package from its own folder, with a temporary folder and a
// current folder of its own.
struct PackageRun {
  TempDir dir{L"pkg"};
  TempDir temp{L"tmp"};
  TempDir cwd{L"cwd"};
  TempDir records{L"rec"};
  std::wstring package;

  explicit PackageRun(const std::string& archive) { package = MakePackage(dir.path(), archive); }

  ProcessResult Run(const std::wstring& arguments, const EnvList& extra = {},
                    const std::wstring& tempPath = L"") {
    const std::wstring t = tempPath.empty() ? temp.path() : tempPath;
    return RunProcess(package, L"\"" + package + L"\"" + arguments, Join(TempEnv(t), extra), cwd.path());
  }
};

// --- 7z extraction ---

class Unpacks : public testing::TestWithParam<const char*> {};

// Without a setup program in the archive the launcher ends with 5 after the
// extraction and leaves its folder: exactly the files of the archive, and
// only the folders on their way.
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
  EXPECT_EQ(got.folders, FoldersOnTheWay(source));
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
  const auto folders = ExtractionFolders(run.temp.path());
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_TRUE(ListDir(folders[0]).empty());
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

// --- self-relaunch ---

bool IsGuidName(const std::wstring& name) {
  if (name.size() != 38 || name.front() != L'{' || name.back() != L'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
    if (hyphen ? name[i] != L'-' : !iswxdigit(name[i])) return false;
  }
  return true;
}

// What the setup program saw of the temporary folder: the GUID folder and
// its entries, when a copy ran the package.
std::vector<std::wstring> CopyFolderEntries(const Record& r, bool* found) {
  *found = false;
  std::vector<std::wstring> inside;
  std::wstring guid;
  for (const std::wstring& entry : r.listed)
    if (IsGuidName(entry)) {
      *found = true;
      guid = entry;
    }
  for (const std::wstring& entry : r.listed)
    if (*found && entry.rfind(guid + L"\\", 0) == 0) inside.push_back(entry.substr(guid.size() + 1));
  return inside;
}

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

// --- start-up hardening ---
// These run with WINEDLLOVERRIDES="version=n,b;..." set for the whole test
// program (see sevenzip_relaunch.cmake): Wine takes the override from the
// environment it was started with, not from a child's environment block, and
// without it Wine never runs a planted version.dll.

std::wstring ReadReport(const std::wstring& path) {
  const std::string bytes = ReadFileBytes(path);
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// Copies the probe and both planted libraries into `dir`.
void PlantBesideProbe(const std::wstring& dir) {
  CopyFileTo(ProbeExe(), dir + L"\\dll_probe.exe");
  CopyFileTo(PlantedDir() + L"\\version.dll", dir + L"\\version.dll");
  CopyFileTo(PlantedDir() + L"\\tvplanted.dll", dir + L"\\tvplanted.dll");
}

// Shows that in this setting a planted library does load into a program
// that does not harden itself: the checks below are then meaningful.
TEST(Hardening, PlantedLibrariesLoadWithoutIt) {
  TempDir dir(L"probe"), out(L"out"), cwd(L"cwd");
  PlantBesideProbe(dir.path());
  const std::wstring marker = out / L"marker.txt", report = out / L"report.txt";
  const auto result = RunProcess(dir / L"dll_probe.exe", L"dll_probe plain \"" + report + L"\"",
                                 {{L"TV_DLL_MARKER", marker}}, cwd.path());
  ASSERT_EQ(result.exitCode, 0u);
  const std::wstring text = ReadReport(report);
  EXPECT_NE(text.find(L"version=" + dir.path() + L"\\version.dll"), std::wstring::npos) << Narrow(text);
  EXPECT_NE(text.find(L"planted=" + dir.path()), std::wstring::npos) << Narrow(text);
  const std::string ran = ReadFileBytes(marker);
  EXPECT_NE(ran.find(Narrow(dir.path()) + "\\version.dll"), std::string::npos) << ran;
  EXPECT_NE(ran.find(Narrow(dir.path()) + "\\tvplanted.dll"), std::string::npos) << ran;
}

TEST(Hardening, LibrariesComeFromTheSystemFolderOnly) {
  TempDir dir(L"probe"), out(L"out"), cwd(L"cwd");
  PlantBesideProbe(dir.path());
  const std::wstring marker = out / L"marker.txt", report = out / L"report.txt";
  const auto result = RunProcess(dir / L"dll_probe.exe", L"dll_probe hardened \"" + report + L"\"",
                                 {{L"TV_DLL_MARKER", marker}}, cwd.path());
  ASSERT_EQ(result.exitCode, 0u);
  const std::wstring text = ReadReport(report);
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring systemDir(system, n);
  EXPECT_NE(text.find(L"version=" + systemDir + L"\\version.dll"), std::wstring::npos) << Narrow(text);
  EXPECT_NE(text.find(L"planted=none"), std::wstring::npos) << Narrow(text);
  EXPECT_FALSE(Exists(marker));
  // Every library of the preload list that this system has is loaded; the
  // ones it lacks were passed over without ending the probe.
  for (const wchar_t* name : {L"comres.dll", L"clbcatq.dll", L"secur32.dll", L"netapi32.dll",
                              L"setupapi.dll", L"version.dll", L"msasn1.dll", L"crypt32.dll",
                              L"wintrust.dll", L"riched20.dll", L"cryptui.dll", L"shdocvw.dll",
                              L"ws2help.dll", L"ws2_32.dll", L"xpsp2res.dll", L"sfc_os.dll",
                              L"psapi.dll"}) {
    const bool present = Exists(systemDir + L"\\" + name);
    EXPECT_EQ(text.find(L"preloaded=" + std::wstring(name) + L"\n") != std::wstring::npos, present)
        << Narrow(name);
  }
}

// A planted version.dll beside a package is never run: not by the outer
// instance (which relaunches because of it) and not by the copy, whose
// folder holds no library.
TEST(Hardening, PlantedVersionDllBesideThePackageNeverRuns) {
  PackageRun run("with_setup");
  CopyFileTo(PlantedDir() + L"\\version.dll", run.dir / L"version.dll");
  const std::wstring marker = run.records / L"marker.txt", record = run.records / L"r.txt";
  const ProcessResult result = run.Run(
      L"", Join(RecorderEnv(record, 7),
                {{L"TV_DLL_MARKER", marker}, {L"TV_LIST", run.temp.path()}}));
  EXPECT_EQ(result.exitCode, 7u);
  bool copied = false;
  EXPECT_EQ(CopyFolderEntries(ReadRecord(record), &copied),
            std::vector<std::wstring>{L"VantelInstaller.exe"});
  EXPECT_TRUE(copied);
  EXPECT_FALSE(Exists(marker));
}

}  // namespace
