// The bootstrapper's own version, printed by "-version" and logged at start.
#pragma once

namespace tovik {

inline constexpr char kVersionText[] = "32.0.0.116";

}  // namespace tovik
