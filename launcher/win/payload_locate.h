// Where the payload lies in the launcher's own file, for both payload kinds.
#pragma once

#include <windows.h>

#include "payload_kind.h"

// Scans `file` from the end of the launcher's image (read from the PE headers
// in its first kImageHeadSize bytes) for the first 7z or ZIP payload
// signature and leaves the file positioned on it. PayloadNone when there is
// none, or when the file cannot be read or holds no image headers.
PayloadKind LocatePayload(HANDLE file);
