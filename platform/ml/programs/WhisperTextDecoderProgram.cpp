#include "platform/ml/programs/WhisperTextDecoderProgram.hpp"

#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/programs/ProgramSupport.hpp"
#include "platform/ml/programs/kernels/AttentionKernels.hpp"
#include "platform/ml/programs/kernels/MatrixKernels.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace ml {

using namespace programSupport;

namespace {

constexpr std::size_t framesPerTask = 64;

std::size_t paddedToLine(std::size_t floats)
{
    return (floats + 15) / 16 * 16;
}

// Rows per task of a matrix-vector product: two tasks per thread, whole groups of four rows. Each
// task starts a new stretch of the weights, whose first lines wait the full memory latency, so
// small matrices stream faster in fewer, longer tasks; the second task per thread evens out threads
// that start late.
std::size_t rowGrain(int rows, int threads)
{
    const std::size_t target = static_cast<std::size_t>(rows) / static_cast<std::size_t>(std::max(1, threads) * 2);
    return std::max<std::size_t>(16, (target + 3) / 4 * 4);
}

const std::uint16_t* halfData(const MultiArray& array)
{
    return static_cast<const std::uint16_t*>(array.dataPointer());
}

} // namespace

WhisperTextDecoderProgram::WhisperTextDecoderProgram(const ProgramContext& context)
{
    const ModelFolder& folder = context.folder;
    label_ = folder.path().filename().string();
    vocabularySize_ = boundedParameter(folder, "vocabularySize", 1, 1 << 22);
    width_ = boundedParameter(folder, "width", 1, 16384);
    heads_ = boundedParameter(folder, "heads", 1, width_);
    const int layers = boundedParameter(folder, "layers", 0, 256);
    textContext_ = boundedParameter(folder, "textContext", 1, 1 << 16);
    if (width_ % heads_ != 0) {
        failFolder(folder, "parameter \"width\" is not a multiple of \"heads\"");
    }
    if (static_cast<long long>(layers) * width_ > (1 << 24)) {
        failFolder(folder, "the decoder's cache is too wide");
    }
    const int cacheWidth = layers * width_;

    cacheLength_ = requireInput(folder, "key_cache", {MultiArrayDataType::float16}, {1, cacheWidth, 1, anySize}).shape[3];
    if (cacheLength_ > textContext_) {
        failFolder(folder, "the cache is longer than the decoder's text context");
    }
    requireInput(folder, "value_cache", {MultiArrayDataType::float16}, {1, cacheWidth, 1, cacheLength_});
    requireInput(folder, "input_ids", {MultiArrayDataType::int32}, {1});
    requireInput(folder, "cache_length", {MultiArrayDataType::int32}, {1});
    requireInput(folder, "kv_cache_update_mask", {MultiArrayDataType::int32}, {1, cacheLength_});
    requireInput(folder, "decoder_key_padding_mask", {MultiArrayDataType::float16, MultiArrayDataType::float32},
        {1, cacheLength_});
    audioFrames_ = requireInput(folder, "encoder_output_embeds", {MultiArrayDataType::float16, MultiArrayDataType::float32},
        {1, width_, 1, anySize})
                       .shape[3];
    requireOutput(folder, "logits", {MultiArrayDataType::float32}, {1, 1, vocabularySize_});
    requireOutput(folder, "key_cache_updates", {MultiArrayDataType::float16}, {1, cacheWidth, 1, 1});
    requireOutput(folder, "value_cache_updates", {MultiArrayDataType::float16}, {1, cacheWidth, 1, 1});

    hasAlignmentOutput_ = folder.description().output("alignment_heads_weights") != nullptr;
    if (hasAlignmentOutput_) {
        alignmentType_ = requireOutput(folder, "alignment_heads_weights",
            {MultiArrayDataType::float16, MultiArrayDataType::float32}, {1, audioFrames_})
                             .dataType;
        const auto heads = folder.parameters().find("alignmentHeads");
        if (heads == folder.parameters().end() || !heads->is_array() || heads->empty()) {
            failFolder(folder, "parameter \"alignmentHeads\" must list at least one [layer, head] pair");
        }
        for (const auto& pair : *heads) {
            if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number_integer() || !pair[1].is_number_integer()
                || pair[0].get<long long>() < 0 || pair[0].get<long long>() >= layers || pair[1].get<long long>() < 0
                || pair[1].get<long long>() >= heads_) {
                failFolder(folder, "parameter \"alignmentHeads\" holds an entry that is no [layer, head] pair of this model");
            }
            const std::pair<int, int> head {pair[0].get<int>(), pair[1].get<int>()};
            if (std::find(alignmentHeads_.begin(), alignmentHeads_.end(), head) == alignmentHeads_.end()) {
                alignmentHeads_.push_back(head);
            }
        }
    }

    tokenEmbedding_ = transformerWeights::linear(folder, "token_embedding", vocabularySize_, width_, false);
    transformerWeights::requireFloatStorage(folder, "positional_embedding", folder.tensor("positional_embedding"));
    positions_ = floatTensor(folder, "positional_embedding", {textContext_, width_});
    for (int i = 0; i < layers; ++i) {
        const std::string prefix = "layers." + std::to_string(i);
        blocks_.push_back({transformerWeights::norm(folder, prefix + ".self_attention_norm", width_),
            transformerWeights::attention(folder, prefix + ".self_attention", width_),
            transformerWeights::norm(folder, prefix + ".cross_attention_norm", width_),
            transformerWeights::attention(folder, prefix + ".cross_attention", width_),
            transformerWeights::norm(folder, prefix + ".mlp_norm", width_), transformerWeights::mlp(folder, prefix + ".mlp", width_)});
    }
    finalNorm_ = transformerWeights::norm(folder, "final_norm", width_);
    pool_ = std::make_unique<ThreadPool>(context.threadCount);
    buffers_ = BufferPool::create();
}

