#include "param_checker_core.h"

#include <string.h>

#include "exit_codes.h"
#include "version.h"

namespace tovik {

const char kUsageLine[] =
    "Available Options: -silent { -eulaAccepted ( -location <dir> ) -desktopShortcut "
    "-programMenu -allowDownload }\r\n";
const char kVersionLine[] = TV_VERSION_TEXT "\r\n";
static_assert(sizeof(kVersionLine) == sizeof(kVersionText) + 2);

namespace {

bool Is(const char* arg, const char* name) { return strcmp(arg, name) == 0; }

// Prints the usage line; the caller then answers stop with exitCode 2.
bool Reject() {
  WriteStandardOutput(kUsageLine);
  return false;
}

}  // namespace

bool ParamCheckerCore::check(bool& allowDownload, bool& silent, int32_t& exitCode) {
  allowDownload = false;
  silent = false;
  exitCode = kExitUsage;
  const uint32_t n = paramCount();

  if (n == 0) {
    allowDownload = true;
    exitCode = kExitOk;
    return true;
  }

  if (n == 1) {
    const char* a = param(0);
    if (Is(a, "-version")) {
      WriteStandardOutput(kVersionLine);
      exitCode = kExitOk;
      return false;
    }
    if (Is(a, "-silent")) {
      appendOption("-silent", false);
      silent = true;
      exitCode = kExitOk;
      return true;
    }
    return Reject();
  }

  bool silentOutOfPlace = false;
  for (uint32_t i = 0; i < n; ++i) {
    const char* a = param(i);
    if (Is(a, "-silent")) {
      // Only the first argument may be "-silent"; a later one (or a second
      // one) rejects the line once the walk is over.
      silentOutOfPlace = i != 0;
      appendOption("-silent", false);
      silent = true;
    } else if (Is(a, "-eulaAccepted") || Is(a, "-desktopShortcut") || Is(a, "-programMenu")) {
      appendOption(a, false);
    } else if (Is(a, "-location")) {
      if (i + 1 == n) return Reject();
      appendOption("-location", false);
      // The value is taken whatever it looks like, even a switch.
      appendOption(param(++i), true);
    } else if (Is(a, "-allowDownload")) {
      allowDownload = true;
    } else {
      return Reject();
    }
  }
  if (silentOutOfPlace) return Reject();
  exitCode = kExitOk;
  return true;
}

}  // namespace tovik
