// Parsing of the bootstrapper's ".launch" bytes.
#include "launch_file_parse.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

std::optional<std::string> Parse(const std::string& bytes) {
  std::vector<char> buffer(bytes.begin(), bytes.end());
  buffer.resize(tovik::kLaunchFileReadLimit);
  const char* relative = tovik::ParseLaunchFile(buffer.data(), bytes.size());
  if (relative == nullptr) return std::nullopt;
  EXPECT_GE(relative, buffer.data());
  EXPECT_LT(relative, buffer.data() + buffer.size());
  return std::string(relative);
}

TEST(LaunchFileParse, Table) {
  struct Case {
    std::string bytes;
    std::optional<std::string> relative;
  } cases[] = {
      {"Install app.bin\r\n\r\n", "app.bin"},
      {"Install app.bin", "app"},                   // the last four bytes are never text
      {"Install \r\n\r\n", ""},                     // exactly 12 bytes: the folder itself
      {"Install 1234", ""},
      {"Install 123", std::nullopt},                // 11 bytes: prefix cut
      {"install app.bin\r\n\r\n", std::nullopt},    // case-sensitive
      {"INSTALL app.bin\r\n\r\n", std::nullopt},
      {"Install  app.bin\r\n\r\n", " app.bin"},     // the second space belongs to the path
      {"Install\tapp.bin\r\n\r\n", std::nullopt},
      {" Install app.bin\r\n\r\n", std::nullopt},
      {"\xEF\xBB\xBFInstall app.bin\r\n\r\n", std::nullopt},
      {std::string("Install a\0b.bin\r\n\r\n", 19), "a"},  // ends at a zero byte
      {std::string("Inst\0ll app.bin\r\n\r\n", 19), std::nullopt},
      {"Install sub\\dir\\\xC3\xA4pp.bin....", "sub\\dir\\\xC3\xA4pp.bin"},
      {"Install \"quoted path\"    ", "\"quoted path\""},
      {"", std::nullopt},
      {"abc", std::nullopt},
      {"abcd", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.bytes), c.relative) << c.bytes;
}

TEST(LaunchFileParse, OnlyTheFirst260BytesCount) {
  // The caller reads at most 260 bytes; the four-byte cut applies to those.
  std::string file = "Install " + std::string(300, 'p');
  std::string read = file.substr(0, tovik::kLaunchFileReadLimit);
  EXPECT_EQ(Parse(read), std::string(260 - 8 - 4, 'p'));
}

}  // namespace
