// The quoting of child arguments, text for text; under Wine the lines are
// also split back with the platform's own splitter (core_test.cc).
#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CommandLine, ArgumentsAreQuotedByTheSplittingRules) {
  const struct {
    const wchar_t* argument;
    bool alwaysQuote;
    const wchar_t* written;
  } cases[] = {
      {L"C:\\plain", false, L"C:\\plain"},
      {L"C:\\plain", true, L"\"C:\\plain\""},
      {L"", false, L"\"\""},
      {L"C:\\My Apps\\", false, L"\"C:\\My Apps\\\\\""},
      {L"C:\\Apps\\", true, L"\"C:\\Apps\\\\\""},
      {L"C:\\x\\\\", true, L"\"C:\\x\\\\\\\\\""},
      {L"say \"hi\"", false, L"\"say \\\"hi\\\"\""},
      {L"a\\\"b", false, L"\"a\\\\\\\"b\""},
      {L"a\\\\b c", false, L"\"a\\\\b c\""},  // backslashes before other characters stay single
      {L"\"", false, L"\"\\\"\""},
      {L"tab\there", false, L"\"tab\there\""},
      {L"\\\\server\\share", false, L"\\\\server\\share"},
  };
  for (const auto& c : cases) {
    std::vector<wchar_t> line(64, L'\0');
    ASSERT_TRUE(tovik::AppendArgument(line.data(), 64, c.argument, c.alwaysQuote));
    EXPECT_EQ(std::wstring(line.data()), c.written);
    EXPECT_EQ(tovik::QuotedArgumentLength(c.argument, c.alwaysQuote), std::wstring(c.written).size());
  }
}

TEST(CommandLine, WhatDoesNotFitIsNotAppended) {
  // "ab " and then "\"c d\\\\\"" (7 characters): 11 with the terminator.
  wchar_t line[11] = L"ab";
  EXPECT_TRUE(tovik::AppendText(line, 11, L" "));
  EXPECT_FALSE(tovik::AppendArgument(line, 10, L"c d\\"));
  EXPECT_EQ(std::wstring(line), L"ab ");
  EXPECT_TRUE(tovik::AppendArgument(line, 11, L"c d\\"));
  EXPECT_EQ(std::wstring(line), L"ab \"c d\\\\\"");
  EXPECT_FALSE(tovik::AppendText(line, 11, L"x"));
  EXPECT_EQ(std::wstring(line), L"ab \"c d\\\\\"");

  wchar_t program[8] = L"";
  EXPECT_FALSE(tovik::AppendProgram(program, 8, L"a\"b"));
  EXPECT_FALSE(tovik::AppendProgram(program, 8, L"abcdef"));
  EXPECT_TRUE(tovik::AppendProgram(program, 8, L"abcde"));
  EXPECT_EQ(std::wstring(program), L"\"abcde\"");
}

}  // namespace
