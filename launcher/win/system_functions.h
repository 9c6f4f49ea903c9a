// The few functions of user32, shell32, ole32 and advapi32 that the launcher
// calls.
// They are not imported: a library in the import table loads before the
// launcher's first instruction, by the default search that starts in the
// launcher's own folder (a download folder that may hold planted libraries),
// and so do the libraries it imports in turn. These are loaded by full path
// from the system folder once HardenLibraryLoading has narrowed the search,
// and called through this table. The image imports kernel32 and msvcrt only.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>

struct SystemFunctions {
  // user32
  decltype(&::GetMessageW) getMessage;
  decltype(&::TranslateMessage) translateMessage;
  decltype(&::DispatchMessageW) dispatchMessage;
  decltype(&::GetForegroundWindow) getForegroundWindow;
  // shell32
  decltype(&::ShellExecuteExW) shellExecuteEx;
  // ole32
  decltype(&::CoCreateGuid) coCreateGuid;
  decltype(&::StringFromGUID2) stringFromGuid2;
  // advapi32
  decltype(&::OpenProcessToken) openProcessToken;
  decltype(&::GetTokenInformation) getTokenInformation;
  decltype(&::CheckTokenMembership) checkTokenMembership;
  decltype(&::ConvertSidToStringSidW) convertSidToStringSid;
  decltype(&::ConvertStringSecurityDescriptorToSecurityDescriptorW) convertStringSecurityDescriptor;
};

// A kernel32 function that older releases of the system lack, looked up in
// the loaded kernel32 at run time: null where this system has none.
void* OptionalKernel32Export(const char* name);
template <typename Function>
Function OptionalKernel32Function(const char* name) {
  return reinterpret_cast<Function>(OptionalKernel32Export(name));
}

// Condition variables (Vista and later), looked up at run time: the file
// helper and the decode thread wait on them (no trip to Wine's server, where
// an event takes one each time), and do not start where they are missing.
struct ConditionFunctions {
  BOOL(WINAPI* sleep)(void* condition, CRITICAL_SECTION* lock, DWORD ms);
  void(WINAPI* wake)(void* condition);
  void(WINAPI* wakeAll)(void* condition);
};
// Fills `functions`; false where this system lacks any of them.
bool LookUpConditionFunctions(ConditionFunctions* functions);

// Filled by LoadSystemFunctions; all null before.
extern SystemFunctions gSystem;

// Loads user32, shell32, ole32 and advapi32 from the system folder by full path and
// fills gSystem. Call after HardenLibraryLoading. False, with gSystem left
// partly filled, when a library or a function cannot be had; the launcher
// then cannot work and ends with 5. A second call after success does nothing.
bool LoadSystemFunctions();
