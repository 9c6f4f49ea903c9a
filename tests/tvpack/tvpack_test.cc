// Host tests of the packaging tool: what `create` refuses, reproducible
// output, and `verify` verdicts on good and damaged packages. The unpacked
// contents are checked with the launcher's own walker and 7z reader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "7zAlloc.h"
#include "host_helpers.h"
#include "memory_archive.h"
#include "memory_io.h"
#include "package_verify.h"
#include "seven_zip_core.h"
#include "signature_table.h"
#include "zip_builder.h"
#include "zip_entries.h"

using namespace tvtest;

namespace {

const std::string kSetup = FakeProgram("setup");

// A folder that packs cleanly: the default setup program and some data.
struct Source {
  Scratch dir;
  std::string launcher = dir / "launcher.exe";
  std::string folder = dir / "src";
  std::map<std::string, std::string> files;

  Source() {
    WriteBytes(launcher, FakeLauncher());
    Add("Tessaro Vantel Installer.exe", kSetup);
    Add("docs/readme.txt", "read me\n");
    std::string numbers;
    for (int i = 0; i < 20000; ++i) numbers += std::to_string(i) + "\n";
    Add("docs/numbers.txt", numbers);
    Add("empty.dat", "");
    mkdir((folder + "/nothing").c_str(), 0755);
  }
  void Add(const std::string& name, const std::string& bytes) {
    WriteBytes(folder + "/" + name, bytes);
    files[name] = bytes;
  }
  ToolRun Create(const std::string& output, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"create", folder, "-o", output, "--launcher", launcher};
    args.insert(args.end(), extra.begin(), extra.end());
    return Tvpack(args);
  }
};

