// Loads "version.dll" and "tvplanted.dll" by name, after the launcher's
// start-up hardening ("hardened") or without it ("plain"), and writes what it
// found to the report file: which system libraries the hardening preloaded
// (before any other load), the path version.dll came from, and whether
// tvplanted.dll loaded at all. usage: dll_probe plain|hardened <report file>
#include <windows.h>

#include <string>

#include "hardening.h"

namespace {

const wchar_t* kPreloaded[] = {
    L"comres.dll",  L"clbcatq.dll", L"secur32.dll", L"netapi32.dll", L"setupapi.dll",
    L"version.dll", L"msasn1.dll",  L"crypt32.dll", L"wintrust.dll", L"riched20.dll",
    L"cryptui.dll", L"shdocvw.dll", L"ws2help.dll", L"ws2_32.dll",   L"xpsp2res.dll",
    L"sfc_os.dll",  L"psapi.dll"};

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD n = module ? GetModuleFileNameW(module, path, MAX_PATH) : 0;
  return n ? std::wstring(path, n) : L"none";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  std::wstring report;
  if (std::wstring(argv[1]) == L"hardened") {
    HardenLibraryLoading();
    for (const wchar_t* name : kPreloaded)
      if (GetModuleHandleW(name)) report += L"preloaded=" + std::wstring(name) + L"\n";
  }
  report += L"version=" + ModulePath(LoadLibraryW(L"version.dll")) + L"\n";
  report += L"planted=" + ModulePath(LoadLibraryW(L"tvplanted.dll")) + L"\n";
  HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written;
  WriteFile(file, report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)), &written,
            nullptr);
  CloseHandle(file);
  return 0;
}
