#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Numbers as the design's log texts show them: the shortest text that reads back to the same
// value, with ".0" on whole numbers ("1.0", "30.0", "0.1"), exponent form for very large or very
// small magnitudes ("1e-05", "1e+16"), and "inf", "-inf", "nan".
std::string numberText(double value);
std::string numberText(float value);

// A size in bytes as the platform's byte-count formatter shows file sizes: decimal units, "Zero KB",
// "1 byte", "999 bytes", "40 KB", "165.1 MB", "1.5 GB" (kilobytes whole, megabytes with one decimal,
// larger units with two, trailing zeros dropped).
std::string byteCountText(std::uint64_t bytes);

} // namespace platform
