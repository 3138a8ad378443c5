#pragma once

// Kernels marked ML_VECTOR_TARGET are compiled for AVX2 + FMA + F16C and run only when
// hasVectorUnits() says so, those marked ML_WIDE_TARGET for AVX-512 (F) and run only when the
// kernel set is avx512; the rest of the program stays baseline x86-64.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ML_VECTOR_TARGET __attribute__((target("avx2,fma,f16c")))
#define ML_WIDE_TARGET __attribute__((target("avx512f,avx2,fma,f16c")))
#define ML_HAS_X86 1
#endif

#include <optional>
#include <string_view>

namespace ml {

// The families of kernels a processor may run, in increasing order of width. `portable` is plain
// loops and the BLAS library; the others are this module's own micro-kernels.
enum class KernelSet { portable = 0, avx2 = 1, avx512 = 2 };

// Whether this processor runs the AVX2 + FMA + F16C kernels; the others are plain loops.
bool hasVectorUnits();

// Whether this processor can run that set.
bool supportsKernelSet(KernelSet set);

// The widest set this processor runs, lowered to the one named by PARLINO_ML_KERNELS ("portable",
// "avx2", "avx512") when that is set to a narrower one; read once.
KernelSet activeKernelSet();

const char* kernelSetName(KernelSet set);
std::optional<KernelSet> kernelSetNamed(std::string_view name);

} // namespace ml
