#include "platform/ml/programs/WhisperAudioEncoderProgram.hpp"

#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/programs/ProgramSupport.hpp"
#include "platform/ml/programs/kernels/MatrixKernels.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>

namespace ml {

using namespace programSupport;

namespace {

constexpr std::size_t rowsPerTask = 16;
constexpr std::size_t attentionRows = 128;

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

// Tile epilogues: add a bias row to every row of the tile, optionally followed by GELU.
TileEpilogue addBias(float* matrix, std::size_t stride, const float* bias, bool thenGelu = false)
{
    return [=](const GemmTile& tile) {
        const std::size_t count = static_cast<std::size_t>(tile.columnEnd - tile.columnBegin);
        for (int r = tile.rowBegin; r < tile.rowEnd; ++r) {
            float* row = matrix + static_cast<std::size_t>(r) * stride + static_cast<std::size_t>(tile.columnBegin);
            axpy(1.0f, bias + tile.columnBegin, row, count);
            if (thenGelu) {
                gelu(row, count);
            }
        }
    };
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
    buffers_ = BufferPool::create();
}

DictionaryFeatureProvider WhisperAudioEncoderProgram::predict(const FeatureProvider& inputs) const
{
    const int d = width_;
    const std::size_t width = static_cast<std::size_t>(d);
    const std::size_t inputFrames = static_cast<std::size_t>(inputFrames_);
    const std::size_t frames = static_cast<std::size_t>(frames_);
    const std::size_t mels = static_cast<std::size_t>(melCount_);

    auto x = buffers_->floats(frames * width);
    {
        // Both convolutions as matrix products over windows of three frames. The inputs are kept
        // frame-major with a zero frame at each end, so a window is three consecutive rows.
        auto channels = buffers_->floats(mels * inputFrames);
        readFloats(*inputs.featureValue("melspectrogram_features"), channels.get());
        auto mel = buffers_->floats((inputFrames + 2) * mels);
        std::fill_n(mel.get(), mels, 0.0f);
        std::fill_n(mel.get() + (inputFrames + 1) * mels, mels, 0.0f);
        pool_->parallelFor(inputFrames, rowsPerTask * 4, [&](std::size_t begin, std::size_t end) {
            for (std::size_t t = begin; t < end; ++t) {
                for (std::size_t c = 0; c < mels; ++c) {
                    mel.get()[(t + 1) * mels + c] = channels.get()[c * inputFrames + t];
                }
            }
        });
        channels.reset();
        auto hidden = buffers_->floats((inputFrames + 2) * width);
        std::fill_n(hidden.get(), width, 0.0f);
        std::fill_n(hidden.get() + (inputFrames + 1) * width, width, 0.0f);
        convolve(conv1_, mel.get(), mels, 1, inputFrames, hidden.get() + width, nullptr);
        mel.reset();
        convolve(conv2_, hidden.get(), width, 2, frames, x.get(), positions_.data());
    }

    for (const Block& block : blocks_) {
        runBlock(block, x.get());
    }

    // Final norm, written channel-major as [1, width, 1, frames].
    auto transposed = buffers_->floats(frames * width);
    pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        std::vector<float> row(width);
        for (std::size_t t = begin; t < end; ++t) {
            layerNorm(x.get() + t * width, row.data(), width, finalNorm_.gain.data(), finalNorm_.bias.data(),
                transformerWeights::normEpsilon);
            for (std::size_t c = 0; c < width; ++c) {
                transposed.get()[c * frames + t] = row[c];
            }
        }
    });
    MultiArray output = buffers_->array({1, d, 1, frames_}, outputType_);
    writeFloats(output, transposed.get());
    DictionaryFeatureProvider result;
    result.set("encoder_output_embeds", output);
    return result;
}

void WhisperAudioEncoderProgram::convolve(const LinearWeights& layer, const float* input, std::size_t channels, std::size_t stride,
    std::size_t outputFrames, float* output, const float* positions) const
{
    const std::size_t width = static_cast<std::size_t>(width_);
    const std::size_t columns = 3 * channels;
    // Weights from [output][channel][tap] to [output][tap][channel], the order of a window.
    auto weights = buffers_->floats(width * columns);
    const MultiArray& stored = layer.weight;
    pool_->parallelFor(width, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        std::vector<float> row(columns);
        for (std::size_t o = begin; o < end; ++o) {
            const std::size_t offset = o * columns;
            if (stored.dataType() == MultiArrayDataType::float16) {
                halfToFloat(static_cast<const std::uint16_t*>(stored.dataPointer()) + offset, row.data(), columns);
            } else {
                std::copy_n(stored.data<float>() + offset, columns, row.data());
            }
            for (std::size_t c = 0; c < channels; ++c) {
                for (std::size_t k = 0; k < 3; ++k) {
                    weights.get()[offset + k * channels + c] = row[c * 3 + k];
                }
            }
        }
    });
    auto windows = buffers_->floats(outputFrames * columns);
    pool_->parallelFor(outputFrames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            std::copy_n(input + t * stride * channels, columns, windows.get() + t * columns);
        }
    });
    const TileEpilogue activate = addBias(output, width, layer.bias.data(), true);
    parallelMultiply(*pool_, true, static_cast<int>(outputFrames), width_, static_cast<int>(columns), 1.0f, windows.get(),
        static_cast<int>(columns), weights.get(), static_cast<int>(columns), 0.0f, output, width_, [&](const GemmTile& tile) {
            activate(tile);
            if (positions) {
                const std::size_t count = static_cast<std::size_t>(tile.columnEnd - tile.columnBegin);
                for (int r = tile.rowBegin; r < tile.rowEnd; ++r) {
                    const std::size_t at = static_cast<std::size_t>(r) * width + static_cast<std::size_t>(tile.columnBegin);
                    axpy(1.0f, positions + at, output + at, count);
                }
            }
        });
}

