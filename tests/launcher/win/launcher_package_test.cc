// End-to-end tests of the launcher under Wine: packages are the launcher with
// a payload appended, run as a user would, with their own temporary folder.
// The setup program is the recorder test program.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "signature_table.h"
#include "test_support.h"
#include "zip_builder.h"

namespace {

using tvtest::ZipEntry;

constexpr wchar_t kDefaultSetup[] = L"Tessaro Vantel Installer.exe";

std::wstring Packages() { return tvtest::WinPath(TV_LAUNCHER_PACKAGES); }
std::string Launcher() { return tvtest::ReadFileBytes(tvtest::LauncherExe()); }
std::string Recorder() { return tvtest::ReadFileBytes(tvtest::RecorderExe()); }

// One run of a package: its exit code, what the setup program recorded, and
// what the run left in its temporary folder.
struct PackageRun {
  tvtest::ProcessResult result;
  tvtest::Record record;
  std::vector<std::wstring> tempLeft;
  std::wstring cwd;
};

class Package {
 public:
  explicit Package(const std::string& payload)
      : dir_(L"package"), path_(dir_ / L"Setup Package.exe") {
    tvtest::WriteFileBytes(path_, Launcher() + payload);
    Prepare();
  }
  // A package made elsewhere, copied into this run's folder.
  explicit Package(const std::wstring& prebuilt, int) : dir_(L"package"), path_(dir_ / L"p.exe") {
    tvtest::CopyFileTo(prebuilt, path_);
    Prepare();
  }

  const std::wstring& path() const { return path_; }
  const std::wstring& temp() const { return temp_; }
  // The folder that holds the package, its temporary folder and the record.
  const std::wstring& dir() const { return dir_.path(); }
  // The token the next runs get.
  void RunWith(tvtest::ChildToken token) { token_ = token; }
  // Sets an environment variable for the next runs.
  void SetEnv(const std::wstring& name, const std::wstring& value) { env_.push_back({name, value}); }
  // Moves the run's temporary folder to `folder`, which must exist.
  void UseTemp(const std::wstring& folder) { temp_ = folder; }
  // Makes the package `bytes`, whole.
  void SetBytes(const std::string& bytes) { tvtest::WriteFileBytes(path_, bytes); }
  // Gives the package another payload.
  void SetPayload(const std::string& payload) {
    tvtest::WriteFileBytes(path_, Launcher() + payload);
  }

  // Moves the run's temporary folder to a new one whose path is `length`
  // characters long.
  void UseTempOfLength(size_t length) {
    std::wstring base = dir_ / L"temp\\";
    temp_ = base + std::wstring(length - base.size(), L't');
    CreateDirectoryW(temp_.c_str(), nullptr);
  }

  // Runs the package with `commandLine` (empty: the quoted package path and
  // `arguments`), the setup program told to end with `exitCode`.
  PackageRun Start(const std::wstring& arguments, DWORD exitCode = 0,
            const std::wstring& commandLine = L"") {
    PackageRun run;
    const std::wstring record = dir_ / L"record.txt";
    DeleteFileW(record.c_str());
    tvtest::EnvList env = tvtest::TempEnv(temp());
    for (auto& e : tvtest::RecorderEnv(record, exitCode)) env.push_back(e);
    for (auto& e : env_) env.push_back(e);
    const std::wstring line = commandLine.empty() ? L"\"" + path_ + L"\"" + arguments : commandLine;
    run.result = tvtest::RunProcess(path_, line, env, dir_ / L"cwd", 120000, token_);
    run.record = tvtest::ReadRecord(record);
    std::sort(run.record.siblings.begin(), run.record.siblings.end());
    run.tempLeft = tvtest::ListDir(temp());
    run.cwd = dir_ / L"cwd";
    return run;
  }

 private:
  void Prepare() {
    temp_ = dir_ / L"temp";
    CreateDirectoryW(temp_.c_str(), nullptr);
    CreateDirectoryW((dir_ / L"cwd").c_str(), nullptr);
  }