void WhisperTextDecoderProgram::run(std::initializer_list<Product> products) const
{
    int total = 0;
    for (const auto& product : products) {
        total += product.layer->outputs();
    }
    pool_->parallelFor(static_cast<std::size_t>(total), rowGrain(total, pool_->threadCount()), [&](std::size_t begin, std::size_t end) {
        int offset = 0;
        for (const auto& product : products) {
            const int rows = product.layer->outputs();
            const int first = std::max(static_cast<int>(begin) - offset, 0);
            const int last = std::min(static_cast<int>(end) - offset, rows);
            if (first < last) {
                const float* bias = product.layer->bias.empty() ? nullptr : product.layer->bias.data();
                matrixVector(product.layer->matrix(), product.input, bias, product.output, first, last);
                if (product.gelu) {
                    gelu(product.output + first, static_cast<std::size_t>(last - first));
                }
            }
            offset += rows;
        }
    });
}

void WhisperTextDecoderProgram::runPerHead(std::initializer_list<Product> products, const std::function<void(std::size_t)>& attend,
    const PartCall& prepare) const
{
    // Head h owns rows [h * headWidth, (h + 1) * headWidth) of every product; its rows of all the
    // products are cut into a few parts, and whoever finishes a head's last part runs its attention,
    // so no thread waits for the other heads in between.
    const std::size_t heads = static_cast<std::size_t>(heads_);
    const std::size_t headWidth = static_cast<std::size_t>(width_) / heads;
    const std::size_t headRows = headWidth * products.size();
    const std::size_t threads = static_cast<std::size_t>(pool_->threadCount());
    const std::size_t parts = std::clamp<std::size_t>((4 * threads + heads - 1) / heads, 1, std::max<std::size_t>(1, headRows / 16));
    std::vector<std::atomic<std::size_t>> finished(heads);
    pool_->parallelFor(heads * parts, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t task = begin; task < end; ++task) {
            const std::size_t h = task / parts;
            const std::size_t part = task % parts;
            if (prepare) {
                prepare(h, part, parts);
            }
            const std::size_t rowBegin = headRows * part / parts;
            const std::size_t rowEnd = headRows * (part + 1) / parts;
            for (std::size_t row = rowBegin; row < rowEnd;) {
                const std::size_t index = row / headWidth;
                const std::size_t last = std::min(rowEnd, (index + 1) * headWidth);
                const Product& product = *(products.begin() + static_cast<std::ptrdiff_t>(index));
                const int first = static_cast<int>(h * headWidth + row - index * headWidth);
                const int stop = static_cast<int>(h * headWidth + last - index * headWidth);
                const float* bias = product.layer->bias.empty() ? nullptr : product.layer->bias.data();
                matrixVector(product.layer->matrix(), product.input, bias, product.output, first, stop);
                row = last;
            }
            if (finished[h].fetch_add(1, std::memory_order_acq_rel) + 1 == parts) {
                attend(h);
            }
        }
    });
}

