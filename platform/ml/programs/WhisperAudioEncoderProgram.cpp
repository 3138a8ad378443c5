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
constexpr std::size_t attentionRowsMaximum = 64;

// Tile epilogues: add a bias row to every row of the tile, optionally followed by GELU.
TileEpilogue addBias(float* matrix, std::size_t stride, const float* bias, bool thenGelu = false)
{
    return [=](const GemmTile& tile) {
        const std::size_t count = static_cast<std::size_t>(tile.columnEnd - tile.columnBegin);
        for (int r = tile.rowBegin; r < tile.rowEnd; ++r) {
            float* row = matrix + static_cast<std::size_t>(r) * stride + static_cast<std::size_t>(tile.columnBegin);
            if (thenGelu) {
                biasGelu(row, bias + tile.columnBegin, count);
            } else {
                axpy(1.0f, bias + tile.columnBegin, row, count);
            }
        }
    };
}

GemmOperand operand(const MultiArray& weight)
{
    return {weight.dataPointer(), weight.dataType() == MultiArrayDataType::float16, true, weight.shape()[1]};
}

} // namespace

WhisperAudioEncoderProgram::Convolution WhisperAudioEncoderProgram::convolution(const ModelFolder& folder,
    const std::string& prefix, int outputs, int inputs)
{
    const MultiArray& weight = folder.tensor(prefix + ".weight", {outputs, inputs, 3});
    transformerWeights::requireFloatStorage(folder, prefix + ".weight", weight);
    transformerWeights::requireFloatStorage(folder, prefix + ".bias", folder.tensor(prefix + ".bias"));
    Convolution layer;
    layer.channels = inputs;
    layer.bias = floatTensor(folder, prefix + ".bias", {outputs});
    // From [output][channel][tap] to [output][tap][channel], the order of a window of frames.
    const std::size_t columns = 3 * static_cast<std::size_t>(inputs);
    const std::size_t count = static_cast<std::size_t>(outputs) * columns;
    const bool half = weight.dataType() == MultiArrayDataType::float16;
    const auto reorder = [&](const auto* source, auto& destination) {
        destination.resize(count);
        for (std::size_t o = 0; o < static_cast<std::size_t>(outputs); ++o) {
            for (std::size_t c = 0; c < static_cast<std::size_t>(inputs); ++c) {
                for (std::size_t k = 0; k < 3; ++k) {
                    destination[o * columns + k * static_cast<std::size_t>(inputs) + c] = source[o * columns + c * 3 + k];
                }
            }
        }
    };
    if (half) {
        reorder(static_cast<const std::uint16_t*>(weight.dataPointer()), layer.halfWeights);
        layer.weights.parts = {{layer.halfWeights.data(), true, true, static_cast<int>(columns)}};
    } else {
        reorder(weight.data<float>(), layer.floatWeights);
        layer.weights.parts = {{layer.floatWeights.data(), false, true, static_cast<int>(columns)}};
    }
    layer.weights.columns = {outputs};
    layer.weights.depth = static_cast<int>(columns);
    folder.releaseTensor(weight);
    return layer;
}

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
    // Rounded up without adding first: the frame count may be as large as int holds.
    frames_ = inputFrames_ / 2 + inputFrames_ % 2;
    outputType_ = requireOutput(folder, "encoder_output_embeds", {MultiArrayDataType::float32, MultiArrayDataType::float16},
        {1, width_, 1, frames_})
                      .dataType;

    conv1_ = convolution(folder, "conv1", width_, melCount_);
    conv2_ = convolution(folder, "conv2", width_, width_);
    transformerWeights::requireFloatStorage(folder, "positional_embedding", folder.tensor("positional_embedding"));
    positions_ = floatTensor(folder, "positional_embedding", {frames_, width_});
    for (int i = 0; i < layers; ++i) {
        const std::string prefix = "layers." + std::to_string(i);
        Block block {transformerWeights::norm(folder, prefix + ".attention_norm", width_),
            transformerWeights::attention(folder, prefix + ".attention", width_),
            transformerWeights::norm(folder, prefix + ".mlp_norm", width_), transformerWeights::mlp(folder, prefix + ".mlp", width_)};
        const int d = width_;
        block.projections = {{operand(block.attention.query.weight), operand(block.attention.key.weight),
                                 operand(block.attention.value.weight)},
            {d, d, d}, d, {}};
        block.output = {{operand(block.attention.output.weight)}, {d}, d, {}};
        block.expand = {{operand(block.mlp.expand.weight)}, {4 * d}, d, {}};
        block.contract = {{operand(block.mlp.contract.weight)}, {d}, 4 * d, {}};
        blocks_.push_back(std::move(block));
    }
    finalNorm_ = transformerWeights::norm(folder, "final_norm", width_);
    pool_ = std::make_unique<ThreadPool>(context.threadCount);
    gate_ = context.gate;
    buffers_ = BufferPool::create();

    if (activeKernelSet() == KernelSet::portable) {
        return;
    }
    for (Convolution* layer : {&conv1_, &conv2_}) {
        keepPacked(layer->weights);
        layer->halfWeights = {};
        layer->floatWeights = {};
        layer->weights.parts.clear();
    }
    for (Block& block : blocks_) {
        for (ProductWeights* weights : {&block.projections, &block.output, &block.expand, &block.contract}) {
            keepPacked(*weights);
        }
        // The panels serve every window; the mapped originals need not stay in memory.
        for (const LinearWeights* layer : {&block.attention.query, &block.attention.key, &block.attention.value,
                 &block.attention.output, &block.mlp.expand, &block.mlp.contract}) {
            folder.releaseTensor(layer->weight);
        }
    }
}

