// The one reader of the bootstrapper's per-user log for the Windows-side
// tests: where the file lives in this prefix, and its lines without their
// timestamps.
#pragma once

#include <string>
#include <vector>

namespace tvtest {

// "<local application data>\Tessaro\Vantel\logs\Install.log" of this prefix's user.
std::wstring TovikLogFile();
// Deletes the log file (not its folders).
void RemoveTovikLog();

// The lines of log text (after the byte-order mark), each without its
// "[YYYY-MM-DD:hh:mm:ss] " stamp. A line without that stamp, or without its
// CR LF, is a test failure; it comes back prefixed "<no stamp>" so that no
// comparison can pass on it.
std::vector<std::string> LogLinesOf(const std::string& text);

// Every line of the log file; a file that exists must start with the
// byte-order mark. Empty when there is no file.
std::vector<std::string> TovikLogLines();

// The lines written to the log after construction.
class TovikLogTail {
 public:
  TovikLogTail();
  std::vector<std::string> Lines() const;

 private:
  size_t start_ = 0;
};

}  // namespace tvtest