bool WhisperTextDecoderProgram::sameBytes(const unsigned char* a, const unsigned char* b, std::size_t size) const
{
    // Every step compares the whole encoder output (a megabyte or more): across the pool.
    constexpr std::size_t chunk = 1 << 16;
    std::atomic<bool> differ {false};
    pool_->parallelFor((size + chunk - 1) / chunk, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t c = begin; c < end && !differ.load(std::memory_order_relaxed); ++c) {
            const std::size_t at = c * chunk;
            if (std::memcmp(a + at, b + at, std::min(chunk, size - at)) != 0) {
                differ.store(true, std::memory_order_relaxed);
            }
        }
    });
    return !differ.load();
}

std::shared_ptr<const WhisperTextDecoderProgram::CrossState> WhisperTextDecoderProgram::crossState(
    const MultiArray& encoderOutput) const
{
    // Recognise the encoder output by its contents: a caller may refill one array for a new window.
    std::vector<float> unpacked;
    const unsigned char* bytes = static_cast<const unsigned char*>(encoderOutput.dataPointer());
    std::size_t size = encoderOutput.count() * elementSize(encoderOutput.dataType());
    MultiArrayDataType keyType = encoderOutput.dataType();
    if (!encoderOutput.isPacked()) {
        unpacked.resize(encoderOutput.count());
        readFloats(encoderOutput, unpacked.data());
        bytes = reinterpret_cast<const unsigned char*>(unpacked.data());
        size = unpacked.size() * sizeof(float);
        keyType = MultiArrayDataType::float32;
    }
    {
        std::lock_guard lock(crossMutex_);
        for (auto it = crossStates_.begin(); it != crossStates_.end(); ++it) {
            const CrossState& candidate = **it;
            if (candidate.sourceType == keyType && candidate.source.size() == size && sameBytes(candidate.source.data(), bytes, size)) {
                auto state = *it;
                crossStates_.erase(it);
                crossStates_.push_front(state);
                return state;
            }
        }
    }
    {
        // Let the least recently used state go first, so its memory serves the new one.
        std::lock_guard lock(crossMutex_);
        while (crossStates_.size() >= crossStatesKept) {
            crossStates_.pop_back();
        }
    }
    auto state = computeCrossState(encoderOutput, std::vector<unsigned char>(bytes, bytes + size));
    std::lock_guard lock(crossMutex_);
    crossStates_.push_front(state);
    while (crossStates_.size() > crossStatesKept) {
        crossStates_.pop_back();
    }
    return state;
}