// Unpacks the payload of a package with the launcher's walker or 7z reader.
std::map<std::string, std::string> Unpack(const std::string& package) {
  const VerifyReport report = VerifyPackage(package, 60);
  EXPECT_TRUE(report.ok);
  const std::string payload = package.substr(report.payloadOffset);
  if (report.kind == PayloadZip) {
    tvtest::MemoryReader reader(payload);
    tvtest::MemorySink sink;
    EXPECT_EQ(WalkZipEntries(reader, 60, sink), ZipResult::kEnded);
    return sink.files;
  }
  MemoryArchive archive(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  SevenZipMemorySink sink;
  const ISzAlloc alloc = {SzAlloc, SzFree};
  EXPECT_EQ(ExtractSevenZipArchive(&archive.vt, &alloc, &alloc, 198, sink), SZ_OK);
  return sink.files;
}

class BothFormats : public testing::TestWithParam<const char*> {};

TEST_P(BothFormats, PackageHoldsEveryFileAsItWentIn) {
  Source s;
  const ToolRun run = s.Create(s.dir / "p.exe", {"--format", GetParam()});
  ASSERT_EQ(run.code, kTvpackOk) << run.err;
  const std::string package = ReadBytes(s.dir / "p.exe");
  EXPECT_EQ(package.compare(0, FakeLauncher().size(), FakeLauncher()), 0);
  EXPECT_EQ(Unpack(package), s.files);
  EXPECT_FALSE(access((s.dir / "p.exe.partial").c_str(), F_OK) == 0);
}

TEST_P(BothFormats, SameFolderGivesSameBytes) {
  Source s;
  ASSERT_EQ(s.Create(s.dir / "a.exe", {"--format", GetParam()}).code, kTvpackOk);
  // Other times on every file must not change a byte.
  ASSERT_EQ(system(("find '" + s.folder + "' -exec touch -d 2001-02-03 {} +").c_str()), 0);
  ASSERT_EQ(s.Create(s.dir / "b.exe", {"--format", GetParam()}).code, kTvpackOk);
  EXPECT_TRUE(ReadBytes(s.dir / "a.exe") == ReadBytes(s.dir / "b.exe"));
}

TEST_P(BothFormats, SetupSwitchWritesTheDescriptor) {
  Source s;
  s.Add("bin/setup.exe", kSetup);
  const ToolRun run = s.Create(s.dir / "p.exe", {"--format", GetParam(), "--setup", "bin/setup.exe"});
  ASSERT_EQ(run.code, kTvpackOk) << run.err;
  const auto files = Unpack(ReadBytes(s.dir / "p.exe"));
  ASSERT_TRUE(files.count(".launch"));
  EXPECT_EQ(files.at(".launch"), "bin\\setup.exe\r\n");
  EXPECT_EQ(VerifyPackage(ReadBytes(s.dir / "p.exe"), 60).setup, "bin/setup.exe");
}

TEST_P(BothFormats, FoldersOwnDescriptorIsCheckedAndKept) {
  Source s;
  s.Add("setup/setup.exe", kSetup);
  s.Add(".launch", "setup/setup.exe\r\nsecond line, ignored\r\n");
  const ToolRun run = s.Create(s.dir / "p.exe", {"--format", GetParam()});
  ASSERT_EQ(run.code, kTvpackOk) << run.err;
  const std::string package = ReadBytes(s.dir / "p.exe");
  EXPECT_EQ(Unpack(package), s.files);
  EXPECT_EQ(VerifyPackage(package, 60).setup, "setup/setup.exe");
  // Both a descriptor and --setup: which one is meant is not clear.
  const ToolRun both = s.Create(s.dir / "q.exe", {"--format", GetParam(), "--setup", "setup/setup.exe"});
  EXPECT_EQ(both.code, kTvpackError);
  EXPECT_NE(both.err.find("has its own .launch"), std::string::npos) << both.err;
}

INSTANTIATE_TEST_SUITE_P(Tvpack, BothFormats, testing::Values("zip", "7z"));

TEST(TvpackCreate, SevenZipPayloadStartsWithLzma) {
  Source s;
  s.Add("bin/tool.dll", FakeProgram("library") + std::string(5000, 'x'));
  ASSERT_EQ(s.Create(s.dir / "p.exe", {"--format", "7z", "--level", "9"}).code, kTvpackOk);
  const std::string package = ReadBytes(s.dir / "p.exe");
  const size_t at = FakeLauncher().size();
  EXPECT_EQ(package.compare(at, 6, "7z\xBC\xAF\x27\x1C"), 0);
  EXPECT_EQ(package[at + 32], '\0');
}

TEST(TvpackCreate, IncompressibleFilesAreStored) {
  Source s;
  std::string noise;
  uint32_t x = 1;
  for (int i = 0; i < 100000; ++i) noise.push_back(static_cast<char>((x = x * 1103515245 + 12345) >> 24));
  s.Add("noise.bin", noise);
  ASSERT_EQ(s.Create(s.dir / "p.exe").code, kTvpackOk);
  const std::string package = ReadBytes(s.dir / "p.exe");
  const size_t header = package.find("noise.bin") - 30;
  EXPECT_EQ(package[header + 8], 0) << "method";
  EXPECT_EQ(package[header + 9], 0);
  EXPECT_EQ(package.find("numbers.txt") != std::string::npos, true);
}

// 149 characters in 199 UTF-8 bytes.
std::string Accented() {
  std::string name(99, 'u');
  for (int i = 0; i < 50; ++i) name += "\xC3\xA9";
  return name;
}

void ExpectRefused(const std::string& what,
                   const std::vector<std::pair<std::string, std::string>>& files,
                   const std::vector<std::string>& args, const std::string& name,
                   const std::string& reason) {
  Source s;
  for (const auto& [file, bytes] : files) s.Add(file, bytes);
  const ToolRun run = s.Create(s.dir / "p.exe", args);
  EXPECT_EQ(run.code, kTvpackRefused) << what << "\n" << run.err;
  EXPECT_NE(run.err.find("refused: " + name + ": "), std::string::npos) << what << "\n" << run.err;
  EXPECT_NE(run.err.find(reason), std::string::npos) << what << "\n" << run.err;
  EXPECT_NE(access((s.dir / "p.exe").c_str(), F_OK), 0) << what;
  EXPECT_NE(access((s.dir / "p.exe.partial").c_str(), F_OK), 0) << what;
}

// One row per reason `create` refuses: the offending name and a piece of the
// reason must be listed, and no package may be left.
TEST(TvpackCreate, RefusalTable) {
  struct Row {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // extra files
    std::vector<std::string> args;
    std::string name;    // listed as refused
    std::string reason;  // part of its reason
  } rows[] = {
      {"colon", {{"a:b.txt", "x"}}, {}, "a:b.txt", "name rule"},
      {"dots element", {{"d/.../x.txt", "x"}}, {}, "d/.../x.txt", "name rule"},
      {"case", {{"docs/README.txt", "x"}}, {}, "docs/README.txt", "differs only in case from docs/readme.txt"},
      {"case of a folder", {{"Docs/other.txt", "x"}}, {}, "Docs", "differs only in case from docs"},
      {"not UTF-8", {{"bad\xff.txt", "x"}}, {}, "bad\\xff.txt", "not valid UTF-8"},
      {"forbidden character", {{"what?.txt", "x"}}, {}, "what?.txt", "Windows does not allow"},
      {"trailing dot", {{"dot./x.txt", "x"}}, {}, "dot./x.txt", "ends with a dot"},
      {"trailing space", {{"sp /x.txt", "x"}}, {}, "sp /x.txt", "ends with a dot or a space"},
      {"control character", {{"tab\tx.txt", "x"}}, {}, "tab\\x09x.txt", "Windows does not allow"},
      {"backslash in a file name", {{"a\\b.txt", "x"}}, {}, "a\\b.txt", "Windows does not allow"},
      {"path too long, zip", {{std::string(199, 'n'), "x"}}, {}, std::string(199, 'n'),
       "260 characters under a 60-character extraction folder, the launcher allows 259 (1 too many)"},
      {"path too long, 7z", {{std::string(198, 'n'), "x"}}, {"--format", "7z"}, std::string(198, 'n'),
       "259 characters under a 60-character extraction folder, the launcher allows 258 (1 too many)"},
      {"path too long for --max-folder", {{std::string(150, 'm'), "x"}}, {"--max-folder", "120"},
       std::string(150, 'm'), "271 characters under a 120-character"},
      {"UTF-8 bytes count in zip", {{Accented(), "x"}}, {}, Accented(), "counts the name's UTF-8 bytes"},
      {"setup program missing", {}, {"--setup", "bin/nothing.exe"}, "bin/nothing.exe", "not in the payload"},
      {"setup program not a program", {{"bin/setup.exe", "MZ text"}}, {"--setup", "bin/setup.exe"},
       "bin/setup.exe", "not a Windows program"},
      {"descriptor with a byte-order mark", {{".launch", "\xEF\xBB\xBFTessaro Vantel Installer.exe"}}, {},
       ".launch", "byte-order mark"},
      {"descriptor naming a parent folder", {{".launch", "..\\x.exe\r\n"}}, {}, ".launch", "name rule"},
  };
  for (const Row& row : rows) ExpectRefused(row.what, row.files, row.args, row.name, row.reason);
}

// Reserved device names come through the launcher's name rule, like every
// other name it refuses.
TEST(TvpackCreate, RefusesReservedDeviceNames) {
  for (const char* name : {"CON", "docs/nul.txt", "COM1", "lpt9.log", "aux"})
    ExpectRefused(name, {{name, "x"}}, {}, name, "name rule");
}

TEST(TvpackCreate, RefusesFilesTooLargeForTheFormat) {
  struct Row {
    const char* format;
    off_t size;
    const char* reason;
  } rows[] = {
      {"zip", static_cast<off_t>(0xFFFFFFFFll), "too large for the ZIP-style format"},
      {"7z", (1ll << 30) + 1, "too large for the 7z format"},
  };
  for (const Row& row : rows) {
    Source s;
    // Sparse: the refusal comes before any byte is read.
    s.Add("big.bin", "");
    ASSERT_EQ(truncate((s.folder + "/big.bin").c_str(), row.size), 0);
    const ToolRun run = s.Create(s.dir / "p.exe", {"--format", row.format});
    EXPECT_EQ(run.code, kTvpackRefused) << run.err;
    EXPECT_NE(run.err.find("refused: big.bin: " + std::string(row.reason)), std::string::npos) << run.err;
  }
}

TEST(TvpackCreate, ListsEveryOffendingNameAndTheRoomLeft) {
  Source s;
  s.Add("a:1", "x");
  s.Add("b?2", "x");
  s.Add(std::string(180, 'p'), "x");
  const ToolRun run = s.Create(s.dir / "p.exe");
  EXPECT_EQ(run.code, kTvpackRefused);
  EXPECT_NE(run.err.find("refused: a:1:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("refused: b?2:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("longest path: 241 characters with a 60-character extraction folder ("
                         + std::string(180, 'p') + "); the launcher allows 259, 18 left"),
            std::string::npos)
      << run.err;
}

TEST(TvpackCreate, UnpackableItemsAreListed) {
  Source s;
  ASSERT_EQ(symlink("/nonexistent/target", (s.folder + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((s.folder + "/pipe").c_str(), 0644), 0);
  const ToolRun run = s.Create(s.dir / "p.exe");
  EXPECT_EQ(run.code, kTvpackRefused);
  EXPECT_NE(run.err.find("refused: dangling: a link"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("refused: pipe: not a regular file"), std::string::npos) << run.err;
}

TEST(TvpackCreate, BadInputGivesClearErrors) {
  Source s;
  WriteBytes(s.dir / "text.exe", "not a program at all");
  WriteBytes(s.dir / "other.exe", FakeProgram("Some Other Program"));
  WriteBytes(s.dir / "package.exe", FakeLauncher() + tvtest::ZipStream({{.name = "a", .data = "1"}}));
  struct Row {
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {{"create", s.dir / "missing", "-o", s.dir / "p.exe", "--launcher", s.launcher}, "no such folder"},
      {{"create", s.folder, "-o", s.folder + "/sub/p.exe", "--launcher", s.launcher}, "inside the folder being packed"},
      {{"create", s.folder, "-o", s.folder + "/p.exe", "--launcher", s.launcher}, "inside the folder being packed"},
      {{"create", s.folder, "-o", s.dir / "p.exe", "--launcher", s.dir / "text.exe"}, "is not the launcher"},
      {{"create", s.folder, "-o", s.dir / "p.exe", "--launcher", s.dir / "other.exe"}, "is not the launcher"},
      {{"create", s.folder, "-o", s.dir / "p.exe", "--launcher", s.dir / "package.exe"}, "data behind its image"},
      {{"create", s.folder, "-o", s.dir / "p.exe", "--launcher", s.dir / "none.exe"}, "cannot read the launcher"},
      {{"create", s.folder, "-o", s.dir / "p.exe", "--launcher", s.launcher, "--format", "rar"}, "zip or 7z"},
      {{"create", s.folder, "-o", s.dir / "p.exe", "--launcher", s.launcher, "--level", "10"}, "0 to 9"},
      {{"create", s.folder, "-o", s.dir / "p.exe", "--launcher", s.launcher, "--max-folder", "259"}, "from 3 to 258"},
      {{"create", s.folder, "-o", s.dir / "p.exe", "--launcher", s.launcher, "--max-folder", "2"}, "from 3 to 258"},
      {{"create", s.folder, "--launcher", s.launcher}, "-o <package.exe>"},
      {{"verify", s.dir / "none.exe"}, "cannot read"},
      {{"frobnicate"}, "unknown command"},
  };
  for (const Row& row : rows) {
    const ToolRun run = Tvpack(row.args);
    EXPECT_EQ(run.code, kTvpackError) << row.message;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << row.message << "\n" << run.err;
  }
  EXPECT_NE(access((s.dir / "p.exe").c_str(), F_OK), 0);
}

TEST(TvpackCreate, AFailedWriteLeavesNoPackage) {
  Source s;
  // The output's folder does not exist: nothing can be written.
  const ToolRun run = s.Create(s.dir / "no/such/p.exe");
  EXPECT_EQ(run.code, kTvpackError);
  EXPECT_NE(run.err.find("cannot"), std::string::npos) << run.err;
}

TEST(TvpackCreate, ProgressLineOnlyOnATerminalForLargeFolders) {
  Source s;
  std::vector<std::string> base = {"create", s.folder, "-o", s.dir / "p.exe", "--launcher", s.launcher};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  EXPECT_EQ(Tvpack(base, true).err.find('\r'), std::string::npos) << "a small folder";
  s.Add("big.bin", std::string(17 << 20, 'z'));
  const ToolRun shown = Tvpack(base, true);
  ASSERT_EQ(shown.code, kTvpackOk) << shown.err;
  EXPECT_NE(shown.err.find("\r17.9 MB of 17.9 MB, 5 of 5 files, "), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find("MB/s"), std::string::npos);
  EXPECT_EQ(Tvpack(with({"--quiet"}), true).err.find('\r'), std::string::npos) << "--quiet";
  EXPECT_EQ(Tvpack(base, false).err.find('\r'), std::string::npos) << "not a terminal";
}

// --- verify ---

std::string GoodPackage(const char* format, Source& s) {
  EXPECT_EQ(s.Create(s.dir / "good.exe", {"--format", format}).code, kTvpackOk);
  return ReadBytes(s.dir / "good.exe");
}

int VerifyCode(Source& s, const std::string& bytes, std::string* err = nullptr) {
  WriteBytes(s.dir / "v.exe", bytes);
  const ToolRun run = Tvpack({"verify", s.dir / "v.exe"});
  if (err) *err = run.err + run.out;
  return run.code;
}

TEST(TvpackVerify, GoodPackagesPassAndListTheirEntries) {
  for (const char* format : {"zip", "7z"}) {
    Source s;
    WriteBytes(s.dir / "v.exe", GoodPackage(format, s));
    const ToolRun run = Tvpack({"verify", s.dir / "v.exe"});
    EXPECT_EQ(run.code, kTvpackOk) << run.err;
    EXPECT_NE(run.out.find("docs/numbers.txt"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("setup program: Tessaro Vantel Installer.exe"), std::string::npos);
    EXPECT_NE(run.out.find("longest path: 89 characters with a 60-character extraction folder (Tessaro Vantel Installer.exe)"), std::string::npos) << run.out;
    // The empty folder is packed, and the launcher makes it.
    EXPECT_NE(run.out.find("  folder\tnothing"), std::string::npos) << format << "\n" << run.out;
    EXPECT_NE(run.out.find("4 files, 1 folders"), std::string::npos) << format << "\n" << run.out;
  }
}

// Damaged packages: the verdict is the launcher's (the same cases run under
// Wine in tvpack_package_test give exit code 5).
TEST(TvpackVerify, DamagedPackagesAreRefused) {
  for (const char* format : {"zip", "7z"}) {
    Source s;
    const std::string good = GoodPackage(format, s);
    const size_t payload = FakeLauncher().size();
    std::string flipped = good;
    // A byte of the numbers file's packed data, well inside the payload.
    flipped[payload + (good.size() - payload) / 2] ^= 0x20;
    struct Row {
      const char* what;
      std::string bytes;
    } rows[] = {
        {"cut short", good.substr(0, payload + (good.size() - payload) / 2)},
        {"flipped byte", flipped},
        {"launcher alone", good.substr(0, payload)},
    };
    for (const Row& row : rows) {
      std::string err;
      EXPECT_EQ(VerifyCode(s, row.bytes, &err), kTvpackRefused) << format << ": " << row.what << "\n" << err;
      EXPECT_NE(err.find("verdict: the launcher refuses"), std::string::npos) << err;
    }
  }
}

TEST(TvpackVerify, PayloadsTheLauncherRefuses) {
  Source s;
  const std::string launcher = FakeLauncher();
  const std::string setup = kSetup;
  struct Row {
    const char* what;
    std::string payload;
    const char* problem;
  } rows[] = {
      {"traversal name",
       tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = setup},
                          {.name = "../evil.txt", .data = "x"}}),
       "name rule"},
      {"duplicate name, other case",
       tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = setup},
                          {.name = "A.txt", .data = "1"}, {.name = "a.txt", .data = "2"}}),
       "unpacked before"},
      {"no setup program", tvtest::ZipStream({{.name = "readme.txt", .data = "r"}}), "not in the payload"},
      {"setup program not a program",
       tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = "text"}}), "not a Windows program"},
      {"descriptor names a folder",
       tvtest::ZipStream({{.name = ".launch", .data = "bin"}, {.name = "bin/setup.exe", .data = setup}}),
       "is a folder"},
      {"bad CRC",
       tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = setup, .crc = 1}}), "CRC"},
      {"ended by the end of the file",
       tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = setup}}, false), "cut short"},
      {"no payload", std::string(4000, 'x'), "no payload found"},
      // Each with the entry's name and the true reason, not the damage that
      // reading on would find.
      {"encrypted",
       tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = setup, .flags = 1}}),
       "Tessaro Vantel Installer.exe: the entry is encrypted"},
      {"data descriptor",
       tvtest::ZipStream({{.name = "x.zip", .crc = 0, .packedSize = 0, .size = 0, .flags = 8}}),
       "x.zip: the entry's CRC and sizes follow its data (data descriptor)"},
      {"bzip2", tvtest::ZipStream({{.name = "b.txt", .data = "b", .method = 12}}),
       "b.txt: compression method 12 "},
      {"LZMA", tvtest::ZipStream({{.name = "l.txt", .data = "l", .method = 14}}),
       "l.txt: compression method 14 "},
      {"zip64", tvtest::ZipStream({{.name = "z.bin", .data = "z", .packedSize = 0xFFFFFFFF, .size = 0xFFFFFFFF}}),
       "z.bin: zip64"},
      {"name not UTF-8",
       tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = setup},
                          {.name = "caf\x82.txt", .data = "c"}}),
       "caf\\x82.txt: the name is not valid UTF-8"},
      {"folder entry where a file was unpacked",
       tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = setup},
                          {.name = "d", .data = "1"}, {.name = "D/"}}),
       "D/: a file of the same name was unpacked before"},
      {"file where a folder entry was unpacked",
       tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = setup},
                          {.name = "d\\"}, {.name = "d", .data = "1"}}),
       "unpacked before"},
  };
  for (const Row& row : rows) {
    std::string err;
    EXPECT_EQ(VerifyCode(s, launcher + row.payload, &err), kTvpackRefused) << row.what << "\n" << err;
    EXPECT_NE(err.find(row.problem), std::string::npos) << row.what << "\n" << err;
  }
  // The same stream with a proper end passes.
  EXPECT_EQ(VerifyCode(s, launcher + tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = setup}})),
            kTvpackOk);
}

