#pragma once

#include <string>

namespace ml {

// Where a model may run. On this platform every model runs on the CPU; the choice sets how many
// threads a prediction may use.
enum class ComputeUnits : int { cpuOnly = 0, cpuAndGPU = 1, all = 2, cpuAndNeuralEngine = 3 };

std::string description(ComputeUnits units);
int threadCount(ComputeUnits units);

} // namespace ml
