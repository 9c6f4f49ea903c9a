#include "launch_descriptor.h"

#include "entry_name.h"

size_t DescriptorLineLength(const char* bytes, size_t size) {
  size_t length = 0;
  while (length < size && bytes[length] != '\r' && bytes[length] != '\n') ++length;
  return length;
}

DescriptorVerdict CheckDescriptorName(const wchar_t* name, size_t length) {
  if (length == 0) return DescriptorVerdict::kEmpty;
  if (length >= kPathCapacity) return DescriptorVerdict::kTooLong;
  if (!EntryNameIsSafe(name, length)) return DescriptorVerdict::kRefused;
  return DescriptorVerdict::kAccepted;
}
