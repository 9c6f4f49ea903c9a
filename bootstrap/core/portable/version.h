// The bootstrapper's own version, printed by "-version" and logged at start.
#pragma once

#include "tv_version.h"  // TV_VERSION_TEXT, generated from the project's version

namespace tovik {

inline constexpr char kVersionText[] = TV_VERSION_TEXT;

}  // namespace tovik
