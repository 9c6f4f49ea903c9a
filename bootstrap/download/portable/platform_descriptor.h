// Classification of the running system and the two download addresses built
// from it. Portable: the system is asked through a VersionVerifier, so the
// ladder runs natively against a fake in the tests.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tovik {

struct PlatformDescriptor {
  int32_t platform = 0;      // 0 unset, 1 Windows, 2 macOS
  int32_t majorVersion = 0;  // 0: not recognised
  int32_t minorVersion = 0;
  int32_t architecture = 0;  // 0 unset, 1 x86, 2 PowerPC
};

constexpr int32_t kPlatformWindows = 1;
constexpr int32_t kPlatformMacOs = 2;
constexpr int32_t kArchitectureX86 = 1;
constexpr int32_t kArchitecturePpc = 2;

// The questions the ladder asks about the running system. Each answers one
// test; none reads a version number.
class VersionVerifier {
 public:
  // Version (with service pack major 0) is major.minor or later.
  virtual bool AtLeast(int32_t major, int32_t minor) = 0;
  // Version is exactly major.minor.
  virtual bool Exactly(int32_t major, int32_t minor) = 0;
  // The product type is not workstation.
  virtual bool IsServer() = 0;
  // The suite mask holds the home-server bit.
  virtual bool HasHomeServerSuite() = 0;
  // The native processor is AMD64.
  virtual bool IsNativeAmd64() = 0;

 protected:
  ~VersionVerifier() = default;
};

// Sets platform Windows and architecture x86, then the version of the first
// matching row: 10.0, 6.3, 6.2, 6.1, 6.0, 5.2 (home server, AMD64
// workstation or server), 5.1, 5.0; otherwise leaves the version 0.0.
void ClassifyWindows(VersionVerifier& verifier, PlatformDescriptor* descriptor);

// Words of the address: "windows", "macos" or "unknown"; "x86", "ppc" or "unknown".
const char* PlatformWord(int32_t platform);
const char* ArchitectureWord(int32_t architecture);

// "https://<host>/vantel/3/tov/<platform><major>.<minor>/<arch>/installer"
// and the same ending in "installer.p7". False, with neither buffer written,
// when platform, architecture or major version is 0, or when an address
// (terminator included) does not fit its buffer.
bool FormatDownloadAddresses(const PlatformDescriptor& descriptor, const char* host, char* installer,
                             size_t installerCapacity, char* signature, size_t signatureCapacity);

}  // namespace tovik
