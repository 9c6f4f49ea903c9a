// End to end under Wine: tvpack.exe makes packages from a folder, and the
// packages run as a user would run them, with the recorder as setup program.
// While the recorder waits, the extraction folder is read and compared with
// the source folder byte for byte. Damaged packages get the same verdict from
// "tvpack verify" as from running them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "zip_builder.h"

using namespace tvtest;

namespace {

std::wstring TvpackExe() { return WinPath(TV_TVPACK_EXE); }

EnvList Join(EnvList a, const EnvList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Every file below `root` by its "/"-separated relative name.
void Walk(const std::wstring& root, const std::string& prefix, std::map<std::string, std::string>& files) {
  for (const std::wstring& name : ListDir(root)) {
    const std::wstring path = root + L"\\" + name;
    if (IsDirectory(path))
      Walk(path, prefix + Narrow(name) + "/", files);
    else
      files[prefix + Narrow(name)] = ReadFileBytes(path);
  }
}

std::map<std::string, std::string> FilesOf(const std::wstring& root) {
  std::map<std::string, std::string> files;
  Walk(root, "", files);
  return files;
}

struct ToolResult {
  ProcessResult process;
  std::string output;
};

ToolResult Tvpack(const std::wstring& arguments) {
  ToolResult r;
  r.process = RunProcessWithOutput(TvpackExe(), L"\"" + TvpackExe() + L"\" " + arguments, r.output);
  return r;
}

// The folder the packages are made of: a setup program, text, binary data,
// names outside ASCII, an empty file and an empty folder.
void MakeSource(const std::wstring& root, const std::wstring& setupName) {
  const std::wstring setup = root + L"\\" + setupName;
  CreateDirectoryW(setup.substr(0, setup.rfind(L'\\')).c_str(), nullptr);
  CopyFileTo(RecorderExe(), setup);
  CreateDirectoryW((root + L"\\data").c_str(), nullptr);
  std::string numbers, noise;
  for (int i = 0; i < 30000; ++i) numbers += std::to_string(i * 7) + "\n";
  uint32_t x = 7;
  for (int i = 0; i < 300000; ++i) noise.push_back(static_cast<char>((x = x * 1103515245 + 12345) >> 23));
  WriteFileBytes(root + L"\\data\\numbers.txt", numbers);
  WriteFileBytes(root + L"\\data\\noise.bin", noise);
  CreateDirectoryW((root + L"\\donn\u00e9es").c_str(), nullptr);
  WriteFileBytes(root + L"\\donn\u00e9es\\\u00e9t\u00e9 \u65e5\u672c.txt", "summer\n");
  WriteFileBytes(root + L"\\empty.txt", "");
  CreateDirectoryW((root + L"\\empty folder").c_str(), nullptr);
}

// One run of a package with its own temporary and current folders. The
// recorder sleeps after writing its record, so the extraction folder can be
// read while it still exists.
struct PackageRun {
  ProcessResult result;
  Record record;
  std::map<std::string, std::string> unpacked;
  std::vector<std::wstring> folders;  // every folder that was unpacked
  std::vector<std::wstring> tempLeft;
};

void ListFolders(const std::wstring& root, const std::wstring& prefix, std::vector<std::wstring>& out) {
  for (const std::wstring& name : ListDir(root))
    if (IsDirectory(root + L"\\" + name)) {
      out.push_back(prefix + name);
      ListFolders(root + L"\\" + name, prefix + name + L"/", out);
    }
}

PackageRun RunPackage(const std::wstring& package, const std::wstring& arguments, DWORD exitCode) {
  TempDir temp(L"tvpack-temp");
  TempDir cwd(L"tvpack-cwd");
  TempDir records(L"tvpack-rec");
  const std::wstring record = records / L"record.txt";
  PackageRun run;
  std::atomic<bool> ended{false};
  std::thread child([&] {
    run.result = RunProcess(package, L"\"" + package + L"\"" + arguments,
                            Join(Join(TempEnv(temp.path()), RecorderEnv(record, exitCode)),
                                 {{L"TV_SLEEP_MS", L"3000"}}),
                            cwd.path());
    ended = true;
  });
  // The recorder holds its record open without sharing until it is complete.
  for (int i = 0; i < 600 && !ended; ++i) {
    HANDLE h = CreateFileW(record.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      const DWORD size = GetFileSize(h, nullptr);
      CloseHandle(h);
      if (size > 0) break;
    }
    Sleep(50);
  }
  const std::vector<std::wstring> left = ListDir(temp.path());
  if (left.size() == 1) {
    run.unpacked = FilesOf(temp / left[0]);
    ListFolders(temp / left[0], L"", run.folders);
  }
  child.join();
  run.record = ReadRecord(record);
  run.tempLeft = ListDir(temp.path());
  return run;
}

struct Format {
  const wchar_t* name;
  const wchar_t* setup;  // the setup program's place in the folder
  bool setupSwitch;      // named by --setup, or the launcher's default name
};

class RoundTrip : public testing::TestWithParam<Format> {};

TEST_P(RoundTrip, PackageUnpacksEveryFileAndPassesArgumentsAndExitCode) {
  const Format f = GetParam();
  TempDir dir(L"tvpack-rt");
  const std::wstring source = dir / L"source";
  CreateDirectoryW(source.c_str(), nullptr);
  MakeSource(source, f.setup);
  const std::wstring package = dir / L"Setup Package.exe";
  std::wstring args = L"create \"" + source + L"\" -o \"" + package + L"\" --format " + f.name;
  if (f.setupSwitch) args += L" --setup " + std::wstring(f.setup);
  const ToolResult made = Tvpack(args);
  ASSERT_EQ(made.process.exitCode, 0u) << made.output;
  EXPECT_NE(made.output.find("tvpack: wrote"), std::string::npos) << made.output;

  const PackageRun run = RunPackage(package, L" one \"two three\"", 70000);
  ASSERT_TRUE(run.result.started);
  EXPECT_EQ(run.result.exitCode, 70000u);
  ASSERT_TRUE(run.record.present);
  EXPECT_EQ(run.record.commandLine, L"\"" + run.record.self + L"\"  one \"two three\"");
  const std::wstring setup = f.setup;
  EXPECT_EQ(run.record.self.substr(run.record.self.size() - setup.size()), setup);

  std::map<std::string, std::string> expected = FilesOf(source);
  if (f.setupSwitch) expected[".launch"] = Narrow(setup) + "\r\n";
  EXPECT_EQ(run.unpacked.size(), expected.size());
  EXPECT_TRUE(run.unpacked == expected) << "the unpacked files differ from the source folder";
  // Every folder, the empty one included: it was packed as a folder entry
  // (or item), and the launcher makes it.
  std::vector<std::wstring> sourceFolders;
  ListFolders(source, L"", sourceFolders);
  std::vector<std::wstring> unpackedFolders = run.folders;
  std::sort(sourceFolders.begin(), sourceFolders.end());
  std::sort(unpackedFolders.begin(), unpackedFolders.end());
  EXPECT_EQ(unpackedFolders, sourceFolders);
  EXPECT_NE(std::find(unpackedFolders.begin(), unpackedFolders.end(), L"empty folder"),
            unpackedFolders.end());
  EXPECT_TRUE(run.tempLeft.empty()) << "the extraction folder was not deleted";

  const ToolResult verified = Tvpack(L"verify \"" + package + L"\"");
  EXPECT_EQ(verified.process.exitCode, 0u) << verified.output;
  std::string shown = Narrow(setup);
  std::replace(shown.begin(), shown.end(), '\\', '/');
  EXPECT_NE(verified.output.find("setup program: " + shown), std::string::npos) << verified.output;
}

INSTANTIATE_TEST_SUITE_P(Tvpack, RoundTrip,
                         testing::Values(Format{L"zip", L"bin\\setup.exe", true},
                                         Format{L"7z", L"Tessaro Vantel Installer.exe", false},
                                         Format{L"7z", L"bin\\setup.exe", true}),
                         [](const testing::TestParamInfo<Format>& info) {
                           return std::string(info.param.name == std::wstring(L"zip") ? "zip" : "sevenzip") +
                                  (info.param.setupSwitch ? "_descriptor" : "_default");
                         });

TEST(TvpackCreate, TwoRunsGiveIdenticalPackages) {
  TempDir dir(L"tvpack-same");
  const std::wstring source = dir / L"source";
  CreateDirectoryW(source.c_str(), nullptr);
  MakeSource(source, L"Tessaro Vantel Installer.exe");
  for (const wchar_t* format : {L"zip", L"7z"}) {
    for (const wchar_t* out : {L"a.exe", L"b.exe"})
      ASSERT_EQ(Tvpack(L"create \"" + source + L"\" -o \"" + (dir / out) + L"\" --format " + format).process.exitCode, 0u);
    EXPECT_TRUE(ReadFileBytes(dir / L"a.exe") == ReadFileBytes(dir / L"b.exe"));
  }
}

// Damaged packages: "tvpack verify" refuses each one, and the launcher,
// run on it, ends with exit code 5 without starting the setup program.
TEST(TvpackVerify, VerdictMatchesTheLauncher) {
  TempDir dir(L"tvpack-damaged");
  const std::wstring source = dir / L"source";
  CreateDirectoryW(source.c_str(), nullptr);
  MakeSource(source, L"Tessaro Vantel Installer.exe");
  const std::string launcher = ReadFileBytes(LauncherExe());
  struct Case {
    std::string what;
    std::string bytes;
  };
  std::vector<Case> cases;
  for (const wchar_t* format : {L"zip", L"7z"}) {
    const std::wstring good = dir / (std::wstring(format) + L".exe");
    ASSERT_EQ(Tvpack(L"create \"" + source + L"\" -o \"" + good + L"\" --format " + format).process.exitCode, 0u);
    const std::string bytes = ReadFileBytes(good);
    const size_t middle = launcher.size() + (bytes.size() - launcher.size()) / 2;
    std::string flipped = bytes;
    flipped[middle] ^= 0x01;
    cases.push_back({Narrow(format) + " cut short", bytes.substr(0, middle)});
    cases.push_back({Narrow(format) + " flipped byte", flipped});
  }
  // A 7z archive whose first coder is LZMA2, made by the 7-Zip program at
  // build time for the launcher's tests; and a name that climbs out.
  cases.push_back({"LZMA2 archive", launcher + ReadFileBytes(WinPath(TV_7Z_ARCHIVES "/lzma2_first.7z"))});
  cases.push_back({"traversal name",
                   launcher + ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = ReadFileBytes(RecorderExe())},
                                         {.name = "../evil.txt", .data = "x"}})});

  for (const Case& c : cases) {
    const std::wstring package = dir / L"damaged.exe";
    WriteFileBytes(package, c.bytes);
    const ToolResult verified = Tvpack(L"verify \"" + package + L"\"");
    EXPECT_EQ(verified.process.exitCode, 1u) << c.what << "\n" << verified.output;
    EXPECT_NE(verified.output.find("verdict: the launcher refuses"), std::string::npos) << c.what;
    const PackageRun run = RunPackage(package, L"", 0);
    EXPECT_EQ(run.result.exitCode, 5u) << c.what;
    EXPECT_FALSE(run.record.present) << c.what << ": the setup program ran";
  }
}

