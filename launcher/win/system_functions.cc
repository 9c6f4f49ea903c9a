#include "system_functions.h"

#include "path_join.h"

SystemFunctions gSystem;

namespace {

// Loads `name` from the system folder; its own imports are searched from
// there too (altered search path), also where SetDefaultDllDirectories is
// missing. Null when the folder or the library cannot be had.
HMODULE LoadFromSystemFolder(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !JoinPath(path, MAX_PATH, folder, name)) return nullptr;
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* slot) {
  *slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *slot != nullptr;
}

}  // namespace

void* OptionalKernel32Export(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel ? reinterpret_cast<void*>(GetProcAddress(kernel, name)) : nullptr;
}

bool LookUpConditionFunctions(ConditionFunctions* functions) {
  using Sleep = decltype(functions->sleep);
  using Wake = decltype(functions->wake);
  functions->sleep = OptionalKernel32Function<Sleep>("SleepConditionVariableCS");
  functions->wake = OptionalKernel32Function<Wake>("WakeConditionVariable");
  functions->wakeAll = OptionalKernel32Function<Wake>("WakeAllConditionVariable");
  return functions->sleep && functions->wake && functions->wakeAll;
}

bool LoadSystemFunctions() {
  if (gSystem.convertStringSecurityDescriptor) return true;
  HMODULE user32 = LoadFromSystemFolder(L"user32.dll");
  HMODULE shell32 = LoadFromSystemFolder(L"shell32.dll");
  HMODULE ole32 = LoadFromSystemFolder(L"ole32.dll");
  HMODULE advapi32 = LoadFromSystemFolder(L"advapi32.dll");
  if (!user32 || !shell32 || !ole32 || !advapi32) return false;
  // The libraries stay loaded for the life of the process.
  return Resolve(user32, "GetMessageW", &gSystem.getMessage) &&
         Resolve(user32, "TranslateMessage", &gSystem.translateMessage) &&
         Resolve(user32, "DispatchMessageW", &gSystem.dispatchMessage) &&
         Resolve(user32, "GetForegroundWindow", &gSystem.getForegroundWindow) &&
         Resolve(shell32, "ShellExecuteExW", &gSystem.shellExecuteEx) &&
         Resolve(ole32, "CoCreateGuid", &gSystem.coCreateGuid) &&
         Resolve(ole32, "StringFromGUID2", &gSystem.stringFromGuid2) &&
         Resolve(advapi32, "OpenProcessToken", &gSystem.openProcessToken) &&
         Resolve(advapi32, "GetTokenInformation", &gSystem.getTokenInformation) &&
         Resolve(advapi32, "CheckTokenMembership", &gSystem.checkTokenMembership) &&
         Resolve(advapi32, "ConvertSidToStringSidW", &gSystem.convertSidToStringSid) &&
         Resolve(advapi32, "ConvertStringSecurityDescriptorToSecurityDescriptorW",
                 &gSystem.convertStringSecurityDescriptor);
}