// A 7z archive whose first stream is not LZMA is refused as such: the scan
// does not go on into its bytes, where a stored ZIP would pass for the
// payload.
TEST(TvpackVerify, SevenZipArchiveNotStartingWithLzmaIsRefused) {
  Source s;
  const std::string inner = s.dir / "inner.zip";
  WriteBytes(inner, tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = kSetup}}));
  for (const char* coder : {"LZMA2", "Copy"}) {
    const std::string archive = s.dir / (std::string(coder) + ".7z");
    ASSERT_EQ(system(("cd '" + s.dir.path() + "' && 7zz a -bd -bso0 -m0=" + coder + " '" + archive +
                      "' inner.zip >/dev/null").c_str()), 0);
    std::string err;
    EXPECT_EQ(VerifyCode(s, FakeLauncher() + ReadBytes(archive), &err), kTvpackRefused) << coder;
    EXPECT_NE(err.find("a 7z archive whose first stream is not LZMA"), std::string::npos)
        << coder << "\n" << err;
  }
}

// --- sign ---

// A throwaway signing certificate and key, cert.pem and key.pem in `dir`.
void MakeSigningKey(const Scratch& dir) {
  ASSERT_EQ(system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=tvpack-test -keyout '" +
                    dir / "key.pem' -out '" + dir / "cert.pem' 2>/dev/null")
                       .c_str()),
            0);
}

