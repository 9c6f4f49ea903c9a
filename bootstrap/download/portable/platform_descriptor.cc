#include "platform_descriptor.h"

#include <stdio.h>
#include <string.h>

namespace tovik {

namespace {

struct Row {
  int32_t major;
  int32_t minor;
};

bool IsFiveTwo(VersionVerifier& v) {
  if (!v.Exactly(5, 2)) return false;
  // Workstation editions of 5.2 are only the home-server and the AMD64 ones;
  // the conditions are asked in this order.
  if (!v.IsServer() && v.HasHomeServerSuite()) return true;
  if (!v.IsServer() && v.IsNativeAmd64()) return true;
  return v.IsServer();
}

bool Format(char* out, size_t capacity, const char* host, const PlatformDescriptor& d, const char* file) {
  int n = snprintf(out, capacity, "https://%s/vantel/3/tov/%s%d.%d/%s/%s", host, PlatformWord(d.platform),
                   static_cast<int>(d.majorVersion), static_cast<int>(d.minorVersion),
                   ArchitectureWord(d.architecture), file);
  return n >= 0 && static_cast<size_t>(n) < capacity;
}

}  // namespace

void ClassifyWindows(VersionVerifier& v, PlatformDescriptor* d) {
  d->platform = kPlatformWindows;
  d->architecture = kArchitectureX86;
  d->majorVersion = 0;
  d->minorVersion = 0;
  Row row{0, 0};
  if (v.AtLeast(10, 0)) {
    row = {10, 0};
  } else if (v.AtLeast(6, 3)) {
    row = {6, 3};
  } else if (v.Exactly(6, 2)) {
    row = {6, 2};
  } else if (v.Exactly(6, 1)) {
    row = {6, 1};
  } else if (v.Exactly(6, 0)) {
    row = {6, 0};
  } else if (IsFiveTwo(v)) {
    row = {5, 2};
  } else if (v.Exactly(5, 1)) {
    row = {5, 1};
  } else if (v.Exactly(5, 0)) {
    row = {5, 0};
  }
  d->majorVersion = row.major;
  d->minorVersion = row.minor;
}

const char* PlatformWord(int32_t platform) {
  switch (platform) {
    case kPlatformWindows: return "windows";
    case kPlatformMacOs: return "macos";
    default: return "unknown";
  }
}

const char* ArchitectureWord(int32_t architecture) {
  switch (architecture) {
    case kArchitectureX86: return "x86";
    case kArchitecturePpc: return "ppc";
    default: return "unknown";
  }
}

bool FormatDownloadAddresses(const PlatformDescriptor& d, const char* host, char* installer,
                             size_t installerCapacity, char* signature, size_t signatureCapacity) {
  if (d.platform == 0 || d.architecture == 0 || d.majorVersion == 0) return false;
  if (host == nullptr || installer == nullptr || signature == nullptr) return false;
  // Format into scratch space first so that a host name too long for either
  // buffer leaves both untouched.
  char first[512];
  char second[512];
  if (!Format(first, sizeof(first), host, d, "installer") || strlen(first) >= installerCapacity) return false;
  if (!Format(second, sizeof(second), host, d, "installer.p7") || strlen(second) >= signatureCapacity) {
    return false;
  }
  memcpy(installer, first, strlen(first) + 1);
  memcpy(signature, second, strlen(second) + 1);
  return true;
}

}  // namespace tovik
