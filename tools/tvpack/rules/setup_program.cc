#include "setup_program.h"

#include "launch_descriptor.h"
#include "launcher_constants.h"
#include "text.h"

namespace {

std::string ProblemText(SetupFault fault, bool named, uint32_t folderLength) {
  switch (fault) {
    case SetupFault::kDoesNotFit:
      return "the setup program's path does not fit the launcher's " + std::to_string(kPathCapacity) +
             " characters under a " + std::to_string(folderLength) + "-character extraction folder";
    case SetupFault::kMissing:
      return std::string("the setup program is not in the payload") +
             (named ? "" : " (no .launch names another: the launcher starts this default name)");
    case SetupFault::kFolder:
      return "the setup program is a folder, which the launcher would open instead of running";
    default:
      // The descriptor's own faults are found by DescriptorSetupName first.
      return "the launcher refuses the setup program's name";
  }
}

}  // namespace

bool CheckSetupProgram(const std::string* descriptor, uint32_t folderLength, PackageFiles& files,
                       std::string* setup, Refusal* refusal) {
  setup->clear();
  std::string name = kDefaultSetupName;
  if (descriptor) {
    std::string reason;
    name = DescriptorSetupName(*descriptor, &reason);
    if (name.empty()) {
      *refusal = {kDescriptorName, reason};
      return false;
    }
  }
  *setup = NormalizeRelative(name);
  std::wstring wide;
  DecodeUtf8(name, &wide);
  const wchar_t* chosen = nullptr;
  const SetupFault fault = SelectSetupProgram(descriptor ? wide.c_str() : nullptr, wide.size(),
                                              folderLength, files, &chosen);
  if (fault != SetupFault::kNone) {
    *refusal = {*setup, ProblemText(fault, descriptor != nullptr, folderLength)};
    return false;
  }
  if (!LooksLikeProgram(files.Head(*setup))) {
    *refusal = {*setup, "the setup program is not a Windows program (no PE headers)"};
    return false;
  }
  return true;
}