TEST(TvpackSign, SignsAndTheSignedPackageVerifies) {
  Source s;
  ASSERT_EQ(s.Create(s.dir / "p.exe").code, kTvpackOk);
  const std::string unsignedBytes = ReadBytes(s.dir / "p.exe");
  MakeSigningKey(s.dir);
  const ToolRun run = Tvpack({"sign", s.dir / "p.exe", "--cert", s.dir / "cert.pem", "--key",
                              s.dir / "key.pem", "--description", "Test package"});
  ASSERT_EQ(run.code, kTvpackOk) << run.err << run.out;
  const std::string signedBytes = ReadBytes(s.dir / "p.exe");
  EXPECT_GT(signedBytes.size(), unsignedBytes.size());
  EXPECT_EQ(VerifyCode(s, signedBytes), kTvpackOk);
  EXPECT_EQ(Unpack(signedBytes), s.files);

  // A key that does not fit the certificate: osslsigncode fails and the
  // package stays as it was.
  ASSERT_EQ(system(("openssl genrsa -out '" + s.dir / "other.pem' 2048 2>/dev/null").c_str()), 0);
  const ToolRun bad = Tvpack({"sign", s.dir / "p.exe", "--cert", s.dir / "cert.pem", "--key", s.dir / "other.pem"});
  EXPECT_EQ(bad.code, kTvpackError) << bad.err;
  EXPECT_TRUE(ReadBytes(s.dir / "p.exe") == signedBytes);
  EXPECT_NE(access((s.dir / "p.exe.partial").c_str(), F_OK), 0);
}

