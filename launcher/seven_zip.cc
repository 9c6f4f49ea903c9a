// Placeholder until 7z payloads are supported: a 7z payload is a failure.
#include "launcher.h"

void ExtractSevenZip(HANDLE, DWORD, wchar_t*) { Fail(); }