void WhisperAudioEncoderProgram::keepPacked(ProductWeights& weights) const
{
    weights.packed = PackedOperand::keepingPrecision(activeKernelSet(), weights.parts, weights.columns, weights.depth, pool_.get());
}

const PackedOperand& WhisperAudioEncoderProgram::packed(const ProductWeights& weights, std::optional<PackedOperand>& scratch) const
{
    if (weights.packed) {
        return *weights.packed;
    }
    return scratch.emplace(activeKernelSet(), weights.parts, weights.columns, weights.depth, pool_.get(), buffers_.get());
}

DictionaryFeatureProvider WhisperAudioEncoderProgram::predict(const FeatureProvider& inputs) const
{
    const auto turn = ComputeGate::enter(gate_.get());
    const int d = width_;
    const std::size_t width = static_cast<std::size_t>(d);
    const std::size_t inputFrames = static_cast<std::size_t>(inputFrames_);
    const std::size_t frames = static_cast<std::size_t>(frames_);
    const std::size_t mels = static_cast<std::size_t>(melCount_);

    auto x = buffers_->floats(frames * width);
    auto normed = buffers_->floats(frames * width);
    const NormWeights& firstNorm = blocks_.empty() ? finalNorm_ : blocks_.front().attentionNorm;
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
        convolve(conv1_, mel.get(), 1, inputFrames, hidden.get() + width, nullptr, nullptr, nullptr);
        mel.reset();
        convolve(conv2_, hidden.get(), 2, frames, x.get(), positions_.data(), &firstNorm, normed.get());
    }

    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        runBlock(blocks_[i], x.get(), normed.get(), i + 1 < blocks_.size() ? blocks_[i + 1].attentionNorm : finalNorm_);
    }
    x.reset();

    // The final norm is in `normed`; written channel-major as [1, width, 1, frames].
    auto transposed = buffers_->floats(frames * width);
    pool_->parallelFor(width, rowsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t c = begin; c < end; ++c) {
            for (std::size_t t = 0; t < frames; ++t) {
                transposed.get()[c * frames + t] = normed.get()[t * width + c];
            }
        }
    });
    MultiArray output = buffers_->array({1, d, 1, frames_}, outputType_);
    writeFloats(output, transposed.get());
    DictionaryFeatureProvider result;
    result.set("encoder_output_embeds", output);
    return result;
}

