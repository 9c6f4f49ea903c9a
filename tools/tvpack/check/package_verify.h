// Checking a finished package the way the launcher will take it: the same
// payload scan, the same entry walk or 7z reader with their rules, every
// CRC, and the setup program the run would start. Nothing is written.
// Portable.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "payload_kind.h"

struct VerifiedEntry {
  std::string name;  // UTF-8, as the payload writes it ("/" or "\\" between folders)
  uint64_t size = 0;
  bool folder = false;  // a folder entry: the launcher creates the folder
};

struct VerifyReport {
  bool ok = false;                  // the launcher would unpack it and start `setup`
  PayloadKind kind = PayloadNone;
  uint64_t imageEnd = 0;            // where the launcher's image ends in the file
  uint64_t payloadOffset = 0;       // file offset of the payload's first byte
  bool signedFile = false;          // the headers name a certificate table
  std::vector<VerifiedEntry> entries;  // files and folder entries, in payload order
  std::string setup;                // relative name of the setup program
  uint32_t longestPath = 0;         // folder + 1 + name, in the format's measure
  std::string longestName;
  uint32_t pathLimit = 0;
  std::vector<std::string> problems;  // why the launcher (or tvpack) refuses it
};

// The bytes of a package, read where they are needed (a package need not be
// held in memory whole).
class PackageBytes {
 public:
  virtual uint64_t Size() = 0;
  // Reads up to `size` bytes at `offset` into `buffer`; `*got` is short only
  // at the end. False on a read failure.
  virtual bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size, size_t* got) = 0;

 protected:
  ~PackageBytes() = default;
};

// Verifies the package whose bytes are `package`, as unpacked into an
// extraction folder of `folderLength` characters. A read failure is
// reported as a problem.
// A 7z payload is decoded block by block in pieces, as the launcher decodes
// it, in memory bounded by its dictionaries whatever its blocks' sizes.
// `threads` is no longer used (the blocks were once decoded whole, ahead of
// the walk, on that many threads); it stays so that callers keep their form.
VerifyReport VerifyPackage(PackageBytes& package, uint32_t folderLength, unsigned threads = 1);
VerifyReport VerifyPackage(const std::string& package, uint32_t folderLength, unsigned threads = 1);

// True when `image` holds kLauncherName (launcher_constants.h) in UTF-16, as
// the launcher's version resource carries it: a program without it is not
// the launcher.
bool HasLauncherMark(const std::string& image);
