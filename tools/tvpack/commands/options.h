// What the commands share: the command line's switches, numbers and texts,
// and the usage text. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "tvpack.h"

// The usage text, printed with every argument error.
extern const char kUsage[];

// The most threads --threads allows, and the default's ceiling.
inline constexpr uint32_t kMaxThreads = 64;

// The switches of one command line.
struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  std::map<std::string, bool> flags;
  std::string error;  // the first problem; the rest is then incomplete

  bool Has(const std::string& name) const { return values.count(name) > 0; }
  // The switch's value, or `otherwise` when it is not given.
  std::string Value(const std::string& name, const std::string& otherwise = "") const {
    auto it = values.find(name);
    return it == values.end() ? otherwise : it->second;
  }
};

// Splits `args` from index `from` into positional arguments, switches that
// take a value (`valued`) and switches that stand alone (`alone`). Any other
// argument starting with "-" sets `error`, as does a value that is missing.
Options Parse(const std::vector<std::string>& args, size_t from,
              const std::vector<std::string>& valued, const std::vector<std::string>& alone);

// A decimal `text` of at most nine digits from `low` to `high` into `*value`;
// false, with `*value` unchanged, otherwise.
bool ParseNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t* value);

// --max-folder of `o` into `*maxFolder` (kDefaultMaxFolder when absent);
// false, with the reason on the console, when it is out of range.
bool MaxFolder(const Options& o, uint32_t* maxFolder, Console& console);

// Writes "tvpack: <problem>" and the usage text to standard error; returns
// kTvpackError. `problem` is `o.error` when there is one.
int UsageError(const Options& o, const std::string& problem, Console& console);

// The processors to use by default: one thread each, 1 to kMaxThreads.
unsigned Processors();

std::string Number(uint64_t value);
// `bytes` in decimal megabytes with one decimal ("12.3 MB").
std::string Megabytes(double bytes);

// Reads the whole file; `expected` is the size it should have, so that its
// bytes are read into one allocation of that size (no doubling on the way).
bool ReadWhole(const std::string& path, std::string* data, uint64_t expected = 0);
