#pragma once

#include "platform/ml/Program.hpp"

namespace ml {

// y = x * factor + bias, element-wise, with "bias" a weight tensor shaped like x. A minimal program
// that exercises folder loading, weights and predictions end to end.
class ScaleProgram : public Program {
public:
    static constexpr const char* name = "scale";
    explicit ScaleProgram(const ProgramContext& context);
    DictionaryFeatureProvider predict(const FeatureProvider& inputs) const override;

private:
    float factor_ = 1;
    MultiArray bias_;
};

} // namespace ml