void WhisperAudioEncoderProgram::runBlock(const Block& block, float* x) const
{
    const int d = width_;
    const std::size_t width = static_cast<std::size_t>(d);
    const std::size_t frames = static_cast<std::size_t>(frames_);
    const std::size_t headWidth = width / static_cast<std::size_t>(heads_);
    const float scale = 1.0f / std::sqrt(static_cast<float>(headWidth));

    auto normed = buffers_->floats(frames * width);
    auto normRows = [&](const NormWeights& norm) {
        pool_->parallelFor(frames, rowsPerTask, [&](std::size_t begin, std::size_t end) {
            for (std::size_t t = begin; t < end; ++t) {
                layerNorm(x + t * width, normed.get() + t * width, width, norm.gain.data(), norm.bias.data(),
                    transformerWeights::normEpsilon);
            }
        });
    };

    // Pre-norm attention: the three projections as one product against stacked weights.
    normRows(block.attentionNorm);
    const std::size_t stacked = 3 * width;
    auto projectionWeights = buffers_->floats(stacked * width);
    std::vector<float> projectionBias(stacked, 0.0f);
    const LinearWeights* projections[] = {&block.attention.query, &block.attention.key, &block.attention.value};
    for (std::size_t p = 0; p < 3; ++p) {
        const auto& layer = *projections[p];
        float* destination = projectionWeights.get() + p * width * width;
        if (layer.weight.dataType() == MultiArrayDataType::float16) {
            const auto* source = static_cast<const std::uint16_t*>(layer.weight.dataPointer());
            pool_->parallelFor(width * width, 1 << 16, [&](std::size_t begin, std::size_t end) {
                halfToFloat(source + begin, destination + begin, end - begin);
            });
        } else {
            std::copy_n(layer.weight.data<float>(), width * width, destination);
        }
        std::copy(layer.bias.begin(), layer.bias.end(), projectionBias.begin() + static_cast<long>(p * width));
    }
    auto qkv = buffers_->floats(frames * stacked);
    parallelMultiply(*pool_, true, frames_, static_cast<int>(stacked), d, 1.0f, normed.get(), d, projectionWeights.get(), d,
        0.0f, qkv.get(), static_cast<int>(stacked), addBias(qkv.get(), stacked, projectionBias.data()));

    // Attention per head and block of query rows: scores, softmax and weighted values stay in one
    // thread's cache.
    float* attended = normed.get();
    const std::size_t rowBlocks = (frames + attentionRows - 1) / attentionRows;
    const std::size_t scoreBlock = attentionRows * frames;
    auto scores = buffers_->floats(static_cast<std::size_t>(pool_->threadCount()) * scoreBlock);
    pool_->parallelForWithSlot(static_cast<std::size_t>(heads_) * rowBlocks, 1, [&](int slot, std::size_t begin, std::size_t end) {
        float* block = scores.get() + static_cast<std::size_t>(slot) * scoreBlock;
        for (std::size_t task = begin; task < end; ++task) {
            const std::size_t h = task / rowBlocks;
            const std::size_t first = (task % rowBlocks) * attentionRows;
            const int rows = static_cast<int>(std::min(attentionRows, frames - first));
            const float* q = qkv.get() + first * stacked + h * headWidth;
            const float* k = qkv.get() + width + h * headWidth;
            const float* v = qkv.get() + 2 * width + h * headWidth;
            multiplyTransposed(rows, frames_, static_cast<int>(headWidth), scale, q, static_cast<int>(stacked), k,
                static_cast<int>(stacked), 0.0f, block, frames_);
            for (int r = 0; r < rows; ++r) {
                softmax(block + static_cast<std::size_t>(r) * frames, frames, 1.0f);
            }
            multiply(rows, static_cast<int>(headWidth), frames_, 1.0f, block, frames_, v, static_cast<int>(stacked), 0.0f,
                attended + first * width + h * headWidth, d);
        }
    });
    scores.reset();
    qkv.reset();

    parallelMultiply(*pool_, true, frames_, d, d, 1.0f, attended, d, block.attention.output.floats(*buffers_, *pool_).get(), d,
        1.0f, x, d, addBias(x, width, block.attention.output.bias.data()));

    // Pre-norm MLP.
    normRows(block.mlpNorm);
    const std::size_t inner = 4 * width;
    auto expanded = buffers_->floats(frames * inner);
    parallelMultiply(*pool_, true, frames_, static_cast<int>(inner), d, 1.0f, normed.get(), d,
        block.mlp.expand.floats(*buffers_, *pool_).get(), d, 0.0f, expanded.get(), static_cast<int>(inner),
        addBias(expanded.get(), inner, block.mlp.expand.bias.data(), true));
    parallelMultiply(*pool_, true, frames_, d, static_cast<int>(inner), 1.0f, expanded.get(), static_cast<int>(inner),
        block.mlp.contract.floats(*buffers_, *pool_).get(), static_cast<int>(inner), 1.0f, x, d,
        addBias(x, width, block.mlp.contract.bias.data()));
}

} // namespace ml
