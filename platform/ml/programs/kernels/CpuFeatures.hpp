#pragma once

// Kernels marked ML_VECTOR_TARGET are compiled for AVX2 + FMA + F16C and run only when
// hasVectorUnits() says so; the rest of the program stays baseline x86-64.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ML_VECTOR_TARGET __attribute__((target("avx2,fma,f16c")))
#define ML_HAS_X86 1
#endif

namespace ml {

// Whether this processor runs the AVX2 + FMA + F16C kernels; the others are plain loops.
bool hasVectorUnits();

} // namespace ml
