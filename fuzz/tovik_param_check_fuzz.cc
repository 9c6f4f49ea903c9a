// Fuzz target: the bootstrapper's parameter check over arbitrary arguments
// (the input split at zero bytes).
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "param_checker_core.h"

namespace tovik {
void WriteStandardOutput(const char*) {}
}  // namespace tovik

namespace {

class Store : public tovik::ParamCheckerCore {
 public:
  explicit Store(std::vector<std::string> args) : args_(std::move(args)) {}
  uint32_t paramCount() const override { return static_cast<uint32_t>(args_.size()); }
  const char* param(uint32_t index) const override { return args_.at(index).c_str(); }
  void appendOption(const char*, bool) override { ++appended; }
  void setAuxText(const char*) override {}
  size_t appended = 0;

 private:
  std::vector<std::string> args_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) args.push_back(current);
  Store store(args);
  bool allowDownload = false, silent = false;
  int32_t exitCode = -1;
  bool goOn = store.check(allowDownload, silent, exitCode);
  if (goOn && exitCode != 0) __builtin_trap();
  if (!goOn && exitCode != 0 && exitCode != 2) __builtin_trap();
  if (store.appended > args.size()) __builtin_trap();
  return 0;
}
