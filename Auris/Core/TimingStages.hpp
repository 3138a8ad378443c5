#pragma once

#include "Auris/Core/TranscriptionTypes.hpp"

#include <vector>

namespace auris {

// One row of a timings report: a stage's seconds and how often it ran.
struct TimingStage {
    const char* label;
    double seconds;
    double runs;
    // Shown in the engine's own report only, not in the command-line summary.
    bool engineOnly = false;
};

// The rows of a timings report, in the order both reports show them.
std::vector<TimingStage> timingStages(const TranscriptionTimings& timings);

} // namespace auris
