#pragma once

#include <string>

namespace platform {

// Numbers as the design's log texts show them: the shortest text that reads back to the same
// value, with ".0" on whole numbers ("1.0", "30.0", "0.1"), exponent form for very large or very
// small magnitudes ("1e-05", "1e+16"), and "inf", "-inf", "nan".
std::string numberText(double value);
std::string numberText(float value);

} // namespace platform
