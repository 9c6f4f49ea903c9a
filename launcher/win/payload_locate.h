// Where the payload lies in the launcher's own file, for both payload kinds.
#pragma once

#include <windows.h>

#include "certificate_table.h"
#include "payload_kind.h"

// Finds the payload in the part of `file` it may come from (CheckSeal: in a
// signed file, between the image's end and the certificate table, which must
// be nothing but signatures at the file's end; else behind the image) and
// leaves the file positioned on its first signature byte. `payload->start`
// is that byte's offset, `payload->end` the first byte no reader of the
// payload may go to. PayloadNone when there is no payload in that part, when
// a signed file's table hides data or has bytes behind it, or when the file
// cannot be read or holds no image headers.
PayloadKind LocatePayload(HANDLE file, PayloadSpan* payload);
