// The bootstrapper's argument store: UTF-8 copies of the arguments and the
// pass-through options text, all on the C run-time heap. This unit also
// defines WriteStandardOutput (param_checker_core.h) for Windows: the
// process's standard output handle, written with WriteFile.
#pragma once

#include <stdint.h>

#include "param_checker_core.h"

namespace tovik {

class ParamChecker : public ParamCheckerCore {
 public:
  // Copies the `count` arguments of `args` (the program name excluded) as
  // UTF-8. When memory or a conversion fails, outOfMemory() answers true
  // and the store must not be checked.
  ParamChecker(uint32_t count, wchar_t** args);
  ~ParamChecker() override;
  ParamChecker(const ParamChecker&) = delete;
  ParamChecker& operator=(const ParamChecker&) = delete;

  uint32_t paramCount() const override;
  const char* param(uint32_t index) const override;
  void appendOption(const char* text, bool quoteIfSpaced) override;
  void setAuxText(const char* text) override;

  // The pass-through options joined by single spaces; null when none was
  // given. Owned by the store.
  const wchar_t* optionText() const { return options; }
  // True once a copy or the options text could not be had: the run then
  // ends with 5, since what it would hand on would be incomplete.
  bool outOfMemory() const { return outOfMemory_; }

 private:
  wchar_t* options = nullptr;
  wchar_t* auxText = nullptr;
  char** args = nullptr;
  uint32_t count = 0;
  bool outOfMemory_ = false;
};

}  // namespace tovik
