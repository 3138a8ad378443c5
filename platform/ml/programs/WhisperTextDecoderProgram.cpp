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
#include <span>
#include <limits>
#include <optional>

namespace ml {

using namespace programSupport;

namespace {

constexpr std::size_t framesPerTask = 64;

std::size_t paddedToLine(std::size_t floats)
{
    return (floats + 15) / 16 * 16;
}

// How far the product and attention kernels ask for memory ahead of their reads.
constexpr std::size_t coldStartBytes = 16 << 10;

// Cross-attention groups: 8 tiles of 16 positions are 32 KiB of float16 keys and values.
constexpr std::size_t crossGroupTiles = 8;

// Where a layer's cross-attention keys and values lie in its block (see CrossState).
struct CrossLayout {
    CrossLayout(std::size_t frames, std::size_t heads, std::size_t headWidth)
        : headWidth(headWidth)
        , groupsPerHead((frames + groupPositions - 1) / groupPositions)
        , groupElements(2 * groupPositions * headWidth)
        , layerElements(heads * groupsPerHead * groupElements)
    {
    }
    std::size_t groupAt(std::size_t head, std::size_t frame) const
    {
        return (head * groupsPerHead + frame / groupPositions) * groupElements;
    }
    std::size_t keyAt(std::size_t head, std::size_t frame, std::size_t j) const
    {
        const std::size_t tile = frame % groupPositions / attentionTile;
        return groupAt(head, frame) + (tile * headWidth + j) * attentionTile + frame % attentionTile;
    }
    std::size_t valueAt(std::size_t head, std::size_t frame, std::size_t j) const
    {
        return groupAt(head, frame) + (groupPositions + frame % groupPositions) * headWidth + j;
    }

