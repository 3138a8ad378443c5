#include "platform/ml/programs/kernels/CpuFeatures.hpp"

#include <algorithm>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace ml {

bool hasVectorUnits()
{
    return supportsKernelSet(KernelSet::avx2);
}

bool supportsKernelSet(KernelSet set)
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = [] {
        // Clang before 15 has no "f16c" for __builtin_cpu_supports; the CPU is asked directly.
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        const bool f16c = __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_F16C) != 0;
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && f16c;
    }();
    static const bool avx512 = avx2 && __builtin_cpu_supports("avx512f");
    switch (set) {
    case KernelSet::portable: return true;
    case KernelSet::avx2: return avx2;
    case KernelSet::avx512: return avx512;
    }
    return false;
#else
    return set == KernelSet::portable;
#endif
}

KernelSet activeKernelSet()
{
    static const KernelSet active = [] {
        KernelSet widest = KernelSet::portable;
        for (KernelSet set : {KernelSet::avx2, KernelSet::avx512}) {
            if (supportsKernelSet(set)) {
                widest = set;
            }
        }
        const char* requested = std::getenv("PARLINO_ML_KERNELS");
        if (const auto named = requested ? kernelSetNamed(requested) : std::nullopt) {
            return std::min(widest, *named);
        }
        return widest;
    }();
    return active;
}

const char* kernelSetName(KernelSet set)
{
    switch (set) {
    case KernelSet::portable: return "portable";
    case KernelSet::avx2: return "avx2";
    case KernelSet::avx512: return "avx512";
    }
    return "portable";
}

std::optional<KernelSet> kernelSetNamed(std::string_view name)
{
    for (KernelSet set : {KernelSet::portable, KernelSet::avx2, KernelSet::avx512}) {
        if (name == kernelSetName(set)) {
            return set;
        }
    }
    return std::nullopt;
}

} // namespace ml
