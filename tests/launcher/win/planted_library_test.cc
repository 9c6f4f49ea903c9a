// End-to-end under Wine: the start-up hardening against libraries planted
// beside a program (dll_probe) and beside a 7z package.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seven_zip_package.h"

using namespace tvtest;

namespace {

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