std::shared_ptr<const WhisperTextDecoderProgram::CrossState> WhisperTextDecoderProgram::computeCrossState(
    const MultiArray& encoderOutput, std::vector<unsigned char> sourceBytes) const
{
    auto state = std::make_shared<CrossState>();
    state->sourceType = encoderOutput.isPacked() ? encoderOutput.dataType() : MultiArrayDataType::float32;
    state->source = std::move(sourceBytes);

    const std::size_t width = static_cast<std::size_t>(width_);
    const std::size_t frames = static_cast<std::size_t>(audioFrames_);
    auto channels = buffers_->floats(width * frames); // [channel][frame]
    readFloats(encoderOutput, channels.get());
    auto embeds = buffers_->floats(frames * width); // [frame][channel]
    pool_->parallelFor(frames, framesPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            for (std::size_t c = 0; c < width; ++c) {
                embeds.get()[f * width + c] = channels.get()[c * frames + f];
            }
        }
    });

    // The encoder output as the second factor of every layer's key product, packed once.
    const PackedOperand packedChannels(activeKernelSet(), GemmOperand {channels.get(), false, false, audioFrames_}, audioFrames_,
        width_, pool_.get(), buffers_.get());
    const std::size_t layers = blocks_.size();
    state->keys.resize(layers);
    state->values.resize(layers);
    state->halfKeys.resize(layers);
    state->halfValues.resize(layers);
    const std::size_t count = frames * width;
    for (std::size_t l = 0; l < layers; ++l) {
        const AttentionWeights& cross = blocks_[l].crossAttention;
        const bool half = cross.key.weight.dataType() == MultiArrayDataType::float16;
        auto keys = buffers_->floats(count);
        auto values = buffers_->floats(count);
        if (half) {
            state->halfKeys[l] = buffers_->halves(count);
            state->halfValues[l] = buffers_->halves(count);
        }
        // Keys channel-major ([channel][frame], so each head's rows are [j][frame]), values
        // head-major ([head][frame][j]): every head reads one contiguous stretch of each.
        const std::size_t headWidth = width / static_cast<std::size_t>(heads_);
        float* keyData = keys.get();
        float* valueData = values.get();
        std::uint16_t* halfKeys = half ? state->halfKeys[l].get() : nullptr;
        std::uint16_t* halfValues = half ? state->halfValues[l].get() : nullptr;
        gemm(pool_.get(), width_, audioFrames_, width_, 1.0f, cross.key.floats(*buffers_, *pool_).get(), width_, packedChannels,
            0.0f, keyData, audioFrames_, [=](const GemmTile& tile) {
                if (!halfKeys) {
                    return;
                }
                for (int r = tile.rowBegin; r < tile.rowEnd; ++r) {
                    const std::size_t at = static_cast<std::size_t>(r) * frames + static_cast<std::size_t>(tile.columnBegin);
                    floatToHalf(keyData + at, halfKeys + at, static_cast<std::size_t>(tile.columnEnd - tile.columnBegin));
                }
            });
        auto rowValues = buffers_->floats(count);
        const PackedOperand valueWeights(activeKernelSet(),
            GemmOperand {cross.value.weight.dataPointer(), cross.value.weight.dataType() == MultiArrayDataType::float16, true, width_},
            width_, width_, pool_.get(), buffers_.get());
        gemm(pool_.get(), audioFrames_, width_, width_, 1.0f, embeds.get(), width_, valueWeights, 0.0f, rowValues.get(), width_,
            [&](const GemmTile& tile) {
                std::vector<float> piece(headWidth);
                for (int f = tile.rowBegin; f < tile.rowEnd; ++f) {
                    float* row = rowValues.get() + static_cast<std::size_t>(f) * width;
                    axpy(1.0f, cross.value.bias.data() + tile.columnBegin, row + tile.columnBegin,
                        static_cast<std::size_t>(tile.columnEnd - tile.columnBegin));
                    for (std::size_t c = static_cast<std::size_t>(tile.columnBegin); c < static_cast<std::size_t>(tile.columnEnd);) {
                        const std::size_t h = c / headWidth;
                        const std::size_t j = c % headWidth;
                        const std::size_t span = std::min(headWidth - j, static_cast<std::size_t>(tile.columnEnd) - c);
                        const std::size_t at = (h * frames + static_cast<std::size_t>(f)) * headWidth + j;
                        if (halfValues) {
                            floatToHalf(row + c, halfValues + at, span);
                        } else {
                            std::copy_n(row + c, span, valueData + at);
                        }
                        c += span;
                    }
                }
            });
        if (!half) {
            state->keys[l] = std::move(keys);
            state->values[l] = std::move(values);
        }
    }
    return state;
}

