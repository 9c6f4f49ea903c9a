// The setup program a package would start: chosen as the launcher chooses it
// (SelectSetupProgram, launcher/core/setup_choice.h), with tvpack's own
// checks on top. One check, and one set of messages, for create (the folder
// about to be packed) and verify (the payload as unpacked). Portable.
#pragma once

#include <stdint.h>

#include <string>

#include "pack_rules.h"
#include "setup_choice.h"

// The files of a package as the launcher would unpack them.
class PackageFiles : public SetupFolder {
 public:
  // The first bytes of the file that the relative UTF-8 name `name` names
  // ("/" between folders, as NormalizeRelative gives it): at least
  // kImageHeadSize where the file is that long; empty when it cannot be read.
  virtual std::string Head(const std::string& name) = 0;

 protected:
  ~PackageFiles() = default;
};

// Checks the setup program of a package whose launch descriptor holds
// `descriptor` (nullptr: the package carries none) under an extraction folder
// of `folderLength` characters. `*setup` is the chosen name ("/" between
// folders) once the descriptor names one, even when it then fails, and empty
// otherwise. False with `*refusal` set when the launcher would not start it
// (the descriptor's rule, the path's length, nothing or a folder of that
// name), when the descriptor would be read otherwise than meant (a
// byte-order mark, not UTF-8), or when it is no Windows program.
bool CheckSetupProgram(const std::string* descriptor, uint32_t folderLength, PackageFiles& files,
                       std::string* setup, Refusal* refusal);
