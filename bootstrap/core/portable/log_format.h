// Formatting of one log line, without any platform call: the timestamp that
// starts every line and the message text with its fixed cut.
#pragma once

#include <stdarg.h>
#include <stddef.h>

namespace tovik {

// Local wall-clock time of one line.
struct LogTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

constexpr size_t kLogTimestampCapacity = 100;
// At most 748 bytes of message text, plus the terminator.
constexpr size_t kLogMessageCapacity = 749;

// Writes "[YYYY-MM-DD:hh:mm:ss] " (22 bytes for four-digit years) into
// `buffer`, always terminated, cut at the capacity. Returns its length in bytes.
size_t FormatLogTimestamp(char (&buffer)[kLogTimestampCapacity], const LogTime& time);

// Formats `format` with `args` into `buffer` by C vsnprintf rules: a longer
// text is cut at 748 bytes; the buffer is always terminated (empty when the
// formatting itself fails). Returns the text's length in bytes.
size_t FormatLogMessage(char (&buffer)[kLogMessageCapacity], const char* format, va_list args);

}  // namespace tovik