DictionaryFeatureProvider WhisperTextDecoderProgram::predict(const FeatureProvider& inputs) const
{
    const int token = readInteger(*inputs.featureValue("input_ids"), "input_ids", label_);
    const int position = readInteger(*inputs.featureValue("cache_length"), "cache_length", label_);
    if (token < 0 || token >= vocabularySize_) {
        throw ModelError(label_ + ": input \"input_ids\" holds token " + std::to_string(token) + ", outside the vocabulary of "
            + std::to_string(vocabularySize_));
    }
    if (position < 0 || position >= cacheLength_) {
        throw ModelError(label_ + ": input \"cache_length\" is " + std::to_string(position) + ", outside 0 to "
            + std::to_string(cacheLength_ - 1));
    }
    const MultiArray keyCache = *inputs.featureValue("key_cache");
    const MultiArray valueCache = *inputs.featureValue("value_cache");
    const MultiArray paddingMask = *inputs.featureValue("decoder_key_padding_mask");
    const auto cross = crossState(*inputs.featureValue("encoder_output_embeds"));

    const std::size_t width = static_cast<std::size_t>(width_);
    const std::size_t headWidth = width / static_cast<std::size_t>(heads_);
    const std::size_t frames = static_cast<std::size_t>(audioFrames_);
    const std::size_t cached = static_cast<std::size_t>(position);
    const float scale = 1.0f / std::sqrt(static_cast<float>(headWidth));

    std::vector<float> padding(cached);
    for (std::size_t p = 0; p < cached; ++p) {
        padding[p] = static_cast<float>(paddingMask.valueAtOffset(p * static_cast<std::size_t>(paddingMask.strides()[1])));
    }

    const int cacheWidth = static_cast<int>(blocks_.size()) * width_;
    MultiArray keyUpdates = buffers_->array({1, cacheWidth, 1, 1}, MultiArrayDataType::float16);
    MultiArray valueUpdates = buffers_->array({1, cacheWidth, 1, 1}, MultiArrayDataType::float16);
    auto* keyOut = static_cast<std::uint16_t*>(keyUpdates.dataPointer());
    auto* valueOut = static_cast<std::uint16_t*>(valueUpdates.dataPointer());

    std::vector<float> x(width);
    {
        std::vector<float> row(width);
        if (tokenEmbedding_.weight.dataType() == MultiArrayDataType::float16) {
            halfToFloat(tokenEmbedding_.matrix().halfRow(token), row.data(), width);
        } else {
            std::copy_n(tokenEmbedding_.matrix().floatRow(token), width, row.data());
        }
        for (std::size_t c = 0; c < width; ++c) {
            x[c] = row[c] + positions_[cached * width + c];
        }
    }

    std::vector<float> normed(width), query(width), key(width), value(width), attended(width), projected(width);
    std::vector<float> hidden(4 * width);
    // Each head's scores on cache lines of their own: threads running side by side add into them
    // row after row.
    const std::size_t frameStride = paddedToLine(frames);
    const std::size_t selfStride = paddedToLine(cached + 1);
    auto crossProbabilities = buffers_->floats(static_cast<std::size_t>(heads_) * frameStride);
    const std::size_t heads = static_cast<std::size_t>(heads_);
    std::vector<float> sums(heads);
    auto selfScores = buffers_->floats(heads * selfStride);
    std::vector<float> alignment(hasAlignmentOutput_ ? frames : 0, 0.0f);
    const std::size_t keyRowStride = static_cast<std::size_t>(keyCache.strides()[1]);
    const std::size_t keyColumnStride = static_cast<std::size_t>(keyCache.strides()[3]);
    const std::size_t valueRowStride = static_cast<std::size_t>(valueCache.strides()[1]);
    const std::size_t valueColumnStride = static_cast<std::size_t>(valueCache.strides()[3]);

    for (std::size_t l = 0; l < blocks_.size(); ++l) {
        const Block& block = blocks_[l];
        const std::size_t layerOffset = l * width;

        // Self-attention over the cached positions and this one.
        layerNorm(x.data(), normed.data(), width, block.selfAttentionNorm.gain.data(), block.selfAttentionNorm.bias.data(),
            transformerWeights::normEpsilon);
        // Each head's query, key and value rows, then its attention on the thread that finished them.
        runPerHead({{&block.selfAttention.query, normed.data(), query.data()}, {&block.selfAttention.key, normed.data(), key.data()},
                       {&block.selfAttention.value, normed.data(), value.data()}},
            [&](std::size_t h) {
                // The step sees its own key and value as the cache will hold them.
                const std::size_t first = layerOffset + h * headWidth;
                floatToHalf(key.data() + h * headWidth, keyOut + first, headWidth);
                floatToHalf(value.data() + h * headWidth, valueOut + first, headWidth);
                halfToFloat(keyOut + first, key.data() + h * headWidth, headWidth);
                halfToFloat(valueOut + first, value.data() + h * headWidth, headWidth);

                float* scores = selfScores.get() + h * selfStride;
                const float* q = query.data() + h * headWidth;
                std::fill(scores, scores + cached + 1, 0.0f);
                for (std::size_t j = 0; j < headWidth; ++j) {
                    const std::uint16_t* row = halfData(keyCache) + (first + j) * keyRowStride;
                    if (keyColumnStride == 1) {
                        axpyHalf(q[j], row, scores, cached);
                    } else {
                        for (std::size_t p = 0; p < cached; ++p) {
                            scores[p] += q[j] * Float16::toFloat(row[p * keyColumnStride]);
                        }
                    }
                }
                for (std::size_t p = 0; p < cached; ++p) {
                    scores[p] = scores[p] * scale + padding[p];
                }
                scores[cached] = dot(q, key.data() + h * headWidth, headWidth) * scale;
                softmax(scores, cached + 1, 1.0f);
                float* out = attended.data() + h * headWidth;
                for (std::size_t j = 0; j < headWidth; ++j) {
                    const std::uint16_t* row = halfData(valueCache) + (first + j) * valueRowStride;
                    float sum = 0;
                    if (valueColumnStride == 1) {
                        sum = dotHalf(row, scores, cached);
                    } else {
                        for (std::size_t p = 0; p < cached; ++p) {
                            sum += scores[p] * Float16::toFloat(row[p * valueColumnStride]);
                        }
                    }
                    out[j] = sum + scores[cached] * value[h * headWidth + j];
                }
            },
            [&](std::size_t h, std::size_t part, std::size_t parts) {
                // The head's cached rows lie far apart and are cold by now: fetch this task's share of
                // them while its products stream, so that the head's attention finds them in cache.
                if (keyColumnStride != 1 || valueColumnStride != 1) {
                    return;
                }
                const std::size_t first = layerOffset + h * headWidth;
                for (std::size_t j = headWidth * part / parts; j < headWidth * (part + 1) / parts; ++j) {
                    prefetch(halfData(keyCache) + (first + j) * keyRowStride, cached * sizeof(std::uint16_t));
                    prefetch(halfData(valueCache) + (first + j) * valueRowStride, cached * sizeof(std::uint16_t));
                }
            });
        run({{&block.selfAttention.output, attended.data(), projected.data()}});
        axpy(1.0f, projected.data(), x.data(), width);

        // Cross-attention over the encoder output.
        layerNorm(x.data(), normed.data(), width, block.crossAttentionNorm.gain.data(), block.crossAttentionNorm.bias.data(),
            transformerWeights::normEpsilon);
        const bool half = cross->halfKeys[l] != nullptr;
        runPerHead({{&block.crossAttention.query, normed.data(), query.data()}}, [&](std::size_t h) {
            const float* q = query.data() + h * headWidth;
            float* weights = crossProbabilities.get() + h * frameStride;
            float* out = attended.data() + h * headWidth;
            const std::size_t keyAt = h * headWidth * frames;
            const std::size_t valueAt = h * frames * headWidth;
            const AttentionPartial partial = half
                ? attendBlock(q, cross->halfKeys[l].get() + keyAt, frames, cross->halfValues[l].get() + valueAt, headWidth, frames,
                    headWidth, scale, weights, out)
                : attendBlock(q, cross->keys[l].get() + keyAt, frames, cross->values[l].get() + valueAt, headWidth, frames,
                    headWidth, scale, weights, out);
            const float inverse = 1.0f / partial.sum;
            for (std::size_t j = 0; j < headWidth; ++j) {
                out[j] *= inverse;
            }
            sums[h] = partial.sum;
        });
        if (hasAlignmentOutput_) {
            for (const auto& [layer, head] : alignmentHeads_) {
                if (static_cast<std::size_t>(layer) == l) {
                    const std::size_t h = static_cast<std::size_t>(head);
                    axpy(1.0f / (sums[h] * static_cast<float>(alignmentHeads_.size())), crossProbabilities.get() + h * frameStride,
                        alignment.data(), frames);
                }
            }
        }
        run({{&block.crossAttention.output, attended.data(), projected.data()}});
        axpy(1.0f, projected.data(), x.data(), width);

        // MLP.
        layerNorm(x.data(), normed.data(), width, block.mlpNorm.gain.data(), block.mlpNorm.bias.data(),
            transformerWeights::normEpsilon);
        run({{&block.mlp.expand, normed.data(), hidden.data(), true}});
        run({{&block.mlp.contract, hidden.data(), projected.data()}});
        axpy(1.0f, projected.data(), x.data(), width);
    }

    layerNorm(x.data(), normed.data(), width, finalNorm_.gain.data(), finalNorm_.bias.data(), transformerWeights::normEpsilon);
    MultiArray logits = buffers_->array({1, 1, vocabularySize_}, MultiArrayDataType::float32);
    run({{&tokenEmbedding_, normed.data(), logits.data<float>()}});

    DictionaryFeatureProvider result;
    result.set("logits", logits);
    result.set("key_cache_updates", keyUpdates);
    result.set("value_cache_updates", valueUpdates);
    if (hasAlignmentOutput_) {
        MultiArray weights = buffers_->array({1, audioFrames_}, alignmentType_);
        writeFloats(weights, alignment.data());
        result.set("alignment_heads_weights", weights);
    }
    return result;
}

} // namespace ml
