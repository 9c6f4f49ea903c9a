#include "setup_choice.h"

#include "launch_descriptor.h"
#include "launcher_constants.h"

SetupFault SelectSetupProgram(const wchar_t* descriptor, size_t length, size_t folderLength,
                              SetupFolder& folder, const wchar_t** name) {
  const wchar_t* chosen = kDefaultSetupNameW;
  size_t chosenLength = sizeof(kDefaultSetupNameW) / sizeof(wchar_t) - 1;
  if (descriptor) {
    switch (CheckDescriptorName(descriptor, length)) {
      case DescriptorVerdict::kEmpty:
        return SetupFault::kEmpty;
      case DescriptorVerdict::kTooLong:
        return SetupFault::kTooLong;
      case DescriptorVerdict::kRefused:
        return SetupFault::kRefused;
      case DescriptorVerdict::kAccepted:
        break;
    }
    chosen = descriptor;
    chosenLength = length;
  }
  if (!SetupPathFits(folderLength, chosenLength)) return SetupFault::kDoesNotFit;
  switch (folder.KindOf(chosen)) {
    case SetupFolder::Kind::kNothing:
      return SetupFault::kMissing;
    case SetupFolder::Kind::kFolder:
      return SetupFault::kFolder;
    case SetupFolder::Kind::kFile:
      break;
  }
  *name = chosen;
  return SetupFault::kNone;
}