  tvtest::TempDir dir_;
  std::wstring path_;
  std::wstring temp_;
  tvtest::ChildToken token_ = tvtest::ChildToken::kOwn;
  tvtest::EnvList env_;
};

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

// A failed run removes what it unpacked: nothing stays in the temporary
// folder, nothing was written outside it.
void ExpectFailedRunLeftNothing(const PackageRun& run, const char* what) {
  EXPECT_EQ(run.result.exitCode, 5u) << what;
  EXPECT_FALSE(run.record.present) << what << ": the setup program ran";
  EXPECT_TRUE(run.tempLeft.empty()) << what;
}

std::string Payload(const wchar_t* name) {
  return tvtest::ReadFileBytes(Packages() + L"\\" + name);
}

TEST(LauncherPackage, StoredPayloadRunsDefaultSetupProgramAndCleansUp) {
  Package package(Payload(L"stored.zip"));
  for (DWORD code : {0u, 7u, 70000u}) {
    PackageRun run = package.Start(L" a \"b c\"", code);
    ASSERT_TRUE(run.result.started);
    EXPECT_EQ(run.result.exitCode, code);
    ASSERT_TRUE(run.record.present);
    EXPECT_EQ(run.record.self.substr(run.record.self.rfind(L'\\') + 1), kDefaultSetup);
    // The tail keeps the space that follows the closing quote.
    EXPECT_EQ(run.record.commandLine, L"\"" + run.record.self + L"\"  a \"b c\"");
    EXPECT_EQ(run.record.currentDir, run.cwd);
    // The setup program sees what was unpacked, the empty folder included.
    EXPECT_EQ(run.record.siblings, (std::vector<std::wstring>{kDefaultSetup, L"data", L"emptydir"}));
    // The extraction folder lay in the temporary folder and is gone.
    EXPECT_EQ(_wcsicmp(FolderOf(FolderOf(run.record.self)).c_str(), package.temp().c_str()), 0);
    EXPECT_TRUE(run.tempLeft.empty());
  }
}

TEST(LauncherPackage, ExtractionFolderIsOpenToTheTokensKindOnly) {
  using tvtest::ChildToken;
  for (const ChildToken token : {ChildToken::kOwn, ChildToken::kLimited}) {
    for (const wchar_t* payload : {L"stored.zip", L"deflated.zip"}) {
      const std::string what = tvtest::Narrow(payload) + (token == ChildToken::kOwn ? ", own token" : ", limited token");
      Package package(Payload(payload));
      package.RunWith(token);
      PackageRun run = package.Start(L"", 0);
      ASSERT_TRUE(run.record.present) << what;
      EXPECT_EQ(run.result.exitCode, 0u) << what;
      if (token == ChildToken::kLimited) EXPECT_FALSE(run.record.tokenElevated) << what;
      // The setup program read the descriptors while it ran: the extraction
      // folder's, and for bin\setup.exe that of the folder unpacked into it.
      const std::wstring own = FolderOf(run.record.self);
      const bool nested = own.size() > 4 && own.compare(own.size() - 4, 4, L"\\bin") == 0;
      const std::wstring got = run.record.SecurityOf(own);
      if (!nested) {
        EXPECT_EQ(tvtest::Narrow(got), tvtest::Narrow(tvtest::LauncherFolderSecurityAsShown(run.record)))
            << what;
      } else if (tvtest::FoldersKeepDescriptors()) {
        // Below the extraction folder everything inherits its entries (flag
        // 0x10 added), and nothing else.
        const std::wstring expected = tvtest::LauncherFolderSecurity(run.record);
        std::wstring inherited = expected.substr(expected.find(L'|', 2) + 1);
        for (size_t at = 0; (at = inherited.find(L"A,3,", at)) != std::wstring::npos; at += 4)
          inherited.replace(at, 4, L"A,13,");
        EXPECT_EQ(tvtest::Narrow(got.substr(0, 2)), "0|") << what;
        EXPECT_EQ(tvtest::Narrow(got.substr(got.find(L'|', 2) + 1)), tvtest::Narrow(inherited)) << what;
      }
      // The clean-up removes the folder, descriptor and all.
      EXPECT_TRUE(run.tempLeft.empty()) << what;
    }
  }
}

TEST(LauncherPackage, CommandLineTailReachesTheSetupProgram) {
  Package package(Payload(L"stored.zip"));
  struct Case {
    std::wstring commandLine;  // empty: the quoted path alone
    std::wstring tail;
  } cases[] = {
      {L"", L""},                                    // no arguments: nothing after the path
      {L"Setup.exe  /S  x", L" /S  x"},              // unquoted name, two spaces
      {L"-silent \"q r\"", L"-silent \"q r\""},      // no program name: the whole line
  };
  for (const auto& c : cases) {
    PackageRun run = c.commandLine.empty() ? package.Start(L"", 0) : package.Start(L"", 0, c.commandLine);
    ASSERT_TRUE(run.record.present) << tvtest::Narrow(c.commandLine);
    const std::wstring quoted = L"\"" + run.record.self + L"\"";
    EXPECT_EQ(run.record.commandLine, c.tail.empty() ? quoted : quoted + L" " + c.tail)
        << tvtest::Narrow(c.commandLine);
    EXPECT_TRUE(run.tempLeft.empty());
  }
}

TEST(LauncherPackage, DeflatedPayloadRunsProgramNamedByDescriptor) {
  Package package(Payload(L"deflated.zip"));
  PackageRun run = package.Start(L" --x", 3);
  EXPECT_EQ(run.result.exitCode, 3u);
  ASSERT_TRUE(run.record.present);
  EXPECT_EQ(run.record.self.substr(run.record.self.size() - 14), L"\\bin\\setup.exe");
  EXPECT_EQ(run.record.siblings, (std::vector<std::wstring>{L"lib", L"setup.exe"}));
  // The descriptor's "/" reaches the shell as written.
  EXPECT_EQ(run.record.commandLine, L"\"" + FolderOf(FolderOf(run.record.self)) + L"\\bin/setup.exe\"  --x");
  EXPECT_TRUE(run.tempLeft.empty());
}

TEST(LauncherPackage, SignedPackageRunsLikeUnsigned) {
  Package unsignedPackage(Packages() + L"\\unsigned.exe", 0);
  Package signedPackage(Packages() + L"\\signed.exe", 0);
  ASSERT_GT(tvtest::ReadFileBytes(signedPackage.path()).size(),
            tvtest::ReadFileBytes(unsignedPackage.path()).size());
  PackageRun a = unsignedPackage.Start(L" 1 2", 70000);
  PackageRun b = signedPackage.Start(L" 1 2", 70000);
  EXPECT_EQ(b.result.exitCode, 70000u);
  EXPECT_EQ(a.result.exitCode, b.result.exitCode);
  ASSERT_TRUE(b.record.present);
  EXPECT_EQ(a.record.siblings, b.record.siblings);
  EXPECT_EQ(b.record.commandLine, L"\"" + FolderOf(FolderOf(b.record.self)) + L"\\bin/setup.exe\"  1 2");
  EXPECT_TRUE(b.tempLeft.empty());
}

// The launcher reads only what a signature covers: signed packages run (also
// nested-signed, also 7z); a payload in or behind the signature table never
// does, and is refused before anything is written.
TEST(LauncherPackage, SignedPackagesRunOnlyWhatTheSignatureCovers) {
  const auto prebuilt = [](const wchar_t* name) {
    return tvtest::ReadFileBytes(Packages() + L"\\" + name);
  };
  const std::string signedPackage = prebuilt(L"signed.exe");
  const std::string signedLauncher = prebuilt(L"signed-launcher.exe");
  const std::string other = tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = Recorder()}});
  struct Case {
    const char* what;
    std::string bytes;
    DWORD exitCode;
  } cases[] = {
      {"nested signatures", prebuilt(L"nested.exe"), 7},
      {"7z, signed", prebuilt(L"signed-7z.exe"), 7},
      {"payload grown into a signed launcher's table", tvtest::GrowLastEntry(signedLauncher, other), 5},
      {"payload grown into a signed package's table", tvtest::GrowLastEntry(signedPackage, other), 5},
      {"payload appended behind the table", signedPackage + other, 5},
      {"signed launcher without a payload", signedLauncher, 5},
  };
  for (const auto& c : cases) {
    Package package(std::string{});
    package.SetBytes(c.bytes);
    PackageRun run = package.Start(L"", 7);
    EXPECT_EQ(run.result.exitCode, c.exitCode) << c.what;
    EXPECT_EQ(run.record.present, c.exitCode == 7) << c.what;
    EXPECT_TRUE(run.tempLeft.empty()) << c.what;
  }
}

