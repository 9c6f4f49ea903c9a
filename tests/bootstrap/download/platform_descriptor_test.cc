// The version ladder over a simulated system, and the address pattern.
#include "platform_descriptor.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tovik::PlatformDescriptor;

// Answers the ladder's questions the way the platform's verifier would for
// a system of the given version, product type, suites and processor.
struct FakeSystem final : tovik::VersionVerifier {
  int major = 0, minor = 0, build = 0;
  bool server = false, homeServer = false, amd64 = false;

  bool AtLeast(int32_t m, int32_t n) override { return major > m || (major == m && minor >= n); }
  bool Exactly(int32_t m, int32_t n) override { return major == m && minor == n; }
  bool IsServer() override { return server; }
  bool HasHomeServerSuite() override { return homeServer; }
  bool IsNativeAmd64() override { return amd64; }
};

struct LadderRow {
  const char* name;
  int major, minor, build;
  bool server, homeServer, amd64;
  const char* element;  // "" when not recognised
};

std::string Element(const PlatformDescriptor& d) {
  if (d.majorVersion == 0) return "";
  return std::string(tovik::PlatformWord(d.platform)) + std::to_string(d.majorVersion) + "." +
         std::to_string(d.minorVersion);
}

TEST(VersionLadder, EachRowInOrder) {
  const LadderRow rows[] = {
      {"Windows 11 (10.0, higher build)", 10, 0, 22631, false, false, true, "windows10.0"},
      {"Windows 10", 10, 0, 19045, false, false, false, "windows10.0"},
      {"a later major version", 11, 2, 1, false, false, false, "windows10.0"},
      {"Windows 8.1", 6, 3, 9600, false, false, false, "windows6.3"},
      {"a version between 6.3 and 10.0", 6, 4, 1, true, false, false, "windows6.3"},
      {"Windows 8", 6, 2, 9200, false, false, false, "windows6.2"},
      {"Server 2012", 6, 2, 9200, true, false, false, "windows6.2"},
      {"Windows 7", 6, 1, 7601, false, false, false, "windows6.1"},
      {"Server 2008 R2", 6, 1, 7601, true, false, true, "windows6.1"},
      {"Vista", 6, 0, 6002, false, false, false, "windows6.0"},
      {"5.2 home server", 5, 2, 3790, false, true, false, "windows5.2"},
      {"5.2 workstation on AMD64", 5, 2, 3790, false, false, true, "windows5.2"},
      {"5.2 server", 5, 2, 3790, true, false, false, "windows5.2"},
      {"5.2 workstation, neither", 5, 2, 3790, false, false, false, ""},
      {"XP", 5, 1, 2600, false, false, false, "windows5.1"},
      {"2000", 5, 0, 2195, false, false, false, "windows5.0"},
      {"NT 4.0", 4, 0, 1381, false, false, false, ""},
  };
  for (const LadderRow& row : rows) {
    FakeSystem system;
    system.major = row.major;
    system.minor = row.minor;
    system.build = row.build;
    system.server = row.server;
    system.homeServer = row.homeServer;
    system.amd64 = row.amd64;
    PlatformDescriptor d;
    d.majorVersion = 99;  // the ladder starts from 0.0 itself
    d.minorVersion = 99;
    tovik::ClassifyWindows(system, &d);
    EXPECT_EQ(Element(d), row.element) << row.name;
    EXPECT_EQ(d.platform, tovik::kPlatformWindows) << row.name;
    EXPECT_EQ(d.architecture, tovik::kArchitectureX86) << row.name;  // also on AMD64
    if (row.element[0] == '\0') EXPECT_EQ(d.minorVersion, 0) << row.name;
  }
}

TEST(Words, TablesAndUnknown) {
  EXPECT_STREQ(tovik::PlatformWord(1), "windows");
  EXPECT_STREQ(tovik::PlatformWord(2), "macos");
  EXPECT_STREQ(tovik::PlatformWord(0), "unknown");
  EXPECT_STREQ(tovik::PlatformWord(3), "unknown");
  EXPECT_STREQ(tovik::ArchitectureWord(1), "x86");
  EXPECT_STREQ(tovik::ArchitectureWord(2), "ppc");
  EXPECT_STREQ(tovik::ArchitectureWord(-1), "unknown");
}

TEST(DownloadAddresses, PatternForEachDescriptor) {
  struct Case {
    PlatformDescriptor d;
    const char* installer;
  } cases[] = {
      {{1, 10, 0, 1}, "https://dl.example/vantel/3/tov/windows10.0/x86/installer"},
      {{1, 6, 1, 1}, "https://dl.example/vantel/3/tov/windows6.1/x86/installer"},
      {{2, 10, 13, 2}, "https://dl.example/vantel/3/tov/macos10.13/ppc/installer"},
      {{7, 5, 0, 9}, "https://dl.example/vantel/3/tov/unknown5.0/unknown/installer"},
  };
  for (const Case& c : cases) {
    char installer[512];
    char signature[512];
    ASSERT_TRUE(tovik::FormatDownloadAddresses(c.d, "dl.example", installer, sizeof(installer), signature,
                                               sizeof(signature)));
    EXPECT_STREQ(installer, c.installer);
    EXPECT_EQ(std::string(signature), std::string(c.installer) + ".p7");
  }
}

TEST(DownloadAddresses, UnrecognisedWritesNeitherBuffer) {
  const PlatformDescriptor cases[] = {{0, 10, 0, 1}, {1, 10, 0, 0}, {1, 0, 0, 1}, {1, 0, 3, 1}};
  for (const PlatformDescriptor& d : cases) {
    char installer[512] = "untouched";
    char signature[512] = "untouched";
    EXPECT_FALSE(tovik::FormatDownloadAddresses(d, "dl.example", installer, sizeof(installer), signature,
                                                sizeof(signature)));
    EXPECT_STREQ(installer, "untouched");
    EXPECT_STREQ(signature, "untouched");
  }
}

TEST(DownloadAddresses, TooSmallBufferWritesNeither) {
  PlatformDescriptor d{1, 10, 0, 1};
  const std::string expected = "https://h/vantel/3/tov/windows10.0/x86/installer.p7";
  char installer[512] = "untouched";
  char signature[64] = "untouched";
  // Room for the installer address but not for the signature's terminator.
  EXPECT_FALSE(tovik::FormatDownloadAddresses(d, "h", installer, sizeof(installer), signature, expected.size()));
  EXPECT_STREQ(installer, "untouched");
  EXPECT_STREQ(signature, "untouched");
  EXPECT_TRUE(tovik::FormatDownloadAddresses(d, "h", installer, sizeof(installer), signature, expected.size() + 1));
  EXPECT_EQ(signature, expected);
}

}  // namespace