// Packages signed at build time (tvpack.exe create, then the signing tool with
// the arguments "tvpack sign" gives it; see make_signed_packages.sh).
TEST(TvpackSigned, SignedPackagesVerifyAndRunLikeUnsigned) {
  const std::wstring folder = WinPath(TV_TVPACK_SIGNED);
  const std::map<std::string, std::string> source = FilesOf(folder + L"\\source");
  ASSERT_FALSE(source.empty());
  for (const wchar_t* format : {L"zip", L"7z"}) {
    const std::wstring unsignedPackage = folder + L"\\" + format + L".exe";
    const std::wstring signedPackage = folder + L"\\" + format + L"-signed.exe";
    ASSERT_GT(ReadFileBytes(signedPackage).size(), ReadFileBytes(unsignedPackage).size());
    const ToolResult verified = Tvpack(L"verify \"" + signedPackage + L"\"");
    EXPECT_EQ(verified.process.exitCode, 0u) << verified.output;
    const PackageRun run = RunPackage(signedPackage, L" /quiet", 3);
    EXPECT_EQ(run.result.exitCode, 3u);
    ASSERT_TRUE(run.record.present);
    EXPECT_EQ(run.record.commandLine, L"\"" + run.record.self + L"\"  /quiet");
    std::map<std::string, std::string> expected = source;
    expected[".launch"] = "bin\\setup.exe\r\n";
    EXPECT_TRUE(run.unpacked == expected) << Narrow(format);
    EXPECT_TRUE(run.tempLeft.empty());
  }
}

