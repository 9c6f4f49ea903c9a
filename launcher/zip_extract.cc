// Placeholder until the payload scan and the ZIP-style entries are in place.
#include "launcher.h"

PayloadKind LocatePayload(HANDLE) { return PayloadNone; }
void ExtractZipEntries(HANDLE, DWORD, wchar_t*) { Fail(); }
void CreateParentFolders(wchar_t*, DWORD, const wchar_t*, DWORD) { Fail(); }
