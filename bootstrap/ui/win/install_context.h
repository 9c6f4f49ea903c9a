// The state of one installation flow, owned by RunInstallationFlow for its
// whole duration; the download worker fills `installer`.
#pragma once

#include <windows.h>

#include "stored_installer.h"

namespace tovik {

struct LanguageTexts;

// Every text is an owned copy from the process heap, absent (null) when it
// was not given or its copy could not be allocated.
struct InstallContext {
  HINSTANCE instance = nullptr;
  bool silent = false;
  wchar_t* applicationPath = nullptr;
  wchar_t* runtimeMissing = nullptr;
  // The stored runtime installer; filled by the download worker.
  StoredInstaller installer;
  wchar_t* pleaseWait = nullptr;
  wchar_t* cancelLabel = nullptr;
  wchar_t* validationFailed = nullptr;
  wchar_t* verifying = nullptr;
  wchar_t* updateUnavailable = nullptr;
  wchar_t* installingPrefix = nullptr;
  wchar_t* updateBlocked = nullptr;
  bool runtimeFound = false;
};

// A process-heap copy of `text` with its terminating zero; null for an
// absent text or a failed allocation. Free with HeapFree(GetProcessHeap()).
wchar_t* CopyText(const wchar_t* text);

// Copies the eight texts the screens use from `row` into `context`.
void CopyLanguageTexts(InstallContext& context, const LanguageTexts& row);

// Takes the user's default UI language, makes it the thread locale (even
// when no row matches it), and copies the texts of the matching row.
void FillLanguageTexts(InstallContext& context);

// Frees every copy and, when the installer's path is set, closes the installer's
// handle and deletes the file and its run folder (best effort). Leaves every
// field absent.
void ReleaseInstallContext(InstallContext& context);

}  // namespace tovik
