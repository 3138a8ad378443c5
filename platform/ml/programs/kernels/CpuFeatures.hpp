#pragma once

namespace ml {

// Whether this processor runs the AVX2 + FMA + F16C kernels; the others are plain loops.
bool hasVectorUnits();

} // namespace ml
