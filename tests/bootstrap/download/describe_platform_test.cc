// DescribePlatform under the Windows versions Wine can pretend to be: a probe
// program, copied under a name of its own per version, runs with that
// version set for its name.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "download_test_support.h"
#include "log_reader.h"
#include "test_support.h"
#include "tv_download_test_paths.h"

namespace {

std::map<std::string, std::string> RunProbe(const std::wstring& version, const std::wstring& mode = L"") {
  tvtest::TempDir dir(L"describe-" + version);
  wchar_t name[64];
  wsprintfW(name, L"tvprobe-%s-%lu.exe", version.c_str(), GetCurrentProcessId());
  std::wstring exe = dir / name;
  tvtest::CopyFileTo(tvtest::WinPath(TV_PROBE_EXE), exe);

  std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + name;
  HKEY h = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(h, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                 static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(h);

  std::wstring out = dir / L"out.txt";
  tvtest::ProcessResult r = tvtest::RunProcess(exe, L"\"" + exe + L"\" \"" + out + L"\" " + mode, {}, dir.path());
  RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  EXPECT_TRUE(r.started) << tvtest::Describe(r);
  EXPECT_EQ(r.exitCode, 0u);

  std::map<std::string, std::string> values;
  std::istringstream lines(tvtest::ReadFileBytes(out));
  for (std::string line; std::getline(lines, line);) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

struct VersionCase {
  const wchar_t* wineVersion;
  const char* element;  // "" when not recognised
};

TEST(DescribePlatform, VersionPerProgram) {
  const VersionCase cases[] = {
      {L"win10", "windows10.0"}, {L"win81", "windows6.3"}, {L"win8", "windows6.2"},
      {L"win7", "windows6.1"},   {L"vista", "windows6.0"}, {L"win2003", "windows5.2"},
      {L"winxp", "windows5.1"},  {L"win2k", "windows5.0"}, {L"nt40", ""},
      // XP x64: a 5.2 workstation, recognised by its AMD64 processor (asked
      // only where the test program itself is 64-bit).
      {L"winxp64", sizeof(void*) == 8 ? "windows5.2" : nullptr},
  };
  for (const VersionCase& c : cases) {
    if (c.element == nullptr) continue;
    SCOPED_TRACE(tvtest::Narrow(c.wineVersion));
    auto v = RunProbe(c.wineVersion);
    EXPECT_EQ(v["platform"], "1");
    EXPECT_EQ(v["architecture"], "1");
    if (c.element[0] == '\0') {
      EXPECT_EQ(v["version"], "0.0");
      EXPECT_EQ(v["built"], "0");
      EXPECT_EQ(v["installer"], "");
      continue;
    }
    std::string element = c.element;
    EXPECT_EQ("windows" + v["version"], element);
    EXPECT_EQ(v["built"], "1");
    EXPECT_EQ(v["installer"], "https://127.0.0.1/vantel/3/tov/" + element + "/x86/installer");
    EXPECT_EQ(v["signature"], "https://127.0.0.1/vantel/3/tov/" + element + "/x86/installer.p7");
  }
}

TEST(DescribePlatform, UnrecognisedSystemFetchesNothing) {
  // The worker ends with 11 before any transfer, and says why.
  tvtest::TovikLogTail log;
  auto v = RunProbe(L"nt40", L"worker");
  EXPECT_EQ(v["built"], "0");
  EXPECT_EQ(v["worker"], "11");
  EXPECT_EQ(v["final"], "FAILED 11");
  EXPECT_EQ(log.Lines(),
            std::vector<std::string>{"Build download addresses failed: platform not described or address unusable"});
}

}  // namespace
