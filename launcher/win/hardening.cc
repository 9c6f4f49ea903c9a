// Start-up hardening. Libraries that lie beside the launcher (a download
// folder full of strangers' files) must never be loaded: library loading is
// narrowed to the system folder at once, and the system libraries that later
// calls may pull in are loaded by full path.
#include "hardening.h"

#include "path_join.h"
#include "system_functions.h"

namespace {

// Loaded in this order; several exist only on older releases of the system.
constexpr const wchar_t* kSystemLibraries[] = {
    L"comres.dll",   L"clbcatq.dll",  L"secur32.dll", L"netapi32.dll", L"setupapi.dll",
    L"version.dll",  L"msasn1.dll",   L"crypt32.dll", L"wintrust.dll", L"riched20.dll",
    L"cryptui.dll",  L"shdocvw.dll",  L"ws2help.dll", L"ws2_32.dll",   L"xpsp2res.dll",
    L"sfc_os.dll",   L"psapi.dll",
};

// Loads the system libraries that later calls may pull in, by full path.
void PreloadSystemLibraries() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  for (const wchar_t* name : kSystemLibraries) {
    wchar_t path[MAX_PATH];
    if (!JoinPath(path, MAX_PATH, folder, name)) continue;
    // Best effort: a name missing on this system is passed over; the loaded
    // libraries stay loaded for the life of the process. The libraries these
    // import are searched from the system folder too (altered search path),
    // not from the launcher's folder, also where the narrowing above does
    // not reach the imports of a library.
    LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}

}  // namespace

void HardenLibraryLoading() {
  using SetDllDirectoryFn = BOOL(WINAPI*)(const wchar_t*);
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  // Best effort: each step narrows the search further where the system
  // offers it; an older system simply keeps its default order.
  if (auto setDllDirectory = OptionalKernel32Function<SetDllDirectoryFn>("SetDllDirectoryW")) {
    setDllDirectory(L"");  // takes the current folder out of the search order
  }
  if (auto setDefaultDllDirectories =
          OptionalKernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories")) {
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  PreloadSystemLibraries();
}
