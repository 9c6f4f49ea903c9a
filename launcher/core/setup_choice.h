// The choice of the setup program once the payload is unpacked: the program
// the payload's launch descriptor names, or the default name when the payload
// carries no descriptor. One rule for the launcher, which makes the choice,
// and for tvpack, which predicts it when it writes a package and when it
// verifies one. Portable.
#pragma once

#include <stddef.h>

// What the choice needs to know of the extraction folder.
class SetupFolder {
 public:
  enum class Kind { kNothing, kFile, kFolder };
  // What the relative name `name` (terminated; "\" or "/" between folders)
  // names in the extraction folder. Only called for names that fit the
  // launcher's path buffers under the folder.
  virtual Kind KindOf(const wchar_t* name) = 0;

 protected:
  ~SetupFolder() = default;
};

// Why no setup program can be started; one cause per value.
enum class SetupFault {
  kNone,
  kEmpty,       // the descriptor's first line names nothing
  kTooLong,     // the descriptor's name alone does not fit kPathCapacity
  kRefused,     // the descriptor's name could leave the extraction folder
  kDoesNotFit,  // the extraction folder, "\" and the name do not fit kPathCapacity
  kMissing,     // nothing of that name was unpacked
  kFolder,      // a folder: the shell would open it instead of running it
};

// Chooses the setup program under an extraction folder of `folderLength`
// characters. `descriptor`: the decoded first line of the payload's
// ".launch" (`length` UTF-16 units, terminated), or nullptr when the payload
// carries no descriptor that can be opened. On kNone `*name` points to the
// chosen relative name: `descriptor` itself or kDefaultSetupNameW. Otherwise
// `*name` is left as it was.
SetupFault SelectSetupProgram(const wchar_t* descriptor, size_t length, size_t folderLength,
                              SetupFolder& folder, const wchar_t** name);
