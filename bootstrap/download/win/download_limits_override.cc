// Linked into the test libraries only: lets tests shorten the time-outs and
// lower the ceilings, so that a stalled server costs them seconds.
#include "download_limits.h"

namespace tovik {

extern const DownloadLimits* gActiveDownloadLimits;

void OverrideDownloadLimits(const DownloadLimits* limits) {
  static DownloadLimits copy;
  if (limits == nullptr) {
    gActiveDownloadLimits = &kDownloadLimits;
    return;
  }
  copy = *limits;
  gActiveDownloadLimits = &copy;
}

}  // namespace tovik
