#include "download_limits.h"

namespace tovik {

// Written only by OverrideDownloadLimits, which the product does not link.
const DownloadLimits* gActiveDownloadLimits = &kDownloadLimits;

const DownloadLimits& ActiveDownloadLimits() { return *gActiveDownloadLimits; }

}  // namespace tovik