void WhisperAudioEncoderProgram::normRows(const NormWeights& norm, const float* x, float* normed, int begin, int end) const
{
    const std::size_t width = static_cast<std::size_t>(width_);
    for (int t = begin; t < end; ++t) {
        const std::size_t at = static_cast<std::size_t>(t) * width;
        layerNorm(x + at, normed + at, width, norm.gain.data(), norm.bias.data(), transformerWeights::normEpsilon);
    }
}

void WhisperAudioEncoderProgram::convolve(const Convolution& layer, const float* input, std::size_t stride,
    std::size_t outputFrames, float* output, const float* positions, const NormWeights* norm, float* normed) const
{
    const std::size_t width = static_cast<std::size_t>(width_);
    const int columns = 3 * layer.channels;
    std::optional<PackedOperand> scratch;
    const PackedOperand& weights = packed(layer.weights, scratch);
    const TileEpilogue activate = addBias(output, width, layer.bias.data(), true);
    RowsEpilogue finished;
    if (norm) {
        finished = [&](int begin, int end) { normRows(*norm, output, normed, begin, end); };
    }
    gemm(pool_.get(), static_cast<int>(outputFrames), width_, columns, 1.0f, input, static_cast<int>(stride) * layer.channels,
        weights, 0.0f, output, width_,
        [&](const GemmTile& tile) {
            activate(tile);
            if (positions) {
                const std::size_t count = static_cast<std::size_t>(tile.columnEnd - tile.columnBegin);
                for (int r = tile.rowBegin; r < tile.rowEnd; ++r) {
                    const std::size_t at = static_cast<std::size_t>(r) * width + static_cast<std::size_t>(tile.columnBegin);
                    axpy(1.0f, positions + at, output + at, count);
                }
            }
        },
        finished);
}