std::string WithSetup(std::vector<ZipEntry> entries) {
  entries.push_back({.name = "setup.exe", .data = Recorder()});
  entries.push_back({.name = "sub/setup.exe", .data = Recorder(), .deflate = true});
  return tvtest::ZipStream(entries);
}

TEST(LauncherPackage, DescriptorsThatNameTheSetupProgram) {
  for (const char* descriptor : {"setup.exe", "setup.exe\n", "setup.exe\r\nother\r\n",
                                 "sub/setup.exe\rx", "sub\\setup.exe"}) {
    Package package(WithSetup({{.name = ".launch", .data = descriptor}}));
    PackageRun run = package.Start(L"", 9);
    EXPECT_EQ(run.result.exitCode, 9u) << descriptor;
    ASSERT_TRUE(run.record.present) << descriptor;
    const bool sub = std::string(descriptor).compare(0, 4, "sub") == 0;
    EXPECT_EQ(run.record.self.substr(run.record.self.size() - (sub ? 14 : 10)),
              sub ? L"\\sub\\setup.exe" : L"\\setup.exe")
        << descriptor;
    EXPECT_TRUE(run.tempLeft.empty()) << descriptor;
  }
}

TEST(LauncherPackage, DescriptorsThatFail) {
  const std::string longName(255, 'n');
  struct Case {
    const char* what;
    std::string descriptor;
  } cases[] = {
      {"byte-order mark", "\xEF\xBB\xBFsetup.exe"},
      {"empty first line", "\r\nsetup.exe"},
      {"empty file", ""},
      {"names a folder", "sub"},
      {"names nothing", "missing.exe"},
      {"260 bytes without a line break", std::string(260, 'x')},
      {"joined path too long", longName + "\r\n"},
  };
  for (const auto& c : cases) {
    Package package(WithSetup({{.name = ".launch", .data = c.descriptor}}));
    PackageRun run = package.Start(L"", 0);
    ExpectFailedRunLeftNothing(run, c.what);
  }
}

