#include "platform/ml/programs/WhisperAudioEncoderProgram.hpp"

#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/programs/ProgramSupport.hpp"
#include "platform/ml/programs/kernels/MatrixKernels.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <cmath>

namespace ml {

using namespace programSupport;

namespace {

constexpr std::size_t rowsPerTask = 16;

LinearWeights convolution(const ModelFolder& folder, const std::string& prefix, int outputs, int inputs)
{
    LinearWeights layer;
    const MultiArray& weight = folder.tensor(prefix + ".weight", {outputs, inputs, 3});
    transformerWeights::requireFloatStorage(folder, prefix + ".weight", weight);
    layer.weight = weight.reshaped({outputs, inputs * 3});
    transformerWeights::requireFloatStorage(folder, prefix + ".bias", folder.tensor(prefix + ".bias"));
    layer.bias = floatTensor(folder, prefix + ".bias", {outputs});
    return layer;
}

} // namespace

WhisperAudioEncoderProgram::WhisperAudioEncoderProgram(const ProgramContext& context)
{
    const ModelFolder& folder = context.folder;
    melCount_ = boundedParameter(folder, "melCount", 1, 512);
    width_ = boundedParameter(folder, "width", 1, 16384);
    heads_ = boundedParameter(folder, "heads", 1, width_);
    const int layers = boundedParameter(folder, "layers", 0, 256);
    if (width_ % heads_ != 0) {
        failFolder(folder, "parameter \"width\" is not a multiple of \"heads\"");
    }
    inputFrames_ = requireInput(folder, "melspectrogram_features", {MultiArrayDataType::float32, MultiArrayDataType::float16},
        {1, melCount_, 1, anySize})
                       .shape[3];
    frames_ = (inputFrames_ + 1) / 2;
    outputType_ = requireOutput(folder, "encoder_output_embeds", {MultiArrayDataType::float32, MultiArrayDataType::float16},
        {1, width_, 1, frames_})
                      .dataType;

    conv1_ = convolution(folder, "conv1", width_, melCount_);
    conv2_ = convolution(folder, "conv2", width_, width_);
    transformerWeights::requireFloatStorage(folder, "positional_embedding", folder.tensor("positional_embedding"));
    positions_ = floatTensor(folder, "positional_embedding", {frames_, width_});
    for (int i = 0; i < layers; ++i) {
        const std::string prefix = "layers." + std::to_string(i);
        blocks_.push_back({transformerWeights::norm(folder, prefix + ".attention_norm", width_),
            transformerWeights::attention(folder, prefix + ".attention", width_),
            transformerWeights::norm(folder, prefix + ".mlp_norm", width_),
            transformerWeights::mlp(folder, prefix + ".mlp", width_)});
    }
    finalNorm_ = transformerWeights::norm(folder, "final_norm", width_);
    pool_ = std::make_unique<ThreadPool>(context.threadCount);
}

DictionaryFeatureProvider WhisperAudioEncoderProgram::predict(const FeatureProvider& inputs) const
{
    const int d = width_;
    const std::size_t width = static_cast<std::size_t>(d);
    const std::size_t inputFrames = static_cast<std::size_t>(inputFrames_);
    const std::size_t frames = static_cast<std::size_t>(frames_);
    std::vector<float> scratch;

    std::vector<float> mel(static_cast<std::size_t>(melCount_) * inputFrames);
    readFloats(*inputs.featureValue("melspectrogram_features"), mel.data());

    // Convolutions as matrix products over gathered windows: column c * 3 + k holds input channel c
    // at offset k - 1 from the (strided) output position, zero beyond the edges.
    const std::size_t columns1 = static_cast<std::size_t>(melCount_) * 3;
    std::vector<float> windows(inputFrames * columns1);
    pool_->parallelFor(inputFrames, rowsPerTask * 4, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            float* row = windows.data() + t * columns1;
            for (std::size_t c = 0; c < static_cast<std::size_t>(melCount_); ++c) {
                const float* channel = mel.data() + c * inputFrames;
                row[c * 3] = t > 0 ? channel[t - 1] : 0.0f;
                row[c * 3 + 1] = channel[t];
                row[c * 3 + 2] = t + 1 < inputFrames ? channel[t + 1] : 0.0f;
            }
        }
    });
    std::vector<float> hidden(inputFrames * width);
    multiplyTransposed(inputFrames_, d, static_cast<int>(columns1), 1.0f, windows.data(), static_cast<int>(columns1),
        conv1_.floats(scratch, *pool_), static_cast<int>(columns1), 0.0f, hidden.data(), d);
    pool_->parallelFor(inputFrames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            float* row = hidden.data() + t * width;
            axpy(1.0f, conv1_.bias.data(), row, width);
            gelu(row, width);
        }
    });

    const std::size_t columns2 = width * 3;
    windows.assign(frames * columns2, 0.0f);
    pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            float* row = windows.data() + t * columns2;
            for (std::size_t k = 0; k < 3; ++k) {
                const std::size_t source = 2 * t + k; // input frame + 1
                if (source == 0 || source > inputFrames) {
                    continue;
                }
                const float* in = hidden.data() + (source - 1) * width;
                for (std::size_t c = 0; c < width; ++c) {
                    row[c * 3 + k] = in[c];
                }
            }
        }
    });
    std::vector<float> x(frames * width);
    multiplyTransposed(frames_, d, static_cast<int>(columns2), 1.0f, windows.data(), static_cast<int>(columns2),
        conv2_.floats(scratch, *pool_), static_cast<int>(columns2), 0.0f, x.data(), d);
    pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            float* row = x.data() + t * width;
            axpy(1.0f, conv2_.bias.data(), row, width);
            gelu(row, width);
            axpy(1.0f, positions_.data() + t * width, row, width);
        }
    });
    windows = {};
    hidden = {};
    mel = {};

    for (const Block& block : blocks_) {
        runBlock(block, x);
    }

    // Final norm, written channel-major as [1, width, 1, frames].
    std::vector<float> transposed(frames * width);
    pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        std::vector<float> row(width);
        for (std::size_t t = begin; t < end; ++t) {
            layerNorm(x.data() + t * width, row.data(), width, finalNorm_.gain.data(), finalNorm_.bias.data(),
                transformerWeights::normEpsilon);
            for (std::size_t c = 0; c < width; ++c) {
                transposed[c * frames + t] = row[c];
            }
        }
    });
    MultiArray output({1, d, 1, frames_}, outputType_);
    writeFloats(output, transposed.data());
    DictionaryFeatureProvider result;
    result.set("encoder_output_embeds", output);
    return result;
}

