#include "platform/ml/programs/TransformerWeights.hpp"

#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/programs/ProgramSupport.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

namespace ml {

namespace {
constexpr std::size_t conversionGrain = 1 << 16;
}

WeightMatrix LinearWeights::matrix() const
{
    return programSupport::weightMatrix(weight);
}

std::shared_ptr<const float> LinearWeights::floats(BufferPool& buffers, ThreadPool& pool) const
{
    if (weight.dataType() == MultiArrayDataType::float32) {
        return std::shared_ptr<const float>(std::shared_ptr<void>(), weight.data<float>());
    }
    auto converted = buffers.floats(weight.count());
    const auto* source = static_cast<const std::uint16_t*>(weight.dataPointer());
    float* destination = converted.get();
    pool.parallelFor(weight.count(), conversionGrain, [&](std::size_t begin, std::size_t end) {
        halfToFloat(source + begin, destination + begin, end - begin);
    });
    return converted;
}

namespace transformerWeights {

void requireFloatStorage(const ModelFolder& folder, const std::string& name, const MultiArray& tensor)
{
    if (tensor.dataType() != MultiArrayDataType::float16 && tensor.dataType() != MultiArrayDataType::float32) {
        programSupport::failFolder(folder, "tensor \"" + name + "\" must be stored as float16 or float32");
    }
}

LinearWeights linear(const ModelFolder& folder, const std::string& prefix, int outputs, int inputs, bool hasBias)
{
    LinearWeights layer;
    layer.weight = folder.tensor(prefix + ".weight", {outputs, inputs});
    requireFloatStorage(folder, prefix + ".weight", layer.weight);
    if (hasBias) {
        requireFloatStorage(folder, prefix + ".bias", folder.tensor(prefix + ".bias"));
        layer.bias = programSupport::floatTensor(folder, prefix + ".bias", {outputs});
    }
    return layer;
}

NormWeights norm(const ModelFolder& folder, const std::string& prefix, int width)
{
    requireFloatStorage(folder, prefix + ".weight", folder.tensor(prefix + ".weight"));
    requireFloatStorage(folder, prefix + ".bias", folder.tensor(prefix + ".bias"));
    return {programSupport::floatTensor(folder, prefix + ".weight", {width}),
        programSupport::floatTensor(folder, prefix + ".bias", {width})};
}

AttentionWeights attention(const ModelFolder& folder, const std::string& prefix, int width)
{
    return {linear(folder, prefix + ".query", width, width, true), linear(folder, prefix + ".key", width, width, false),
        linear(folder, prefix + ".value", width, width, true), linear(folder, prefix + ".output", width, width, true)};
}

MlpWeights mlp(const ModelFolder& folder, const std::string& prefix, int width)
{
    return {linear(folder, prefix + ".fc1", 4 * width, width, true), linear(folder, prefix + ".fc2", width, 4 * width, true)};
}

} // namespace transformerWeights

} // namespace ml