// The closing check of create and sign: a package that does not verify once
// written is not kept, and both commands end with 1 (refused).
TEST(TvpackClosingCheck, AFailedCheckIsRefusedAndNothingIsKept) {
  Source s;
  // Fits a 60-character extraction folder, not a 200-character one.
  s.Add(std::string(100, 'n'), "x");
  ASSERT_EQ(s.Create(s.dir / "p.exe").code, kTvpackOk);
  MakeSigningKey(s.dir);
  // A launcher whose headers name a signature table behind its end: nothing
  // lies behind its image, so create takes it, but no package made of it
  // verifies (the table would have to end the file).
  std::string launcher = FakeLauncher();
  const size_t directory = SecurityDirectoryAt(launcher);
  SetLe32(launcher, directory, static_cast<uint32_t>(launcher.size() + 8));
  SetLe32(launcher, directory + 4, 8);
  WriteBytes(s.dir / "tabled.exe", launcher);
  const std::vector<std::string> create = {"create", s.folder, "-o", s.dir / "out.exe", "--launcher",
                                           s.dir / "tabled.exe"};
  struct Row {
    const char* what;
    std::vector<std::string> args;
  } rows[] = {
      {"create, verified while written", create},
      {"create, verified afterwards", {create.begin(), create.end()}},
      {"sign", {"sign", s.dir / "p.exe", "--cert", s.dir / "cert.pem", "--key", s.dir / "key.pem",
                "--max-folder", "200", "-o", s.dir / "out.exe"}},
  };
  rows[1].args.insert(rows[1].args.end(), {"--format", "7z"});
  for (const Row& row : rows) {
    const ToolRun run = Tvpack(row.args);
    EXPECT_EQ(run.code, kTvpackRefused) << row.what << ": " << run.err;
    EXPECT_NE(run.err.find("does not verify; nothing was kept"), std::string::npos) << row.what << ": " << run.err;
    EXPECT_NE(access((s.dir / "out.exe").c_str(), F_OK), 0) << row.what;
    EXPECT_NE(access((s.dir / "out.exe.partial").c_str(), F_OK), 0) << row.what;
  }
}

