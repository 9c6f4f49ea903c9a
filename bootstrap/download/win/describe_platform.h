// The running Windows system as a PlatformDescriptor, and the download
// addresses for it on the configured server (TOVIK_DOWNLOAD_HOST).
#pragma once

#include <stddef.h>

#include "platform_descriptor.h"

namespace tovik {

// Fills `descriptor` afresh: Windows, x86, and the version from the ladder
// (every test through VerifyVersionInfoW); 0.0 when not recognised.
void DescribePlatform(PlatformDescriptor* descriptor);

// Both addresses for this system on the configured host. False, with neither
// buffer written, when the system is not recognised.
bool BuildDownloadAddresses(char* installer, size_t installerCapacity, char* signature,
                            size_t signatureCapacity);

// The configured download server's host name.
const char* DownloadHost();

}  // namespace tovik