void WhisperAudioEncoderProgram::runBlock(const Block& block, std::vector<float>& x) const
{
    const int d = width_;
    const std::size_t width = static_cast<std::size_t>(d);
    const std::size_t frames = static_cast<std::size_t>(frames_);
    const int headWidth = d / heads_;
    const float scale = 1.0f / std::sqrt(static_cast<float>(headWidth));
    std::vector<float> scratch;

    // Pre-norm attention: the three projections as one product against stacked weights.
    std::vector<float> normed(frames * width);
    auto normRows = [&](const NormWeights& norm) {
        pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
            for (std::size_t t = begin; t < end; ++t) {
                layerNorm(x.data() + t * width, normed.data() + t * width, width, norm.gain.data(), norm.bias.data(),
                    transformerWeights::normEpsilon);
            }
        });
    };
    normRows(block.attentionNorm);

    const std::size_t stacked = 3 * width;
    std::vector<float> projectionWeights(stacked * width);
    const LinearWeights* projections[] = {&block.attention.query, &block.attention.key, &block.attention.value};
    for (std::size_t p = 0; p < 3; ++p) {
        const float* w = projections[p]->floats(scratch, *pool_);
        std::copy(w, w + width * width, projectionWeights.data() + p * width * width);
    }
    std::vector<float> qkv(frames * stacked);
    multiplyTransposed(frames_, static_cast<int>(stacked), d, 1.0f, normed.data(), d, projectionWeights.data(), d, 0.0f,
        qkv.data(), static_cast<int>(stacked));
    pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            float* row = qkv.data() + t * stacked;
            axpy(1.0f, block.attention.query.bias.data(), row, width);
            axpy(1.0f, block.attention.value.bias.data(), row + 2 * width, width);
        }
    });

    std::vector<float> scores(frames * frames);
    std::vector<float>& attended = normed;
    for (int h = 0; h < heads_; ++h) {
        const float* q = qkv.data() + static_cast<std::size_t>(h * headWidth);
        const float* k = q + width;
        const float* v = q + 2 * width;
        multiplyTransposed(frames_, frames_, headWidth, 1.0f, q, static_cast<int>(stacked), k, static_cast<int>(stacked), 0.0f,
            scores.data(), frames_);
        pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
            for (std::size_t t = begin; t < end; ++t) {
                softmax(scores.data() + t * frames, frames, scale);
            }
        });
        multiply(frames_, headWidth, frames_, 1.0f, scores.data(), frames_, v, static_cast<int>(stacked), 0.0f,
            attended.data() + static_cast<std::size_t>(h * headWidth), d);
    }
    multiplyTransposed(frames_, d, d, 1.0f, attended.data(), d, block.attention.output.floats(scratch, *pool_), d, 1.0f,
        x.data(), d);

    // Output bias, then the pre-norm MLP.
    pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            float* row = x.data() + t * width;
            axpy(1.0f, block.attention.output.bias.data(), row, width);
            layerNorm(row, normed.data() + t * width, width, block.mlpNorm.gain.data(), block.mlpNorm.bias.data(),
                transformerWeights::normEpsilon);
        }
    });
    const std::size_t inner = 4 * width;
    std::vector<float> expanded(frames * inner);
    multiplyTransposed(frames_, static_cast<int>(inner), d, 1.0f, normed.data(), d, block.mlp.expand.floats(scratch, *pool_), d,
        0.0f, expanded.data(), static_cast<int>(inner));
    pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            float* row = expanded.data() + t * inner;
            axpy(1.0f, block.mlp.expand.bias.data(), row, inner);
            gelu(row, inner);
        }
    });
    multiplyTransposed(frames_, d, static_cast<int>(inner), 1.0f, expanded.data(), static_cast<int>(inner),
        block.mlp.contract.floats(scratch, *pool_), static_cast<int>(inner), 1.0f, x.data(), d);
    pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            axpy(1.0f, block.mlp.contract.bias.data(), x.data() + t * width, width);
        }
    });
}

} // namespace ml