void WhisperAudioEncoderProgram::runBlock(const Block& block, float* x, float* normed, const NormWeights& nextNorm) const
{
    const int d = width_;
    const std::size_t width = static_cast<std::size_t>(d);
    const std::size_t frames = static_cast<std::size_t>(frames_);
    const std::size_t headWidth = width / static_cast<std::size_t>(heads_);
    const int hw = static_cast<int>(headWidth);
    const float scale = 1.0f / std::sqrt(static_cast<float>(headWidth));
    const KernelSet kernels = activeKernelSet();

    // Pre-norm attention: the three projections as one product against stacked weights.
    const std::size_t stacked = 3 * width;
    auto qkv = buffers_->floats(frames * stacked);
    {
        std::vector<float> projectionBias(stacked, 0.0f);
        std::copy(block.attention.query.bias.begin(), block.attention.query.bias.end(), projectionBias.begin());
        std::copy(block.attention.value.bias.begin(), block.attention.value.bias.end(),
            projectionBias.begin() + static_cast<long>(2 * width));
        std::optional<PackedOperand> scratch;
        gemm(pool_.get(), frames_, static_cast<int>(stacked), d, 1.0f, normed, d, packed(block.projections, scratch), 0.0f, qkv.get(),
            static_cast<int>(stacked), addBias(qkv.get(), stacked, projectionBias.data()));
    }

    // Attention per head and block of query rows: the block's scores, softmax and weighted values
    // stay in one thread's cache. Each head's keys and values are packed once for all its blocks.
    float* attended = normed;
    {
        std::vector<std::unique_ptr<PackedOperand>> keys(static_cast<std::size_t>(heads_));
        std::vector<std::unique_ptr<PackedOperand>> values(static_cast<std::size_t>(heads_));
        pool_->parallelFor(2 * static_cast<std::size_t>(heads_), 1, [&](std::size_t begin, std::size_t end) {
            for (std::size_t task = begin; task < end; ++task) {
                const std::size_t h = task / 2;
                if (task % 2 == 0) {
                    keys[h] = std::make_unique<PackedOperand>(kernels,
                        GemmOperand {qkv.get() + width + h * headWidth, false, true, static_cast<int>(stacked)}, frames_, hw,
                        nullptr, buffers_.get());
                } else {
                    values[h] = std::make_unique<PackedOperand>(kernels,
                        GemmOperand {qkv.get() + 2 * width + h * headWidth, false, false, static_cast<int>(stacked)}, hw,
                        frames_, nullptr, buffers_.get());
                }
            }
        });
        const std::size_t attentionRows = kernels == KernelSet::avx512 ? 56 : kernels == KernelSet::avx2 ? 48 : 64;
        const std::size_t rowBlocks = (frames + attentionRows - 1) / attentionRows;
        const std::size_t scoreBlock = attentionRows * frames;
        auto scores = buffers_->floats(static_cast<std::size_t>(pool_->threadCount()) * scoreBlock);
        pool_->parallelForWithSlot(static_cast<std::size_t>(heads_) * rowBlocks, 1, [&](int slot, std::size_t begin, std::size_t end) {
            float* block = scores.get() + static_cast<std::size_t>(slot) * scoreBlock;
            for (std::size_t task = begin; task < end; ++task) {
                const std::size_t h = task / rowBlocks;
                const std::size_t first = (task % rowBlocks) * attentionRows;
                const int rows = static_cast<int>(std::min(attentionRows, frames - first));
                gemm(nullptr, rows, frames_, hw, scale, qkv.get() + first * stacked + h * headWidth, static_cast<int>(stacked),
                    *keys[h], 0.0f, block, frames_);
                // Softmax without its division: the weighted values of a row are scaled once instead.
                float inverseSums[attentionRowsMaximum];
                for (int r = 0; r < rows; ++r) {
                    float* row = block + static_cast<std::size_t>(r) * frames;
                    inverseSums[r] = 1.0f / exponentiate(row, frames, 1.0f, maximum(row, frames, kernels), kernels);
                }
                float* out = attended + first * width + h * headWidth;
                gemm(nullptr, rows, hw, frames_, 1.0f, block, frames_, *values[h], 0.0f, out, d, [&](const GemmTile& tile) {
                    for (int r = tile.rowBegin; r < tile.rowEnd; ++r) {
                        float* row = out + static_cast<std::size_t>(r) * width;
                        for (int j = tile.columnBegin; j < tile.columnEnd; ++j) {
                            row[j] *= inverseSums[r];
                        }
                    }
                });
            }
        });
    }
    qkv.reset();

    {
        std::optional<PackedOperand> scratch;
        gemm(pool_.get(), frames_, d, d, 1.0f, attended, d, packed(block.output, scratch), 1.0f, x, d,
            addBias(x, width, block.attention.output.bias.data()),
            [&](int begin, int end) { normRows(block.mlpNorm, x, normed, begin, end); });
    }

    // Pre-norm MLP.
    const std::size_t inner = 4 * width;
    auto expanded = buffers_->floats(frames * inner);
    {
        std::optional<PackedOperand> scratch;
        gemm(pool_.get(), frames_, static_cast<int>(inner), d, 1.0f, normed, d, packed(block.expand, scratch), 0.0f, expanded.get(),
            static_cast<int>(inner), addBias(expanded.get(), inner, block.mlp.expand.bias.data(), true));
    }
    {
        std::optional<PackedOperand> scratch;
        gemm(pool_.get(), frames_, d, static_cast<int>(inner), 1.0f, expanded.get(), static_cast<int>(inner),
            packed(block.contract, scratch), 1.0f, x,
            d, addBias(x, width, block.mlp.contract.bias.data()),
            [&](int begin, int end) { normRows(nextNorm, x, normed, begin, end); });
    }
}

} // namespace ml
