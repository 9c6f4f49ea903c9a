#include "progress_line.h"

#include "options.h"
#include "platform.h"

ProgressLine::ProgressLine(Console& console, bool shown, uint64_t totalBytes, size_t totalFiles)
    : console_(console), shown_(shown), totalBytes_(totalBytes), totalFiles_(totalFiles),
      start_(platform::Seconds()), last_(start_) {}

void ProgressLine::Advance(uint64_t bytes, uint32_t files) {
  bytes_ += bytes;
  files_ += files;
  const double now = platform::Seconds();
  if (!shown_ || now - last_ < 0.25) return;
  last_ = now;
  Draw(now);
}

void ProgressLine::Finish() {
  if (!shown_) return;
  Draw(platform::Seconds());
  console_.Err("\n");
}

void ProgressLine::Draw(double now) {
  // The first call can come within the clock's resolution of the start.
  const double elapsed = now - start_ > 1e-6 ? now - start_ : 1e-6;
  console_.Err("\r" + Megabytes(static_cast<double>(bytes_)) + " of " +
               Megabytes(static_cast<double>(totalBytes_)) + ", " + Number(files_) + " of " +
               Number(totalFiles_) + " files, " +
               Megabytes(static_cast<double>(bytes_) / elapsed) + "/s   ");
}