// Payloads written by other tools (make_foreign_archives.py, run as a test
// fixture): each one either unpacks to exactly what unzip or 7zz x makes of
// it - names, bytes, empty folders - and runs its setup program, or the
// launcher ends with 5 without starting it and "tvpack verify" refuses it
// for the true reason.
struct ForeignCase {
  std::string name;
  bool unpacks = false;
  std::string reason;  // words "tvpack verify" must print when it refuses
};

void PrintTo(const ForeignCase& c, std::ostream* out) { *out << c.name; }

std::string Foreign(const std::string& name) { return std::string(TV_FOREIGN) + "/" + name; }

std::vector<ForeignCase> ForeignCases() {
  std::vector<ForeignCase> cases;
  const std::string text = ReadFileBytes(WinPath(Foreign("cases.txt").c_str()));
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    ForeignCase c;
    c.name = line.substr(0, tab);
    c.unpacks = line.compare(tab + 1, 4, "tree") == 0;
    const size_t second = line.find('\t', tab + 1);
    if (second != std::string::npos) c.reason = line.substr(second + 1);
    cases.push_back(c);
  }
  return cases;
}

// The names in one map and not the other, for messages.
std::string Differences(const std::map<std::string, std::string>& got,
                        const std::map<std::string, std::string>& expected) {
  std::string out;
  for (const auto& [name, data] : expected) {
    auto it = got.find(name);
    if (it == got.end()) out += " missing: " + name;
    else if (it->second != data) out += " differs: " + name;
  }
  for (const auto& [name, data] : got)
    if (!expected.count(name)) out += " extra: " + name;
  return out;
}

