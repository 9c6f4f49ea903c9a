// The state of one installation flow, owned by RunInstallationFlow for its
// whole duration and shared (one field) with the download worker.
#pragma once

#include <windows.h>

namespace tovik {

struct InstallContext {
  HINSTANCE instance = nullptr;
  bool silent = false;
  wchar_t* applicationPath = nullptr;  // owned copy, may be absent
  wchar_t* runtimeMissing = nullptr;   // owned texts of the chosen language row
  // Owned; set by the download worker to the stored runtime installer's path.
  wchar_t* installerPath = nullptr;
  wchar_t* pleaseWait = nullptr;
  wchar_t* cancelLabel = nullptr;
  wchar_t* validationFailed = nullptr;
  wchar_t* verifying = nullptr;
  wchar_t* updateUnavailable = nullptr;
  wchar_t* installingPrefix = nullptr;
  wchar_t* updateBlocked = nullptr;
  bool runtimeFound = false;
};

}  // namespace tovik
