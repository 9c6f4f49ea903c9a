// The launch descriptor: a file ".launch" in the payload whose first line
// names the setup program to run. The rule the launcher applies when it reads
// one, and tvpack when it writes one. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "launcher_constants.h"

// The descriptor's name in the extraction folder.
inline constexpr wchar_t kDescriptorNameW[] = L".launch";
inline constexpr char kDescriptorName[] = ".launch";

// Bytes of the descriptor that are read: the first line must end within them.
inline constexpr uint32_t kDescriptorBytes = kPathCapacity;

// Length of the first line of the descriptor's first `size` bytes (callers
// pass at most kDescriptorBytes): the bytes before the first CR or LF. CR and
// LF never occur inside a multi-byte UTF-8 sequence, so cutting the bytes
// gives the same name as cutting the decoded text, and a long second line
// cannot make the first one fail.
size_t DescriptorLineLength(const char* bytes, size_t size);

enum class DescriptorVerdict {
  kAccepted,
  kEmpty,    // the first line names nothing
  kTooLong,  // the name and its terminator do not fit kPathCapacity
  kRefused,  // the name could leave the extraction folder (EntryNameIsSafe)
};

// True when the setup program's path, an extraction folder of `folderLength`
// characters, a backslash and a name of `nameLength` UTF-16 units, fits the
// launcher's path buffers with its terminator (JoinPath into kPathCapacity).
inline constexpr bool SetupPathFits(size_t folderLength, size_t nameLength) {
  return folderLength + 1 + nameLength < kPathCapacity;
}

// The rule for the decoded first line `name` (`length` UTF-16 characters): a
// relative name inside the extraction folder, never "..\x.exe", "C:\x.exe",
// "\x.exe" or a device - the same rule as for the payload's entries.
DescriptorVerdict CheckDescriptorName(const wchar_t* name, size_t length);
