#include "log_format.h"

#include <stdio.h>
#include <string.h>

namespace tovik {

size_t FormatLogTimestamp(char (&buffer)[kLogTimestampCapacity], const LogTime& time) {
  int n = snprintf(buffer, sizeof(buffer), "[%4d-%02d-%02d:%02d:%02d:%02d] ", time.year, time.month,
                   time.day, time.hour, time.minute, time.second);
  // Some C run-times leave a cut text unterminated; this one must not be.
  buffer[sizeof(buffer) - 1] = '\0';
  if (n < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return strlen(buffer);
}

size_t FormatLogMessage(char (&buffer)[kLogMessageCapacity], const char* format, va_list args) {
  int n = vsnprintf(buffer, sizeof(buffer), format, args);
  buffer[sizeof(buffer) - 1] = '\0';
  if (n < 0 && strlen(buffer) == 0) return 0;
  return strlen(buffer);
}

}  // namespace tovik