// Names that leave the extraction folder, or that name a device, end the run
// before anything is started; a program they point to never runs.
TEST(LauncherPackage, DescriptorsOutsideTheFolderFail) {
  struct Case {
    const char* what;
    std::string descriptor;  // "<dir>" stands for the package's folder
  } cases[] = {
      {"parent folders", "..\\..\\x.exe"},
      {"parent folders, forward slashes", "sub/../../../x.exe"},
      {"absolute path", "<dir>\\x.exe"},
      {"leading backslash", "\\x.exe"},
      {"device", "nul"},
  };
  for (const auto& c : cases) {
    // x.exe lies both in the package's folder (two levels above the
    // extraction folder) and in the payload itself.
    Package package("");
    tvtest::WriteFileBytes(package.dir() + L"\\x.exe", Recorder());
    std::string descriptor = c.descriptor;
    if (descriptor.compare(0, 5, "<dir>") == 0)
      descriptor = tvtest::Narrow(package.dir()) + descriptor.substr(5);
    package.SetPayload(WithSetup({{.name = ".launch", .data = descriptor},
                                  {.name = "x.exe", .data = Recorder()}}));
    PackageRun run = package.Start(L"", 0);
    ExpectFailedRunLeftNothing(run, c.what);
  }
}

// A damaged entry stream in the middle of the payload is a failure: the setup
// program, unpacked first, does not run with the later files missing.
TEST(LauncherPackage, DamagedStreamsFailInsteadOfDroppingTheRest) {
  const std::vector<ZipEntry> entries = {
      {.name = "Tessaro Vantel Installer.exe", .data = Recorder()},
      {.name = "a.txt", .data = std::string(20000, 'a'), .deflate = true},
      {.name = "b.txt", .data = "b"},
      {.name = "c.txt", .data = "c"},
  };
  const size_t b = tvtest::LocalEntry(entries[0]).size() + tvtest::LocalEntry(entries[1]).size();
  std::string badSignature = tvtest::ZipStream(entries);
  badSignature[b] = 'X';
  std::vector<ZipEntry> enlarged = entries;
  enlarged[1].packedSize = uint32_t(tvtest::RawDeflate(entries[1].data).size() + 12);
  struct Case {
    const char* what;
    std::string payload;
  } cases[] = {
      {"corrupted signature", badSignature},
      {"enlarged compressed size", tvtest::ZipStream(enlarged)},
      {"30 bytes of junk after the last entry", tvtest::ZipStream(entries, false) + std::string(30, 'j')},
  };
  for (const auto& c : cases) {
    Package package(c.payload);
    PackageRun run = package.Start(L"", 0);
    ExpectFailedRunLeftNothing(run, c.what);
  }
  // The same entries, ended by an end record alone, run.
  Package whole(tvtest::ZipStream(entries, false) + std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_EQ(whole.Start(L"", 6).result.exitCode, 6u);
}

// An entry that names a device would send its bytes to the device: it ends
// the run before the setup program, unpacked first, can start.
TEST(LauncherPackage, DeviceNamesFail) {
  for (const char* name : {"nul", "NUL.txt", "con", "Aux.dll", "prn. ", "COM1", "lpt9.log",
                           "CONOUT$", "lib/nul.txt", "CON/x.txt", "lib\\com1 .dat"}) {
    Package package(tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = Recorder()},
                                       {.name = name, .data = "lost"}}));
    PackageRun run = package.Start(L"", 0);
    ExpectFailedRunLeftNothing(run, name);
  }
}

