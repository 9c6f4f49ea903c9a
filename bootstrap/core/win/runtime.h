// Where the shared runtime is installed, which version it is, and whether
// runtime updates are allowed on this machine. Nothing is cached: every call
// asks the Windows Installer, the file system or the registry again, so the
// calls are safe from any thread.
//
// Results: 0 success; -3 not found, unreadable or out of memory; -4 a UTF-8
// conversion failed or had no room.
#pragma once

#include <stdint.h>

namespace tovik {

// The runtime library's numeric file version, one 16-bit part in each field.
struct RuntimeVersion {
  uint32_t major;
  uint32_t minor;
  uint32_t build;
  uint32_t revision;
};

// Yields the runtime folder as a process-heap block (the caller frees it with
// HeapFree(GetProcessHeap())) or null when there is no runtime.
class RuntimeFolderSource {
 public:
  virtual ~RuntimeFolderSource() = default;
  virtual int32_t FindFolder(wchar_t** folder) = 0;
};

// The Windows Installer component that the runtime installer registers; its
// key file lies in the runtime folder.
extern const wchar_t kRuntimeComponent[];

// Looks the runtime component up. With a registered component (installed, or
// absent with its path still registered) sets `*folder` to the folder of its
// key file in a process-heap block with room for `extraChars` more
// characters; otherwise sets it to null. Returns 0, or -3 without memory.
int32_t FindRuntimeFolder(uint32_t extraChars, wchar_t** folder);

// The runtime folder as UTF-8 in `buffer` (`size` bytes); the empty text when
// there is no runtime. -4 when size is 0 or the text does not fit (the
// buffer then holds the empty text).
int32_t GetRuntimeFolder(char* buffer, uint32_t size);
int32_t GetRuntimeFolder(RuntimeFolderSource& source, char* buffer, uint32_t size);

// Fills `version` from "<runtime folder>\Versions\1.0\Tessaro Vantel.dll".
// 0, or -3 when there is no runtime or the version cannot be read.
int32_t ReadRuntimeVersion(RuntimeVersion& version);

// Sets `*path` to "<runtime folder>\Versions\1.0\Tessaro Vantel Application
// Installer.exe" in a process-heap block the caller frees, or to null when
// there is no runtime. 0, or -3 without memory.
int32_t FindApplicationInstaller(wchar_t** path);

// The REG_DWORD `name` (UTF-8) under HKLM "Software\Policies\Tessaro\Vantel\";
// 0 when the key, the value or its type is missing.
uint32_t ReadPolicyValue(const char* name);

// False when the user's marker file "%APPDATA%\Tessaro\Vantel\updateDisabled"
// opens, or when the machine policy "UpdateDisabled" is exactly 1.
bool UpdatesAllowed();

}  // namespace tovik