// What an attacker does to a signed package or a signed bare launcher, and
// the reason verify gives. Growing a payload into the table keeps the
// signature valid for the signing tool; the launcher refuses every one.
TEST(TvpackVerify, PayloadsOutsideTheSignedPartAreRefusedWithTheirReason) {
  Source s;
  ASSERT_EQ(s.Create(s.dir / "p.exe").code, kTvpackOk);
  WriteBytes(s.dir / "launcher-signed.exe", FakeLauncher());
  MakeSigningKey(s.dir);
  for (const char* name : {"p", "launcher-signed"}) {
    ASSERT_EQ(system(("osslsigncode sign -certs '" + s.dir / "cert.pem' -key '" + s.dir / "key.pem' -in '" +
                      s.dir / name + ".exe' -out '" + s.dir / name + "-s.exe' >/dev/null")
                         .c_str()),
              0);
  }
  const std::string signedPackage = ReadBytes(s.dir / "p-s.exe");
  const std::string signedLauncher = ReadBytes(s.dir / "launcher-signed-s.exe");
  const std::string other = ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = kSetup}});
  const std::string grown = GrowLastEntry(signedLauncher, other);
  WriteBytes(s.dir / "grown.exe", grown);
  EXPECT_EQ(system(("osslsigncode verify -CAfile '" + s.dir / "cert.pem' -in '" + s.dir /
                    "grown.exe' >/dev/null 2>&1").c_str()), 0);
  struct {
    const char* what;
    std::string bytes;
    const char* reason;
  } rows[] = {
      {"grown into a signed launcher's table", grown, "data hidden in the signature table"},
      {"grown into a signed package's table", GrowLastEntry(signedPackage, other),
       "data hidden in the signature table"},
      {"appended behind the table", signedPackage + other, "bytes behind the signature table"},
      {"inside the signature itself", WithTable(FakeLauncher(), DerSequence(other)),
       "payload outside the signed part"},
  };
  for (const auto& row : rows) {
    std::string err;
    EXPECT_EQ(VerifyCode(s, row.bytes, &err), kTvpackRefused) << row.what;
    EXPECT_NE(err.find(row.reason), std::string::npos) << row.what << "\n" << err;
  }
  EXPECT_EQ(VerifyCode(s, signedPackage), kTvpackOk);
}

