// What the packaging tool refuses before it writes a package: every rule the
// launcher applies to a payload at run time, checked at build time with the
// launcher's own functions where it has them. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "launcher_constants.h"

enum class PackFormat { kZip, kSevenZip };

// One item of the folder being packed.
struct PackItem {
  std::string name;        // relative, "/" between folders; the folder's own bytes
  bool folder = false;     // a folder that holds nothing (packed as a folder entry)
  uint64_t size = 0;       // bytes of a file
  std::string sourcePath;  // where to read the file; empty when `content` holds it
  std::string content;     // the bytes of a file made by the tool (".launch")
  std::string problem;     // set by the folder walk: why the item cannot be packed
};

struct Refusal {
  std::string name;
  std::string reason;
};

// The default extraction folder length paths are checked against,
// kDefaultMaxFolder, is the launcher's own (launcher_constants.h): it is
// derived from the launcher's temporary-name prefix.

// Largest file of each format: the ZIP-style header has 32-bit sizes
// (0xFFFFFFFF is reserved); a 7z block is decoded whole into memory by the
// 32-bit launcher, so no file may exceed 1 GiB.
inline constexpr uint64_t kZipMaxFile = 0xFFFFFFFEull;
inline constexpr uint64_t kSevenZipMaxFile = 1ull << 30;

// The longest unpacked path, in the launcher's own measure: the extraction
// folder, one backslash and the name (UTF-8 bytes for the ZIP-style format,
// UTF-16 units for 7z), against the format's limit.
struct LongestPath {
  std::string name;
  uint32_t length = 0;  // folder + 1 + name
  uint32_t limit = 0;   // the largest length the launcher accepts
};

// The largest `folder + 1 + name` length the launcher accepts for `format`:
// the ZIP-style walk's kZipPathLimit (n in bytes), the 7z reader's
// kSevenZipPathLimit (units in UTF-16).
uint32_t PathLimit(PackFormat format);
// The name's length in the launcher's measure for `format`.
uint32_t NameLength(PackFormat format, const std::string& utf8Name);

// Checks every item and appends one refusal per offending name and reason:
// the walk's own problems, names not valid UTF-8, names the launcher's name
// rule refuses (EntryNameIsSafe), characters or endings Windows does not keep
// in file names, files too large for `format`, paths that do not fit under an
// extraction folder of `maxFolder` characters, and names (of files or of the
// folders on their way) that differ only in case. Fills `*longest`.
void CheckItems(const std::vector<PackItem>& items, PackFormat format, uint32_t maxFolder,
                std::vector<Refusal>* refusals, LongestPath* longest);

// The setup program named by a launch descriptor's bytes, as the launcher
// reads it (launch_descriptor.h): the first line of the first
// kDescriptorBytes. Empty, with `*reason` set, when the launcher's
// descriptor rule would refuse it or tvpack would (a byte-order mark, not
// UTF-8).
std::string DescriptorSetupName(const std::string& bytes, std::string* reason);

// The relative name as the system resolves it: "\" and "/" both separate,
// "." elements drop out. "/" between folders in the result.
std::string NormalizeRelative(const std::string& name);

// True when `head` (the file's first bytes) starts with a PE image's headers.
bool LooksLikeProgram(const std::string& head);
