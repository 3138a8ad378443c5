#include "platform/ml/ComputeUnits.hpp"

#include <algorithm>
#include <thread>

namespace ml {

std::string description(ComputeUnits units)
{
    switch (units) {
    case ComputeUnits::cpuOnly: return "cpuOnly";
    case ComputeUnits::cpuAndGPU: return "cpuAndGPU";
    case ComputeUnits::all: return "all";
    case ComputeUnits::cpuAndNeuralEngine: return "cpuAndNeuralEngine";
    }
    return "unknown";
}

int threadCount(ComputeUnits units)
{
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    switch (units) {
    case ComputeUnits::cpuOnly: return std::max(1, cores / 2);
    case ComputeUnits::cpuAndGPU:
    case ComputeUnits::all:
    case ComputeUnits::cpuAndNeuralEngine: return cores;
    }
    return 1;
}

} // namespace ml
