// The bootstrapper's ".launch" file beside its own executable, turned into
// the application path.
#pragma once

#include <stdint.h>

namespace tovik {

// Writes "<bootstrapper folder>\<relative path from .launch>" into
// `applicationPath` (MAX_PATH characters) and returns 0 when the file is
// usable and the path names something that exists. Otherwise returns 12 and
// leaves `applicationPath` as it was.
int32_t ReadLaunchFile(wchar_t* applicationPath);

// The path where ".launch" is looked for, as UTF-8 in `buffer` (`size`
// bytes); the empty text when it cannot be formed.
void GetLaunchFilePath(char* buffer, uint32_t size);

}  // namespace tovik
