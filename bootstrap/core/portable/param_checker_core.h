// The bootstrapper's command-line check, over an abstract argument store.
// No platform calls: the store supplies the arguments (UTF-8) and collects
// the pass-through options; text for the user goes to WriteStandardOutput.
#pragma once

#include <stdint.h>

namespace tovik {

class ParamCheckerCore {
 public:
  virtual ~ParamCheckerCore() = default;
  // Number of arguments (the program name not counted).
  virtual uint32_t paramCount() const = 0;
  // Argument `index` (below paramCount) as UTF-8; owned by the store.
  virtual const char* param(uint32_t index) const = 0;
  // Appends `text` (UTF-8) to the pass-through options, joined by one space;
  // with `quoteIfSpaced`, quoted as one argument of a command line
  // (QuoteArgument in command_line.h).
  virtual void appendOption(const char* text, bool quoteIfSpaced) = 0;
  // Keeps `text` (UTF-8) as a further wide text; not used by the check.
  virtual void setAuxText(const char* text) = 0;

  // Examines the arguments. Sets allowDownload and silent, and exitCode to
  // the code to end with when it answers false (stop): 0 after "-version",
  // 2 after a rejected line (the usage line is then printed). Answers true
  // (go on) with exitCode 0.
  bool check(bool& allowDownload, bool& silent, int32_t& exitCode);
};

// The texts the check prints, each followed by its line end.
extern const char kUsageLine[];
extern const char kVersionLine[];

// Writes `text` as it stands to standard output. Defined by the platform
// library (and by tests of the portable core).
void WriteStandardOutput(const char* text);

}  // namespace tovik
