#include "runtime.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "system_libraries.h"

namespace tovik {

const wchar_t kRuntimeComponent[] = L"{6A1E93B0-58C4-4F2D-9B3A-7D20C5E4A1F8}";

namespace {

constexpr wchar_t kApplicationInstallerTail[] =
    L"\\Versions\\1.0\\Tessaro Vantel Application Installer.exe";
constexpr char kRuntimeLibraryTail[] = "\\Versions\\1.0\\Tessaro Vantel.dll";
constexpr wchar_t kPolicyKey[] = L"Software\\Policies\\Tessaro\\Vantel\\";

class ComponentFolderSource : public RuntimeFolderSource {
 public:
  int32_t FindFolder(wchar_t** folder) override { return FindRuntimeFolder(0, folder); }
};

}  // namespace

int32_t FindRuntimeFolder(uint32_t extraChars, wchar_t** folder) {
  *folder = nullptr;
  // Without the Windows Installer no component can be registered.
  const MsiFunctions* msi = LoadMsi();
  if (msi == nullptr) return 0;
  // Wine answers -2 for a null length pointer, so the count is always given.
  DWORD count = 0;
  INSTALLSTATE state = msi->locateComponent(kRuntimeComponent, nullptr, &count);
  // An absent key file still leaves the registered path usable.
  if (state != INSTALLSTATE_LOCAL && state != INSTALLSTATE_ABSENT) return 0;
  const SIZE_T capacity = static_cast<SIZE_T>(count) + 1 + extraChars;
  wchar_t* block =
      static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity * sizeof(wchar_t)));
  if (block == nullptr) return -3;
  DWORD length = static_cast<DWORD>(capacity);
  // The answer was taken above; a path that changed in between shows up as
  // a folder that does not hold the runtime.
  msi->locateComponent(kRuntimeComponent, block, &length);
  block[capacity - 1] = L'\0';
  PathRemoveFileSpecW(block);
  *folder = block;
  return 0;
}

int32_t GetRuntimeFolder(RuntimeFolderSource& source, char* buffer, uint32_t size) {
  if (size == 0) return -4;
  buffer[0] = '\0';
  wchar_t* folder = nullptr;
  int32_t result = source.FindFolder(&folder);
  if (result < 0) return result;
  if (folder == nullptr) return 0;
  int written = WideCharToMultiByte(CP_UTF8, 0, folder, -1, buffer, static_cast<int>(size), nullptr,
                                    nullptr);
  HeapFree(GetProcessHeap(), 0, folder);
  if (written <= 0) {
    buffer[0] = '\0';
    return -4;
  }
  return 0;
}

int32_t GetRuntimeFolder(char* buffer, uint32_t size) {
  ComponentFolderSource source;
  return GetRuntimeFolder(source, buffer, size);
}

int32_t ReadRuntimeVersion(RuntimeVersion& version) {
  char folder[MAX_PATH];
  if (GetRuntimeFolder(folder, sizeof(folder)) != 0) return -3;
  if (folder[0] == '\0') return -3;
  if (!PathAppendA(folder, kRuntimeLibraryTail)) return -3;
  wchar_t path[MAX_PATH];
  if (MultiByteToWideChar(CP_UTF8, 0, folder, -1, path, MAX_PATH) <= 0) return -3;

  const VersionFunctions* resources = LoadVersion();
  if (resources == nullptr) return -3;
  DWORD handle = 0;
  DWORD size = resources->getFileVersionInfoSize(path, &handle);
  if (size == 0) return -3;
  void* block = HeapAlloc(GetProcessHeap(), 0, size);
  if (block == nullptr) return -3;
  int32_t result = -3;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoLength = 0;
  if (resources->getFileVersionInfo(path, 0, size, block) &&
      resources->verQueryValue(block, L"\\", reinterpret_cast<void**>(&info), &infoLength) &&
      info != nullptr && infoLength >= sizeof(VS_FIXEDFILEINFO)) {
    version.major = HIWORD(info->dwFileVersionMS);
    version.minor = LOWORD(info->dwFileVersionMS);
    version.build = HIWORD(info->dwFileVersionLS);
    version.revision = LOWORD(info->dwFileVersionLS);
    result = 0;
  }
  HeapFree(GetProcessHeap(), 0, block);
  return result;
}

int32_t FindApplicationInstaller(wchar_t** path) {
  const uint32_t extra = static_cast<uint32_t>(ARRAYSIZE(kApplicationInstallerTail) - 1);
  int32_t result = FindRuntimeFolder(extra, path);
  if (result != 0 || *path == nullptr) return result;
  // The block has room for the tail; PathAppendW still refuses a result
  // beyond MAX_PATH, and then the path stays the folder, which never starts.
  PathAppendW(*path, kApplicationInstallerTail + 1);
  return 0;
}

uint32_t ReadPolicyValue(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  uint32_t result = 0;
  int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
  wchar_t* wideName =
      length > 0 ? static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, length * sizeof(wchar_t)))
                 : nullptr;
  if (wideName != nullptr && MultiByteToWideChar(CP_UTF8, 0, name, -1, wideName, length) == length) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, wideName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_DWORD) {
      DWORD value = 0;
      size = sizeof(value);
      if (RegQueryValueExW(key, wideName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
              ERROR_SUCCESS &&
          type == REG_DWORD && size == sizeof(value)) {
        result = value;
      }
    }
  }
  if (wideName != nullptr) HeapFree(GetProcessHeap(), 0, wideName);
  RegCloseKey(key);
  return result;
}

bool UpdatesAllowed() {
  wchar_t marker[MAX_PATH];
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, marker)) &&
      PathAppendW(marker, L"Tessaro\\Vantel\\updateDisabled")) {
    // Shared with other readers, so that a second run started at the same
    // moment still sees the marker.
    HANDLE file = CreateFileW(marker, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return false;
    }
  }
  return ReadPolicyValue("UpdateDisabled") != 1;
}

}  // namespace tovik
