#pragma once

#include "platform/ml/MultiArray.hpp"
#include "platform/ml/programs/kernels/BufferPool.hpp"
#include "platform/ml/programs/kernels/MatrixKernels.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <string>
#include <vector>

namespace ml {

class ModelFolder;

// The weights of the pre-norm transformer blocks shared by the audio encoder and the text decoder,
// kept as the folder stores them (float16 or float32); small vectors are copied to float32.
struct LinearWeights {
    MultiArray weight; // [outputs, inputs]
    std::vector<float> bias; // empty when the layer has none

    WeightMatrix matrix() const;
    int outputs() const { return weight.shape()[0]; }
    // The weights as float32 rows: the stored ones, or a conversion into a pooled buffer.
    std::shared_ptr<const float> floats(BufferPool& buffers, ThreadPool& pool) const;
};

struct NormWeights {
    std::vector<float> gain;
    std::vector<float> bias;
};

struct AttentionWeights {
    LinearWeights query;
    LinearWeights key; // no bias
    LinearWeights value;
    LinearWeights output;
};

struct MlpWeights {
    LinearWeights expand; // [4 width, width]
    LinearWeights contract; // [width, 4 width]
};

namespace transformerWeights {

constexpr float normEpsilon = 1e-5f;

LinearWeights linear(const ModelFolder& folder, const std::string& prefix, int outputs, int inputs, bool hasBias);
NormWeights norm(const ModelFolder& folder, const std::string& prefix, int width);
AttentionWeights attention(const ModelFolder& folder, const std::string& prefix, int width);
MlpWeights mlp(const ModelFolder& folder, const std::string& prefix, int width);

// Every weight must be stored as float16 or float32.
void requireFloatStorage(const ModelFolder& folder, const std::string& name, const MultiArray& tensor);

} // namespace transformerWeights

} // namespace ml
