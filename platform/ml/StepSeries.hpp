#pragma once

#include "platform/ml/FeatureProvider.hpp"

namespace ml {

// The predictions of one token loop, one after another: each step's input follows from the
// outputs of the step before (see Model::runSteps). The inputs a series hands out stay valid and
// unchanged until its next call.
class StepSeries {
public:
    virtual ~StepSeries() = default;
    // The first step's input, or null for a series without steps.
    virtual const FeatureProvider* start() = 0;
    // Takes a step's outputs and returns the next step's input, or null when the series ends.
    // Called on any thread, never twice at once; what it throws ends the series.
    virtual const FeatureProvider* advance(DictionaryFeatureProvider outputs) = 0;

    // Set by a program on the series it wraps, to know its own among the steps it is given (see
    // StepBatcher::Run); null on any other.
    const void* tag = nullptr;
};

} // namespace ml
