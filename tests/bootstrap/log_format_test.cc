// Line formatting of the bootstrapper's log: timestamp layout and the cut of
// long messages.
#include "log_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Stamp(const tovik::LogTime& t) {
  char buf[tovik::kLogTimestampCapacity];
  size_t n = tovik::FormatLogTimestamp(buf, t);
  EXPECT_EQ(n, std::string(buf).size());
  return std::string(buf, n);
}

std::string Message(const char* format, ...) {
  char buf[tovik::kLogMessageCapacity];
  va_list args;
  va_start(args, format);
  size_t n = tovik::FormatLogMessage(buf, format, args);
  va_end(args);
  EXPECT_EQ(n, std::string(buf).size());
  return std::string(buf, n);
}

TEST(LogFormat, TimestampPadsEveryFieldAndIs22Bytes) {
  struct Case {
    tovik::LogTime time;
    const char* expected;
  } cases[] = {
      {{2026, 1, 2, 3, 4, 5}, "[2026-01-02:03:04:05] "},
      {{2026, 12, 8, 5, 21, 39}, "[2026-12-08:05:21:39] "},
      {{1999, 10, 31, 23, 59, 59}, "[1999-10-31:23:59:59] "},
      {{2030, 7, 1, 0, 0, 0}, "[2030-07-01:00:00:00] "},
  };
  for (const Case& c : cases) {
    std::string s = Stamp(c.time);
    EXPECT_EQ(s, c.expected);
    EXPECT_EQ(s.size(), 22u);
  }
}

TEST(LogFormat, ShortYearIsPaddedWithSpaces) { EXPECT_EQ(Stamp({999, 1, 1, 1, 1, 1}), "[ 999-01-01:01:01:01] "); }

TEST(LogFormat, MessageWithArguments) {
  EXPECT_EQ(Message("%s begin with version %s on %s %s", "Bootstrapper", "1.2.3.4", "Win", "x86"),
            "Bootstrapper begin with version 1.2.3.4 on Win x86");
  EXPECT_EQ(Message("%s end with exit code %d", "Bootstrapper", -1073741819),
            "Bootstrapper end with exit code -1073741819");
}

TEST(LogFormat, MessageIsCutAt748Bytes) {
  for (size_t len : {747u, 748u, 749u, 750u, 5000u}) {
    std::string arg(len, 'x');
    std::string m = Message("%s", arg.c_str());
    EXPECT_EQ(m.size(), std::min<size_t>(len, 748)) << len;
    EXPECT_EQ(m, arg.substr(0, 748));
  }
  // The cut counts the whole text, prefix included.
  std::string arg(800, 'y');
  std::string m = Message("Launching subprocess with commandline %s", arg.c_str());
  EXPECT_EQ(m.size(), 748u);
  EXPECT_EQ(m.rfind("Launching subprocess with commandline yyy", 0), 0u);
}

}  // namespace