    static constexpr std::size_t groupPositions = crossGroupTiles * attentionTile;
    std::size_t headWidth;
    std::size_t groupsPerHead;
    std::size_t groupElements;
    std::size_t layerElements;
};

// `count` chunks in one stretch per thread, as even as can be.
std::vector<std::uint16_t> evenStretches(std::size_t count, std::size_t threads)
{
    std::vector<std::uint16_t> chunks(threads);
    for (std::size_t s = 0; s < threads; ++s) {
        const std::size_t share = count * (s + 1) / threads - count * s / threads;
        if (share > ThreadPool::maximumChunks) {
            throw ModelError("a decoder loop too large for its threads");
        }
        chunks[s] = static_cast<std::uint16_t>(share);
    }
    return chunks;
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
        isAlignmentHead_.assign(static_cast<std::size_t>(layers) * static_cast<std::size_t>(heads_), 0);
        for (const auto& [layer, head] : alignmentHeads_) {
            isAlignmentHead_[static_cast<std::size_t>(layer * heads_ + head)] = 1;
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

    const std::size_t threads = static_cast<std::size_t>(pool_->threadCount());
    std::vector<std::vector<const LinearWeights*>> loops;
    for (const Block& block : blocks_) {
        loops.push_back({&block.selfAttention.query, &block.selfAttention.key, &block.selfAttention.value});
        loops.push_back({&block.selfAttention.output});
        loops.push_back({&block.crossAttention.query});
        loops.push_back({&block.crossAttention.output});
        loops.push_back({&block.mlp.expand});
        loops.push_back({&block.mlp.contract});
    }
    loops.push_back({&tokenEmbedding_});
    stream_ = ProductStream(loops, threads, threads, *pool_);
    const std::size_t heads = static_cast<std::size_t>(heads_);
    const std::size_t headWidth = static_cast<std::size_t>(width_ / heads_);
    const std::vector<std::uint16_t> headChunks = evenStretches(heads, threads);
    const std::vector<std::uint16_t> groupChunks =
        evenStretches(heads * CrossLayout(static_cast<std::size_t>(audioFrames_), heads, headWidth).groupsPerHead, threads);
    // A product loop's threads ask for their first chunks' weights while they wait for them.
    for (std::size_t k = 0; k <= blocks_.size() * loopsPerLayer; ++k) {
        const auto loop = streamLoop(k);
        steps_.push_back(loop ? stream_.chunks(*loop) : k % loopsPerLayer == selfAttentionLoop ? headChunks : groupChunks);
        for (std::size_t s = 0; s < threads; ++s) {
            const auto memory = loop ? stream_.chunkMemory(*loop, s, 0, std::min<std::size_t>(steps_[k][s], aheadChunks))
                                     : std::pair<const void*, std::size_t> {};
            aheads_.push_back({memory.first, memory.second});
        }
        // Attention of a head starts once the projections have made its rows.
        earlyLoops_.push_back(loop ? 0 : 1);
    }
    // While the last threads still read the logits' weights, the others go on to these.
    if (hasAlignmentOutput_) {
        alignmentLoop_ = steps_.size();
        steps_.push_back(evenStretches(alignmentRanges, threads));
        aheads_.resize(aheads_.size() + threads);
        earlyLoops_.push_back(1);
    }
    compareLoop_ = steps_.size();
    steps_.push_back(evenStretches(sourceRanges, threads));
    aheads_.resize(aheads_.size() + threads);
    earlyLoops_.push_back(1);
    // The copies serve every step; the mapped originals need not stay in memory.
    for (const auto& loop : loops) {
        for (const LinearWeights* layer : loop) {
            folder.releaseTensor(layer->weight);
        }
    }
}

std::optional<std::size_t> WhisperTextDecoderProgram::streamLoop(std::size_t loop) const
{
    const std::size_t l = loop / loopsPerLayer;
    if (l == blocks_.size()) {
        return l * productLoopsPerLayer;
    }
    switch (loop % loopsPerLayer) {
    case selfProjectionsLoop: return loopOf(l, selfProjections);
    case selfOutputLoop: return loopOf(l, selfOutput);
    case crossQueryLoop: return loopOf(l, crossQuery);
    case crossOutputLoop: return loopOf(l, crossOutput);
    case expandLoop: return loopOf(l, expand);
    case contractLoop: return loopOf(l, contract);
    default: return std::nullopt;
    }
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

WhisperTextDecoderProgram::SourceBytes WhisperTextDecoderProgram::sourceBytes(const MultiArray& encoderOutput)
{
    SourceBytes source;
    source.data = static_cast<const unsigned char*>(encoderOutput.dataPointer());
    source.size = encoderOutput.count() * elementSize(encoderOutput.dataType());
    source.type = encoderOutput.dataType();
    if (!encoderOutput.isPacked()) {
        source.unpacked.resize(encoderOutput.count());
        readFloats(encoderOutput, source.unpacked.data());
        source.data = reinterpret_cast<const unsigned char*>(source.unpacked.data());
        source.size = source.unpacked.size() * sizeof(float);
        source.type = MultiArrayDataType::float32;
    }
    return source;
}

std::shared_ptr<const WhisperTextDecoderProgram::CrossState> WhisperTextDecoderProgram::likelyCrossState(const SourceBytes& source) const
{
    // A new window's encoder output differs from the last one almost everywhere.
    constexpr std::size_t places = 16, placeBytes = 64;
    const auto agrees = [&](const CrossState& state) {
        if (state.sourceType != source.type || state.source.size() != source.size) {
            return false;
        }
        for (std::size_t p = 0; p < places; ++p) {
            const std::size_t at = std::min(source.size, source.size / places * p);
            const std::size_t bytes = std::min(placeBytes, source.size - at);
            if (std::memcmp(state.source.data() + at, source.data + at, bytes) != 0) {
                return false;
            }
        }
        return true;
    };
    std::lock_guard lock(crossMutex_);
    for (auto it = crossStates_.begin(); it != crossStates_.end(); ++it) {
        if (agrees(**it)) {
            auto state = *it;
            crossStates_.erase(it);
            crossStates_.push_front(state);
            return state;
        }
    }
    return nullptr;
}

std::shared_ptr<const WhisperTextDecoderProgram::CrossState> WhisperTextDecoderProgram::crossState(
    const MultiArray& encoderOutput, const SourceBytes& source) const
{
    const unsigned char* bytes = source.data;
    const std::size_t size = source.size;
    const MultiArrayDataType keyType = source.type;
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
    state->groups.resize(layers);
    state->halfGroups.resize(layers);
    const std::size_t count = frames * width;
    const std::size_t heads = static_cast<std::size_t>(heads_);
    const std::size_t headWidth = width / heads;
    const CrossLayout layout(frames, heads, headWidth);
    // Every layer in one block of each precision: every step streams all of them, and one block
    // lies in whole huge pages where a block per layer would mostly not.
    const auto isHalf = [&](std::size_t l) { return blocks_[l].crossAttention.key.weight.dataType() == MultiArrayDataType::float16; };
    std::size_t halfLayers = 0;
    for (std::size_t l = 0; l < layers; ++l) {
        halfLayers += isHalf(l) ? 1 : 0;
    }
    std::shared_ptr<std::uint16_t> halfBlock = halfLayers > 0 ? buffers_->halves(halfLayers * layout.layerElements) : nullptr;
    std::shared_ptr<float> floatBlock =
        halfLayers < layers ? buffers_->floats((layers - halfLayers) * layout.layerElements) : nullptr;
    std::size_t halfAt = 0, floatAt = 0;
    for (std::size_t l = 0; l < layers; ++l) {
        const AttentionWeights& cross = blocks_[l].crossAttention;
        const bool half = isHalf(l);
        auto keys = buffers_->floats(count);
        std::uint16_t* halfGroups = nullptr;
        float* groups = nullptr;
        if (half) {
            state->halfGroups[l] = std::shared_ptr<std::uint16_t>(halfBlock, halfBlock.get() + halfAt);
            halfAt += layout.layerElements;
            halfGroups = state->halfGroups[l].get();
        } else {
            state->groups[l] = std::shared_ptr<float>(floatBlock, floatBlock.get() + floatAt);
            floatAt += layout.layerElements;
            groups = state->groups[l].get();
        }
        // The unused places of a head's last key tile must hold something finite.
        for (std::size_t h = 0; h < heads; ++h) {
            const std::size_t last = (h * layout.groupsPerHead + layout.groupsPerHead - 1) * layout.groupElements;
            if (half) {
                std::fill_n(halfGroups + last, layout.groupPositions * headWidth, std::uint16_t(0));
            } else {
                std::fill_n(groups + last, layout.groupPositions * headWidth, 0.0f);
            }
        }
        const float* keyData = keys.get();
        gemm(pool_.get(), width_, audioFrames_, width_, 1.0f, cross.key.floats(*buffers_, *pool_).get(), width_, packedChannels,
            0.0f, keys.get(), audioFrames_, [=](const GemmTile& tile) {
                for (int r = tile.rowBegin; r < tile.rowEnd; ++r) {
                    const std::size_t h = static_cast<std::size_t>(r) / headWidth;
                    const std::size_t j = static_cast<std::size_t>(r) % headWidth;
                    for (std::size_t f = static_cast<std::size_t>(tile.columnBegin); f < static_cast<std::size_t>(tile.columnEnd);) {
                        const std::size_t span = std::min(attentionTile - f % attentionTile, static_cast<std::size_t>(tile.columnEnd) - f);
                        const std::size_t at = layout.keyAt(h, f, j);
                        const float* source = keyData + static_cast<std::size_t>(r) * frames + f;
                        if (halfGroups) {
                            floatToHalf(source, halfGroups + at, span);
                        } else {
                            std::copy_n(source, span, groups + at);
                        }
                        f += span;
                    }
                }
            });
        auto rowValues = buffers_->floats(count);
        const PackedOperand valueWeights(activeKernelSet(),
            GemmOperand {cross.value.weight.dataPointer(), cross.value.weight.dataType() == MultiArrayDataType::float16, true, width_},
            width_, width_, pool_.get(), buffers_.get());
        gemm(pool_.get(), audioFrames_, width_, width_, 1.0f, embeds.get(), width_, valueWeights, 0.0f, rowValues.get(), width_,
            [&](const GemmTile& tile) {
                for (int f = tile.rowBegin; f < tile.rowEnd; ++f) {
                    float* row = rowValues.get() + static_cast<std::size_t>(f) * width;
                    axpy(1.0f, cross.value.bias.data() + tile.columnBegin, row + tile.columnBegin,
                        static_cast<std::size_t>(tile.columnEnd - tile.columnBegin));
                    for (std::size_t c = static_cast<std::size_t>(tile.columnBegin); c < static_cast<std::size_t>(tile.columnEnd);) {
                        const std::size_t h = c / headWidth;
                        const std::size_t j = c % headWidth;
                        const std::size_t span = std::min(headWidth - j, static_cast<std::size_t>(tile.columnEnd) - c);
                        const std::size_t at = layout.valueAt(h, static_cast<std::size_t>(f), j);
                        if (halfGroups) {
                            floatToHalf(row + c, halfGroups + at, span);
                        } else {
                            std::copy_n(row + c, span, groups + at);
                        }
                        c += span;
                    }
                }
            });
    }
    return state;
}

DictionaryFeatureProvider WhisperTextDecoderProgram::predict(const FeatureProvider& inputs) const
{
    // The encoder output is recognised by its contents: a caller may refill one array for a new
    // window. Steps of one window run on its kept state at once, the whole encoder output compared
    // while the step runs; should it differ after all, the step runs again on the right state.
    const MultiArray encoderOutput = *inputs.featureValue("encoder_output_embeds");
    const SourceBytes source = sourceBytes(encoderOutput);
    std::atomic<bool> stale {false};
    if (const auto likely = likelyCrossState(source)) {
        auto result = step(inputs, *likely, &source, stale);
        if (!stale.load()) {
            return result;
        }
    }
    return step(inputs, *crossState(encoderOutput, source), nullptr, stale);
}

DictionaryFeatureProvider WhisperTextDecoderProgram::step(const FeatureProvider& inputs, const CrossState& cross,
    const SourceBytes* unconfirmed, std::atomic<bool>& stale) const
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
        // From the logits' copy of the embedding: the mapped original is released, and reading it
        // would fault its pages in again on every step.
        WeightMatrix embedding = stream_.row(blocks_.size() * productLoopsPerLayer, 0, static_cast<std::size_t>(token));
        const bool copied = embedding.data != nullptr;
        if (!copied) {
            embedding = tokenEmbedding_.matrix();
        }
        const int at = copied ? 0 : token;
        std::vector<float> row(width);
        if (embedding.isHalf) {
            halfToFloat(embedding.halfRow(at), row.data(), width);
        } else {
            std::copy_n(embedding.floatRow(at), width, row.data());
        }
        for (std::size_t c = 0; c < width; ++c) {
            x[c] = row[c] + positions_[cached * width + c];
        }
    }

    std::vector<float> query(width), key(width), value(width), attended(width), projected(width);
    std::vector<float> hidden(4 * width);
    const std::size_t heads = static_cast<std::size_t>(heads_);
    const std::size_t threads = static_cast<std::size_t>(pool_->threadCount());
    // Each thread's own layer-normed input.
    const std::size_t rowStride = paddedToLine(width);
    auto normed = buffers_->floats(threads * rowStride);
    // Each head's scores on cache lines of their own.
    const std::size_t frameStride = paddedToLine(frames);
    const std::size_t selfStride = paddedToLine(cached + 1);
    auto selfScores = buffers_->floats(heads * selfStride);
    const std::size_t keyRowStride = static_cast<std::size_t>(keyCache.strides()[1]);
    const std::size_t keyColumnStride = static_cast<std::size_t>(keyCache.strides()[3]);
    const std::size_t valueRowStride = static_cast<std::size_t>(valueCache.strides()[1]);
    const std::size_t valueColumnStride = static_cast<std::size_t>(valueCache.strides()[3]);

    // Cross-attention runs over all heads' groups of keys and values in a row, one stretch per
    // thread and a group per chunk, so every thread reads the same share whatever the head count
    // and the threads done first take what others have left. The thread that runs the last
    // group of a head combines the head's groups through their running-softmax partials, while
    // the other heads still run.
    struct alignas(64) HeadCount {
        // Only rises through a step: layer l's share of the head takes it to l + 1 shares.
        std::atomic<std::size_t> value {0};
    };
    const CrossLayout layout(frames, heads, headWidth);
    const std::size_t span = heads * layout.groupsPerHead;
    const std::size_t pieceStride = paddedToLine(headWidth);
    std::vector<AttentionPartial> partials(span);
    auto pieceOutputs = buffers_->floats(span * pieceStride);
    std::vector<HeadCount> headCounts(heads);
    // Self- and cross-attention of a head start once the projections have made that head's rows
    // (the loops start early), instead of waiting for every row: the rows made so far per head.
    std::vector<HeadCount> queryRows(heads), projectedRows(heads);
    const auto countRows = [&](std::vector<HeadCount>& counts, std::size_t loop, std::size_t stretch, std::size_t begin, std::size_t end) {
        stream_.forChunks(loop, stretch, begin, end, [&](const ProductStream::Slice& slice, std::size_t from, std::size_t to) {
            for (std::size_t r = slice.first + from; r < slice.first + to;) {
                const std::size_t h = r / headWidth;
                const std::size_t stop = std::min(slice.first + to, (h + 1) * headWidth);
                counts[h].value.fetch_add(stop - r, std::memory_order_acq_rel);
                r = stop;
            }
        });
    };

    // The layers with alignment heads keep their probabilities and every group's share of its
    // head's weights for the alignment weights; the other layers' probabilities share one buffer.
    std::vector<bool> aligned(blocks_.size(), false);
    if (hasAlignmentOutput_) {
        for (const auto& pair : alignmentHeads_) {
            aligned[static_cast<std::size_t>(pair.first)] = true;
        }
    }
    std::vector<std::shared_ptr<float>> probabilities(blocks_.size()), groupFactors(blocks_.size());
    auto sharedProbabilities = buffers_->floats(heads * frameStride);
    for (std::size_t l = 0; l < blocks_.size(); ++l) {
        if (aligned[l]) {
            probabilities[l] = buffers_->floats(heads * frameStride);
            groupFactors[l] = buffers_->floats(span);
        }
    }

    const auto productChunks = [&](std::size_t loop, std::initializer_list<Product> products, std::size_t stretch, std::size_t begin,
                                   std::size_t end) {
        stream_.forChunks(loop, stretch, begin, end, [&](const ProductStream::Slice& slice, std::size_t from, std::size_t to) {
            const Product& product = *(products.begin() + static_cast<std::ptrdiff_t>(slice.product));
            float* output = product.output + slice.first;
            const float* bias = product.layer->bias.empty() ? nullptr : product.layer->bias.data() + slice.first;
            matrixVector(slice.matrix, product.input, bias, output, static_cast<int>(from), static_cast<int>(to));
            if (product.gelu) {
                gelu(output + from, to - from);
            }
            if (product.residual) {
                axpy(1.0f, output + from, product.residual + slice.first + from, to - from);
            }
        });
    };

    const auto selfAttentionHead = [&](std::size_t l, std::size_t h) {
        const std::size_t first = l * width + h * headWidth;
        ThreadPool::awaitAtLeast(projectedRows[h].value, (l + 1) * 3 * headWidth);
        if (keyColumnStride == 1 && valueColumnStride == 1) {
            prefetchChannelRows(halfData(keyCache) + first * keyRowStride, keyRowStride, cached, headWidth);
            prefetchChannelRows(halfData(valueCache) + first * valueRowStride, valueRowStride, cached, headWidth);
        }
        // The step sees its own key and value as the cache will hold them.
        floatToHalf(key.data() + h * headWidth, keyOut + first, headWidth);
        floatToHalf(value.data() + h * headWidth, valueOut + first, headWidth);
        halfToFloat(keyOut + first, key.data() + h * headWidth, headWidth);
        halfToFloat(valueOut + first, value.data() + h * headWidth, headWidth);

        float* scores = selfScores.get() + h * selfStride;
        const float* q = query.data() + h * headWidth;
        if (keyColumnStride == 1) {
            scoreChannelRows(q, halfData(keyCache) + first * keyRowStride, keyRowStride, cached, headWidth, scores);
        } else {
            std::fill(scores, scores + cached, 0.0f);
            for (std::size_t j = 0; j < headWidth; ++j) {
                const std::uint16_t* row = halfData(keyCache) + (first + j) * keyRowStride;
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
        if (valueColumnStride == 1) {
            weighChannelRows(scores, halfData(valueCache) + first * valueRowStride, valueRowStride, cached, headWidth, out);
        } else {
            for (std::size_t j = 0; j < headWidth; ++j) {
                const std::uint16_t* row = halfData(valueCache) + (first + j) * valueRowStride;
                float sum = 0;
                for (std::size_t p = 0; p < cached; ++p) {
                    sum += scores[p] * Float16::toFloat(row[p * valueColumnStride]);
                }
                out[j] = sum;
            }
        }
        for (std::size_t j = 0; j < headWidth; ++j) {
            out[j] += scores[cached] * value[h * headWidth + j];
        }
    };

    const auto combineCrossAttention = [&](std::size_t l, std::size_t h) {
        const std::size_t first = h * layout.groupsPerHead;
        float maximum = -std::numeric_limits<float>::infinity();
        for (std::size_t g = first; g < first + layout.groupsPerHead; ++g) {
            maximum = std::max(maximum, partials[g].maximum);
        }
        float sum = 0.0f;
        float* out = attended.data() + h * headWidth;
        std::fill(out, out + headWidth, 0.0f);
        for (std::size_t g = first; g < first + layout.groupsPerHead; ++g) {
            if (partials[g].sum > 0.0f) {
                const float factor = std::exp(partials[g].maximum - maximum);
                sum += factor * partials[g].sum;
                axpy(factor, pieceOutputs.get() + g * pieceStride, out, headWidth);
            }
        }
        const float inverse = 1.0f / sum;
        for (std::size_t j = 0; j < headWidth; ++j) {
            out[j] *= inverse;
        }
        if (hasAlignmentOutput_ && isAlignmentHead_[l * heads + h]) {
            const float listed = static_cast<float>(alignmentHeads_.size());
            for (std::size_t g = first; g < first + layout.groupsPerHead; ++g) {
                groupFactors[l].get()[g] = std::exp(partials[g].maximum - maximum) / (sum * listed);
            }
        }
    };

    const auto crossAttentionGroups = [&](std::size_t l, std::size_t stretch, std::size_t begin, std::size_t end) {
        const std::uint16_t* halfGroups = cross.halfGroups[l].get();
        const float* groups = cross.groups[l].get();
        float* layerProbabilities = aligned[l] ? probabilities[l].get() : sharedProbabilities.get();
        std::size_t runHead = 0, runGroups = 0;
        // A head's count rises once per run of its groups.
        const auto count = [&] {
            if (runGroups > 0 && headCounts[runHead].value.fetch_add(runGroups, std::memory_order_acq_rel) + runGroups
                    == (l + 1) * layout.groupsPerHead) {
                combineCrossAttention(l, runHead);
            }
        };
        for (std::size_t c = begin; c < end; ++c) {
            const std::size_t group = span * stretch / threads + c;
            const std::size_t h = group / layout.groupsPerHead;
            ThreadPool::awaitAtLeast(queryRows[h].value, (l + 1) * headWidth);
            const std::size_t from = group % layout.groupsPerHead * CrossLayout::groupPositions;
            const std::size_t stop = std::min(frames, from + CrossLayout::groupPositions);
            const float* q = query.data() + h * headWidth;
            float* weights = layerProbabilities + h * frameStride + from;
            float* out = pieceOutputs.get() + group * pieceStride;
            const std::size_t keyAt = layout.keyAt(h, from, 0);
            const std::size_t valueAt = layout.valueAt(h, from, 0);
            partials[group] = halfGroups
                ? attendBlock(q, halfGroups + keyAt, halfGroups + valueAt, headWidth, stop - from, headWidth, scale, weights, out)
                : attendBlock(q, groups + keyAt, groups + valueAt, headWidth, stop - from, headWidth, scale, weights, out);
            if (h != runHead) {
                count();
                runHead = h;
                runGroups = 0;
            }
            ++runGroups;
        }
        count();
    };

    MultiArray logits = buffers_->array({1, 1, vocabularySize_}, MultiArrayDataType::float32);
    // Each frame adds its heads' probabilities in the order the heads are listed, whichever thread
    // sums its range.
    auto alignment = buffers_->floats(hasAlignmentOutput_ ? frameStride : 0);
    const std::size_t rangeFrames = paddedToLine((frames + alignmentRanges - 1) / alignmentRanges);
    const auto sumAlignment = [&](std::size_t range) {
        const std::size_t from = std::min(frames, range * rangeFrames);
        const std::size_t to = std::min(frames, from + rangeFrames);
        std::fill(alignment.get() + from, alignment.get() + to, 0.0f);
        for (const auto& [layer, head] : alignmentHeads_) {
            const std::size_t l = static_cast<std::size_t>(layer);
            const std::size_t h = static_cast<std::size_t>(head);
            const float* weights = probabilities[l].get() + h * frameStride;
            const float* factors = groupFactors[l].get() + h * layout.groupsPerHead;
            for (std::size_t at = from; at < to;) {
                const std::size_t g = at / CrossLayout::groupPositions;
                const std::size_t stop = std::min(to, (g + 1) * CrossLayout::groupPositions);
                axpy(factors[g], weights + at, alignment.get() + at, stop - at);
                at = stop;
            }
        }
    };
    const auto norm = [&](std::size_t thread, const NormWeights& weights) {
        layerNorm(x.data(), normed.get() + thread * rowStride, width, weights.gain.data(), weights.bias.data(),
            transformerWeights::normEpsilon);
    };
    const std::size_t layers = blocks_.size();
    const auto enter = [&](int slot, std::size_t loop) {
        const std::size_t thread = static_cast<std::size_t>(slot);
        if (loop == layers * loopsPerLayer) {
            norm(thread, finalNorm_);
        }
        if (loop >= layers * loopsPerLayer) {
            return;
        }
        const Block& block = blocks_[loop / loopsPerLayer];
        switch (loop % loopsPerLayer) {
        case selfProjectionsLoop:
            norm(thread, block.selfAttentionNorm);
            // The cache rows of the thread's own heads, which it reads once the projections are
            // done: by then they wait in its caches.
            if (keyColumnStride == 1 && valueColumnStride == 1) {
                for (std::size_t h = heads * thread / threads; h < heads * (thread + 1) / threads; ++h) {
                    const std::size_t first = loop / loopsPerLayer * width + h * headWidth;
                    prefetchChannelRows(halfData(keyCache) + first * keyRowStride, keyRowStride, cached, headWidth);
                    prefetchChannelRows(halfData(valueCache) + first * valueRowStride, valueRowStride, cached, headWidth);
                }
            }
            break;
        case crossQueryLoop:
            norm(thread, block.crossAttentionNorm);
            break;
        case expandLoop:
            norm(thread, block.mlpNorm);
            break;
        default:
            break;
        }
    };
    const auto body = [&](int slot, std::size_t loop, std::size_t stretch, std::size_t begin, std::size_t end) {
        const std::size_t thread = static_cast<std::size_t>(slot);
        // Chunks taken from the back of another thread's stretch start cold: their first lines asked
        // for all at once, as far as the kernels' own requests run ahead of their reads.
        if (stretch != thread && loop <= layers * loopsPerLayer) {
            if (const auto streamed = streamLoop(loop)) {
                const auto memory = stream_.chunkMemory(*streamed, stretch, begin, end);
                prefetch(memory.first, std::min(memory.second, coldStartBytes));
            }
        }
        const float* input = normed.get() + thread * rowStride;
        if (loop == layers * loopsPerLayer) {
            productChunks(layers * productLoopsPerLayer, {{&tokenEmbedding_, input, logits.data<float>()}}, stretch, begin, end);
            return;
        }
        if (loop == compareLoop_) {
            for (std::size_t c = begin; unconfirmed && c < end && !stale.load(std::memory_order_relaxed); ++c) {
                const std::size_t range = sourceRanges * stretch / threads + c;
                const std::size_t from = unconfirmed->size * range / sourceRanges;
                const std::size_t to = unconfirmed->size * (range + 1) / sourceRanges;
                if (std::memcmp(cross.source.data() + from, unconfirmed->data + from, to - from) != 0) {
                    stale.store(true, std::memory_order_relaxed);
                }
            }
            return;
        }
        if (loop == alignmentLoop_) {
            for (std::size_t c = begin; c < end; ++c) {
                sumAlignment(alignmentRanges * stretch / threads + c);
            }
            return;
        }
        const std::size_t l = loop / loopsPerLayer;
        const Block& block = blocks_[l];
        switch (loop % loopsPerLayer) {
        case selfProjectionsLoop:
            productChunks(loopOf(l, selfProjections),
                {{&block.selfAttention.query, input, query.data()}, {&block.selfAttention.key, input, key.data()},
                    {&block.selfAttention.value, input, value.data()}},
                stretch, begin, end);
            countRows(projectedRows, loopOf(l, selfProjections), stretch, begin, end);
            break;
        case selfAttentionLoop:
            for (std::size_t c = begin; c < end; ++c) {
                selfAttentionHead(l, heads * stretch / threads + c);
            }
            break;
        case selfOutputLoop:
            productChunks(loopOf(l, selfOutput),
                {{&block.selfAttention.output, attended.data(), projected.data(), false, x.data()}}, stretch, begin, end);
            break;
        case crossQueryLoop:
            productChunks(loopOf(l, crossQuery), {{&block.crossAttention.query, input, query.data()}}, stretch, begin, end);
            countRows(queryRows, loopOf(l, crossQuery), stretch, begin, end);
            break;
        case crossAttentionLoop:
            if (stretch != thread && begin < end) {
                const std::size_t at = (span * stretch / threads + begin) * layout.groupElements;
                if (cross.halfGroups[l]) {
                    prefetch(cross.halfGroups[l].get() + at, coldStartBytes);
                } else {
                    prefetch(cross.groups[l].get() + at, coldStartBytes);
                }
            }
            crossAttentionGroups(l, stretch, begin, end);
            break;
        case crossOutputLoop:
            productChunks(loopOf(l, crossOutput),
                {{&block.crossAttention.output, attended.data(), projected.data(), false, x.data()}},
                stretch, begin, end);
            break;
        case expandLoop:
            productChunks(loopOf(l, expand), {{&block.mlp.expand, input, hidden.data(), true}}, stretch, begin, end);
            break;
        case contractLoop:
            productChunks(loopOf(l, contract), {{&block.mlp.contract, hidden.data(), projected.data(), false, x.data()}},
                stretch, begin, end);
            break;
        default:
            break;
        }
    };
    // A sequence holds at most so many loops: many layers run in several.
    const std::size_t layersPerSequence = (ThreadPool::maximumSequenceLoops - 1) / loopsPerLayer;
    for (std::size_t first = 0; first == 0 || first < layers; first += layersPerSequence) {
        const std::size_t begin = first * loopsPerLayer;
        const std::size_t end = first + layersPerSequence >= layers ? steps_.size() : begin + layersPerSequence * loopsPerLayer;
        pool_->parallelForSequence(std::span(steps_).subspan(begin, end - begin),
            std::span(aheads_).subspan(begin * threads, (end - begin) * threads), [&](int slot, std::size_t loop) { enter(slot, begin + loop); },
            [&](int slot, std::size_t loop, std::size_t stretch, std::size_t from, std::size_t to) {
                body(slot, begin + loop, stretch, from, to);
            },
            std::span(earlyLoops_).subspan(begin, end - begin));
    }

    DictionaryFeatureProvider result;
    result.set("logits", logits);
    result.set("key_cache_updates", keyUpdates);
    result.set("value_cache_updates", valueUpdates);
    if (hasAlignmentOutput_) {
        MultiArray weights = buffers_->array({1, audioFrames_}, alignmentType_);
        writeFloats(weights, alignment.get());
        result.set("alignment_heads_weights", weights);
    }
    return result;
}

} // namespace ml