// verify --json: one object a machine can read, with the exit code of the
// text answer.
TEST(TvpackVerify, JsonAnswerNamesVerdictPayloadAndSetupProgram) {
  const char* const keys = "verdict,payload,setup,files,folders,bytes,signed";
  for (const char* format : {"zip", "7z"}) {
    Source s;
    WriteBytes(s.dir / "v.exe", GoodPackage(format, s));
    const ToolRun run = Tvpack({"verify", s.dir / "v.exe", "--json"});
    EXPECT_EQ(run.code, kTvpackOk) << run.err;
    uint64_t bytes = 0;
    for (const auto& [name, data] : s.files) bytes += data.size();
    const std::string expected = std::string("accepted|") + (format == std::string("7z") ? "7z" : "zip") +
                                 "|Tessaro Vantel Installer.exe|4|1|" + std::to_string(bytes) + "|False";
    EXPECT_EQ(JsonFields(run.out, keys), expected) << format << "\n" << run.out;
  }
  Source s;
  WriteBytes(s.dir / "v.exe", FakeLauncher() + std::string(100, 'x'));
  const ToolRun refused = Tvpack({"verify", s.dir / "v.exe", "--json"});
  EXPECT_EQ(refused.code, kTvpackRefused);
  EXPECT_EQ(JsonFields(refused.out, "verdict,payload").substr(0, 13), "refused|None") << refused.out;
  EXPECT_NE(JsonFields(refused.out, "reason").find("no payload"), std::string::npos) << refused.out;
}

