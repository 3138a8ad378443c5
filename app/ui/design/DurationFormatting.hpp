#pragma once

#include <QString>

namespace parlino::design {

// Minutes and seconds of a length of time, truncated toward zero and without an hours field:
// "%d:%02d" for stored recordings, "%02d:%02d" for the running timer. A value that is not finite
// reads as 0 and one beyond the 64-bit range as the nearest end of it.
QString formattedDuration(double seconds);
QString formattedDurationPadded(double seconds);

} // namespace parlino::design