TEST(LauncherPackage, MissingDefaultSetupProgramFails) {
  Package package(tvtest::ZipStream({{.name = "readme.txt", .data = "r"}}));
  PackageRun run = package.Start(L"", 0);
  ExpectFailedRunLeftNothing(run, "no setup program");
}

// With a long temporary folder the default setup program's path does not fit
// in 260 characters: that fails rather than opening something else.
TEST(LauncherPackage, SetupPathThatDoesNotFitFails) {
  Package package(tvtest::ZipStream({{.name = "a.txt", .data = "1"}}));
  package.UseTempOfLength(225);
  PackageRun run = package.Start(L"", 0);
  ExpectFailedRunLeftNothing(run, "default name too long");
}

// A .launch that another process holds open without sharing cannot be opened,
// so the default name is used.
TEST(LauncherPackage, LockedDescriptorFallsBackToDefaultName) {
  // A large entry behind the descriptor gives the watcher time to take it.
  Package package(tvtest::ZipStream({
      {.name = ".launch", .data = "other.exe"},
      {.name = "other.exe", .data = Recorder()},
      {.name = "zeros.bin", .data = std::string(96 << 20, '\0'), .deflate = true},
      {.name = "Tessaro Vantel Installer.exe", .data = Recorder()},
  }));
  std::atomic<bool> done{false};
  std::atomic<bool> locked{false};
  const std::wstring temp = package.temp();
  std::thread watcher([&] {
    HANDLE held = INVALID_HANDLE_VALUE;
    while (!done && held == INVALID_HANDLE_VALUE) {
      for (const auto& name : tvtest::ListDir(temp)) {
        const std::wstring descriptor = temp + L"\\" + name + L"\\.launch";
        held = CreateFileW(descriptor.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held != INVALID_HANDLE_VALUE) break;
      }
    }
    if (held != INVALID_HANDLE_VALUE) {
      locked = true;
      while (!done) Sleep(5);
      CloseHandle(held);
    }
  });
  PackageRun run = package.Start(L"", 4);
  done = true;
  watcher.join();
  ASSERT_TRUE(locked) << "the descriptor was never taken";
  EXPECT_EQ(run.result.exitCode, 4u);
  ASSERT_TRUE(run.record.present);
  EXPECT_EQ(run.record.self.substr(run.record.self.rfind(L'\\') + 1), kDefaultSetup);
}

TEST(LauncherPackage, BadPayloadsFailAndLeaveNothing) {
  const std::string text(200000, 'q');
  struct Case {
    const char* what;
    std::string payload;
  } cases[] = {
      {"bad CRC",
       tvtest::ZipStream({{.name = "a.txt", .data = "1"}, {.name = "b.txt", .data = "2", .crc = 7}})},
      {"deflate stream shorter than its size",
       tvtest::ZipStream({{.name = "a.txt", .data = text, .deflate = true,
                           .size = uint32_t(text.size() + 10)}})},
      {"ended by the end of the file", tvtest::ZipStream({{.name = "a.txt", .data = "1"}}, false)},
      {"duplicate name",
       tvtest::ZipStream({{.name = "a.txt", .data = "1"}, {.name = "a.txt", .data = "2"}})},
      {"empty name", tvtest::ZipStream({{.name = "", .data = "1"}})},
      {"parent folder", tvtest::ZipStream({{.name = "a.txt", .data = "1"}, {.name = "../evil.txt"}})},
      {"parent folder, backslashes", tvtest::ZipStream({{.name = "d\\..\\..\\evil.txt"}})},
      {"drive letter", tvtest::ZipStream({{.name = "C:evil.txt"}})},
      {"stream", tvtest::ZipStream({{.name = "a.txt:evil"}})},
      {"leading separator", tvtest::ZipStream({{.name = "\\evil.txt"}})},
  };
  for (const auto& c : cases) {
    Package package(c.payload);
    PackageRun run = package.Start(L"", 0);
    ExpectFailedRunLeftNothing(run, c.what);
  }
}