// A key in a token, through the PKCS #11 module (a SoftHSM2 token made here):
// the package is signed and the signing tool accepts the signature; the PIN
// never goes on a command line.
TEST(TvpackSign, SignsWithAKeyInAToken) {
  const char* const module = "/usr/lib/softhsm/libsofthsm2.so";
  if (access(module, R_OK) != 0 || system("command -v softhsm2-util >/dev/null") != 0)
    GTEST_SKIP() << "SoftHSM2 is not installed";
  Source s;
  ASSERT_EQ(s.Create(s.dir / "p.exe").code, kTvpackOk);
  MakeSigningKey(s.dir);
  mkdir((s.dir / "tokens").c_str(), 0700);
  WriteBytes(s.dir / "softhsm2.conf", "directories.tokendir = " + s.dir / "tokens" +
                                          "\nobjectstore.backend = file\nlog.level = ERROR\n");
  setenv("SOFTHSM2_CONF", (s.dir / "softhsm2.conf").c_str(), 1);
  WriteBytes(s.dir / "pin.txt", "4711");
  ASSERT_EQ(system(("softhsm2-util --init-token --free --label tvtoken --pin 4711 --so-pin 1234 >/dev/null && "
                    "openssl pkcs8 -topk8 -nocrypt -in '" + s.dir / "key.pem' -out '" + s.dir / "key8.pem' && "
                    "softhsm2-util --import '" + s.dir / "key8.pem' --token tvtoken --label signer --id 01 "
                    "--pin 4711 >/dev/null").c_str()),
            0);
  const std::string key = "pkcs11:token=tvtoken;object=signer;type=private";
  const std::vector<std::string> token = {"--cert", s.dir / "cert.pem", "--pkcs11-module", module};
  struct {
    const char* what;
    std::vector<std::string> extra;
    int code;
  } rows[] = {
      {"PIN in the key's address", {"--key", key + ";pin-value=4711"}, kTvpackError},
      {"PIN as a password", {"--key", key, "--password", "4711"}, kTvpackError},
      {"not a pkcs11: key", {"--key", s.dir / "key.pem", "--pin-file", s.dir / "pin.txt"}, kTvpackError},
      {"signed", {"--key", key, "--pin-file", s.dir / "pin.txt"}, kTvpackOk},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"sign", s.dir / "p.exe"};
    args.insert(args.end(), token.begin(), token.end());
    args.insert(args.end(), row.extra.begin(), row.extra.end());
    const ToolRun run = Tvpack(args);
    EXPECT_EQ(run.code, row.code) << row.what << "\n" << run.err;
  }
  unsetenv("SOFTHSM2_CONF");
  EXPECT_EQ(system(("osslsigncode verify -CAfile '" + s.dir / "cert.pem' -in '" + s.dir /
                    "p.exe' >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(VerifyCode(s, ReadBytes(s.dir / "p.exe")), kTvpackOk);
}

}  // namespace
