#include "ui_driver.h"

#include "test_support.h"

namespace tvtest {
namespace {

struct Search {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindByCaption(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  wchar_t klass[32] = L"";
  GetClassNameW(window, klass, 32);
  if (lstrcmpW(klass, L"#32770") == 0 && IsWindowVisible(window) && Text(window) == search->caption) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::wstring Text(HWND window) {
  wchar_t buffer[1024] = L"";
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &ignored);
  return buffer;
}

HWND WaitVisibleDialog(const std::wstring& caption, DWORD waitMs) {
  const ULONGLONG until = GetTickCount64() + waitMs;
  do {
    Search search{caption};
    EnumWindows(FindByCaption, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(20);
  } while (GetTickCount64() < until);
  return nullptr;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
  return static_cast<LRESULT>(result);
}

void RegisterHttpsRecorder(const std::wstring& record) {
  SetEnvironmentVariableW(L"TV_RECORD", record.c_str());
  const std::wstring command = L"\"" + tvtest::RecorderExe() + L"\" \"%1\"";
  HKEY key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L"https\\shell\\open\\command", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
}

}  // namespace tvtest