class ForeignArchive : public testing::TestWithParam<ForeignCase> {};

TEST_P(ForeignArchive, UnpacksAsTheToolDoesOrIsRefusedByBoth) {
  const ForeignCase& c = GetParam();
  TempDir dir(L"foreign");
  const std::wstring package = dir / L"package.exe";
  WriteFileBytes(package, ReadFileBytes(LauncherExe()) +
                              ReadFileBytes(WinPath(Foreign(c.name + ".payload").c_str())));
  const PackageRun run = RunPackage(package, L"", 7);
  const ToolResult verified = Tvpack(L"verify \"" + package + L"\"");
  if (c.unpacks) {
    EXPECT_EQ(run.result.exitCode, 7u);
    EXPECT_TRUE(run.record.present) << "the setup program did not run";
    const std::wstring tree = WinPath(Foreign(c.name + ".tree").c_str());
    const std::map<std::string, std::string> expected = FilesOf(tree);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(run.unpacked == expected) << Differences(run.unpacked, expected);
    std::vector<std::wstring> expectedFolders;
    ListFolders(tree, L"", expectedFolders);
    std::vector<std::wstring> folders = run.folders;
    std::sort(expectedFolders.begin(), expectedFolders.end());
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, expectedFolders);
    EXPECT_TRUE(run.tempLeft.empty());
    EXPECT_EQ(verified.process.exitCode, 0u) << verified.output;
  } else {
    EXPECT_EQ(run.result.exitCode, 5u);
    EXPECT_FALSE(run.record.present) << "the setup program ran";
    EXPECT_EQ(verified.process.exitCode, 1u) << verified.output;
    EXPECT_NE(verified.output.find("tvpack: refused: "), std::string::npos) << verified.output;
    EXPECT_NE(verified.output.find(c.reason), std::string::npos)
        << "expected: " << c.reason << "\n" << verified.output;
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, ForeignArchive, testing::ValuesIn(ForeignCases()),
                         [](const testing::TestParamInfo<ForeignCase>& info) { return info.param.name; });
// The cases exist only once the fixture made them; the other runs of this
// program see none.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ForeignArchive);

TEST(ForeignArchives, AllCasesWereMade) {
  const std::vector<ForeignCase> cases = ForeignCases();
  EXPECT_EQ(cases.size(), 18u);
  EXPECT_EQ(std::count_if(cases.begin(), cases.end(), [](const ForeignCase& c) { return c.unpacks; }), 5);
}

}  // namespace

int main(int argc, char** argv) {
  // The shell's recursive delete can empty the caller's current folder
  // under Wine: keep it in an empty scratch folder.
  static TempDir scratch(L"tvpack-cwd");
  SetCurrentDirectoryW(scratch.path().c_str());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
