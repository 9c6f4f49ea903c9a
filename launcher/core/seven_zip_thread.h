// A second thread for the 7z walk, given by the platform: a block's main
// coder decodes on it, ahead of the filter, the checks and the sink. The
// portable core knows only this much of it.
#pragma once

#include <stdint.h>

// Blocks from this size on are decoded ahead on the second thread, where
// there is one; a smaller block costs more to hand over than it gains.
inline constexpr uint64_t kSevenZipAheadFrom = 1u << 20;

class SevenZipSecondThread {
 public:
  // Runs `job(context)` on the second thread, once any job run before has
  // returned. False when there is no second thread; nothing runs then.
  virtual bool Run(void (*job)(void*), void* context) = 0;
  // The lock both sides take around what they share.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  // With the lock held: lets it go until Wake is called (or sooner), then
  // takes it again. Callers check their condition again in a loop.
  virtual void Sleep() = 0;
  // Wakes whoever sleeps; called with the lock held.
  virtual void Wake() = 0;

 protected:
  ~SevenZipSecondThread() = default;
};
