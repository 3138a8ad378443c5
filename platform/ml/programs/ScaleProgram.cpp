#include "platform/ml/programs/ScaleProgram.hpp"

#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"

namespace ml {

ScaleProgram::ScaleProgram(const ProgramContext& context)
{
    const auto& folder = context.folder;
    const auto* input = folder.description().input("x");
    const auto* output = folder.description().output("y");
    if (!input || !output || input->shape != output->shape) {
        throw ModelError(folder.path().string() + ": the scale program needs input \"x\" and output \"y\" of one shape");
    }
    factor_ = static_cast<float>(folder.numberParameter("factor"));
    bias_ = folder.tensor("bias", input->shape);
}

DictionaryFeatureProvider ScaleProgram::predict(const FeatureProvider& inputs) const
{
    const MultiArray x = *inputs.featureValue("x");
    MultiArray y(x.shape(), MultiArrayDataType::float32);
    float* out = y.data<float>();
    for (std::size_t i = 0; i < x.count(); ++i) {
        out[i] = static_cast<float>(x[i]) * factor_ + static_cast<float>(bias_[i]);
    }
    DictionaryFeatureProvider result;
    result.set("y", y);
    return result;
}

} // namespace ml
