// SHA-256, fed piece by piece: the digest of a runtime installer taken while
// its bytes arrive. Uses the processor's SHA instructions where it has them
// (an order of magnitude faster than the system's providers), else portable
// code; both give the same digest.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tovik {

class Sha256 {
 public:
  // `allowHardware` false forces the portable code (tests compare both).
  explicit Sha256(bool allowHardware = true);

  void Update(const uint8_t* data, size_t size);
  // The digest of everything passed to Update; the object is spent.
  void Final(uint8_t digest[32]);

  // Whether this processor has the instructions the fast path uses.
  static bool HardwareAvailable();

 private:
  void Blocks(const uint8_t* data, size_t blocks);

  uint32_t state_[8];
  uint8_t pending_[64];
  size_t pendingSize_ = 0;
  uint64_t totalSize_ = 0;
  bool hardware_;
};

}  // namespace tovik