// A process the setup program left (an updater, a crash reporter) holds a
// file of the folder for two seconds: the clean-up waits for it.
TEST(LauncherPackage, CleanUpWaitsForAFileHeldForAMoment) {
  Package package(tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = Recorder()}}));
  package.SetEnv(L"TV_HOLD_MS", L"2000");
  PackageRun run = package.Start(L"", 4);
  EXPECT_EQ(run.result.exitCode, 4u);
  EXPECT_TRUE(run.tempLeft.empty());
}

// A temporary folder on a file system of 2 MiB (mounted by the ctest
// fixture SmallTemp; without the rights to mount, these cases skip).
std::wstring SmallTemp() { return tvtest::WinPath(TV_SMALL_TEMP); }

// A run that fills the disk removes what it wrote, on the relaunch path too,
// so the next, smaller install still has room.
TEST(LauncherPackage, AFullDiskLeavesNothingBehind) {
  if (!tvtest::Exists(SmallTemp() + L"\\.mounted")) GTEST_SKIP() << "no small file system here";
  std::string noise(6 << 20, '\0');
  uint32_t x = 12345;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  const std::string setup = tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = Recorder()}});
  const std::string bigZip =
      tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = Recorder()},
                         {.name = "noise.bin", .data = noise}});
  // The same noise in files of 4 KiB: small files are written by the file
  // helper, whose failures end the run as well.
  std::vector<tvtest::ZipEntry> small = {{.name = "Tessaro Vantel Installer.exe", .data = Recorder()}};
  for (size_t at = 0; at < noise.size(); at += 4096)
    small.push_back({.name = "small/part" + std::to_string(at / 4096), .data = noise.substr(at, 4096)});
  struct Case {
    const char* what;
    std::string bytes;
    bool besideLibrary;
    DWORD exitCode;
  } cases[] = {
      {"ZIP-style, 6 MB", Launcher() + bigZip, false, 5},
      {"7z, 6 MB", tvtest::ReadFileBytes(Packages() + L"\\noise-7z.exe"), false, 5},
      {"ZIP-style, 1,536 files of 4 KiB", Launcher() + tvtest::ZipStream(small), false, 5},
      {"7z, 1,536 files of 4 KiB", tvtest::ReadFileBytes(Packages() + L"\\small-7z.exe"), false, 5},
      {"relaunch copy of 6 MB", Launcher() + bigZip, true, 5},
      {"the next, small package", Launcher() + setup, false, 3},
  };
  const std::wstring temp = SmallTemp() + L"\\temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  for (const auto& c : cases) {
    Package package(std::string{});
    package.SetBytes(c.bytes);
    package.UseTemp(temp);
    if (c.besideLibrary) tvtest::WriteFileBytes(package.dir() + L"\\helper.dll", "MZ");
    PackageRun run = package.Start(L"", 3);
    EXPECT_EQ(run.result.exitCode, c.exitCode) << c.what;
    EXPECT_TRUE(run.tempLeft.empty()) << c.what;
  }
}

TEST(LauncherPackage, NoPayloadFails) {
  const std::string zip = tvtest::ZipStream({{.name = "Tessaro Vantel Installer.exe", .data = Recorder()}});
  struct Case {
    const char* what;
    std::string payload;
  } cases[] = {
      {"nothing appended", ""},
      {"no signature", std::string(5000, 'x')},
      {"signature in the last 32 bytes", std::string(100, 'x') + "PK\x03\x04" + std::string(28, 'x')},
  };
  for (const auto& c : cases) {
    Package package(c.payload);
    PackageRun run = package.Start(L"", 0);
    EXPECT_EQ(run.result.exitCode, 5u) << c.what;
    EXPECT_FALSE(run.record.present) << c.what;
    // The payload is looked for before anything is written.
    EXPECT_TRUE(run.tempLeft.empty()) << c.what;
  }
  // Junk between the image and the payload is passed over.
  Package padded(std::string(70000, 'P') + zip);
  EXPECT_EQ(padded.Start(L"", 6).result.exitCode, 6u);
}

}  // namespace

int main(int argc, char** argv) {
  // Keep the current folder in an empty scratch folder (see WINE.md: the
  // shell's recursive delete can empty the caller's current folder).
  static tvtest::TempDir scratch(L"launcher-cwd");
  SetCurrentDirectoryW(scratch.path().c_str());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
