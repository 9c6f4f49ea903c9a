// Placeholder until the launch descriptor and the setup process are in place.
#include "launcher.h"

bool ReadLaunchDescriptor(HANDLE descriptor, const wchar_t*, wchar_t*) {
  CloseHandle(descriptor);
  return false;
}
DWORD RunSetupProgram(const wchar_t*, const wchar_t*) { return 5; }
