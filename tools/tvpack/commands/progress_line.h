// The progress line create draws on a terminal while it packs. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "payload_writer.h"
#include "tvpack.h"

// Redraws "<done> of <total>, <files> of <files> files, <rate>/s" on standard
// error at most four times a second, and once more at Finish. Draws nothing
// unless `shown`. The writers call Advance from one thread at a time.
class ProgressLine final : public PackProgress {
 public:
  ProgressLine(Console& console, bool shown, uint64_t totalBytes, size_t totalFiles);
  void Advance(uint64_t bytes, uint32_t files) override;
  // Draws the final state and ends the line.
  void Finish();

 private:
  void Draw(double now);

  Console& console_;
  bool shown_;
  uint64_t totalBytes_;
  size_t totalFiles_;
  uint64_t bytes_ = 0;
  size_t files_ = 0;
  double start_, last_;  // seconds of the monotonic clock
};
