#include "platform/ml/programs/WhisperTextDecoderProgram.hpp"

#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/programs/ProgramSupport.hpp"
#include "platform/ml/programs/kernels/AttentionKernels.hpp"
#include "platform/ml/programs/kernels/MatrixKernels.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <array>
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

    readAlignmentHeads(folder, layers);

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
    for (Block& block : blocks_) {
        splitCrossHeads(block);
    }
    finalNorm_ = transformerWeights::norm(folder, "final_norm", width_);
    pool_ = std::make_unique<ThreadPool>(context.threadCount);
    buffers_ = BufferPool::create();
    gate_ = context.gate;

    const std::size_t threads = static_cast<std::size_t>(pool_->threadCount());
    const auto loops = productLoops();
    stream_ = ProductStream(loops, threads, threads, *pool_);
    planStepLoops(threads);

    const std::size_t capacity = windowCapacity(folder, cacheWidth);
    // Every window of a batch keeps its state from step to step (see unheldStatesToKeep).
    crossStatesKept_ = capacity + 1;
    batcher_ = std::make_unique<StepBatcher>(
        capacity, [this](std::span<const FeatureProvider* const> inputs) { return predictBatch(inputs); },
        [this](std::size_t count, const std::function<void(std::size_t)>& body) { forEachWindow(count, body); });
    releaseCopiedWeights(folder, loops);
}

void WhisperTextDecoderProgram::readAlignmentHeads(const ModelFolder& folder, int layers)
{
    hasAlignmentOutput_ = folder.description().output("alignment_heads_weights") != nullptr;
    if (!hasAlignmentOutput_) {
        return;
    }
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

// The stream's product loops in step order (see LayerLoop), then the logits.
std::vector<std::vector<const LinearWeights*>> WhisperTextDecoderProgram::productLoops() const
{
    std::vector<std::vector<const LinearWeights*>> loops;
    for (const Block& block : blocks_) {
        loops.push_back({&block.selfAttention.query, &block.selfAttention.key, &block.selfAttention.value});
        loops.push_back({&block.selfAttention.output});
        loops.push_back({&block.crossAttention.query});
        loops.emplace_back();
        for (const LinearWeights& head : block.crossKeyHeads) {
            loops.back().push_back(&head);
        }
        loops.emplace_back();
        for (const LinearWeights& head : block.crossValueHeads) {
            loops.back().push_back(&head);
        }
        loops.push_back({&block.crossAttention.output});
        loops.push_back({&block.mlp.expand});
        loops.push_back({&block.mlp.contract});
    }
    loops.push_back({&tokenEmbedding_});
    return loops;
}

void WhisperTextDecoderProgram::planStepLoops(std::size_t threads)
{
    // A product loop's threads ask for their first chunks' weights while they wait for them; the
    // attention loops get their chunks per step, by the windows stepping.
    for (std::size_t k = 0; k <= blocks_.size() * loopsPerLayer; ++k) {
        const auto loop = streamLoop(k);
        steps_.push_back(loop ? stream_.chunks(*loop) : std::vector<std::uint16_t>(threads, 0));
        for (std::size_t s = 0; s < threads; ++s) {
            const auto memory = loop ? stream_.chunkMemory(*loop, s, 0, std::min<std::size_t>(steps_[k][s], aheadChunks))
                                     : std::pair<const void*, std::size_t> {};
            aheads_.push_back({memory.first, memory.second});
        }
        // Self-attention of a head starts once the projections have made its rows, a window's
        // mixes once its softmax is done.
        const std::size_t which = k % loopsPerLayer;
        earlyLoops_.push_back(!loop && (which == selfAttentionLoop || which == crossMixLoop) ? 1 : 0);
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
}

std::size_t WhisperTextDecoderProgram::windowCapacity(const ModelFolder& folder, int cacheWidth) const
{
    // What one more window stepping together holds: its cross-attention state, its two caches
    // (the caller's) and its encoder output (the state's copy of it and the caller's).
    const bool halfOutput = folder.description().input("encoder_output_embeds")->dataType == MultiArrayDataType::float16;
    const std::size_t crossBytes
        = PanelMatrix::bytes(audioFrames_, width_, halfOutput) + PanelMatrix::bytes(width_, audioFrames_, halfOutput);
    const std::size_t windowBytes = crossBytes + 2 * static_cast<std::size_t>(cacheWidth) * static_cast<std::size_t>(cacheLength_) * 2
        + 2 * static_cast<std::size_t>(width_) * static_cast<std::size_t>(audioFrames_) * 4;
    return std::clamp<std::size_t>(windowMemoryBudget / std::max<std::size_t>(windowBytes, 1), 1, maximumWindows);
}

void WhisperTextDecoderProgram::releaseCopiedWeights(const ModelFolder& folder,
    const std::vector<std::vector<const LinearWeights*>>& loops)
{
    // The copies serve every step; the mapped originals need not stay in memory.
    for (const auto& loop : loops) {
        for (const LinearWeights* layer : loop) {
            folder.releaseTensor(layer->weight);
        }
    }
    for (Block& block : blocks_) {
        folder.releaseTensor(block.crossAttention.key.weight);
        folder.releaseTensor(block.crossAttention.value.weight);
        for (auto* heads : {&block.crossKeyHeads, &block.crossValueHeads}) {
            for (LinearWeights& head : *heads) {
                head.weight = MultiArray();
            }
        }
    }
}

// The stream packs each head's W_k^T and W_v rows as products of their own.
void WhisperTextDecoderProgram::splitCrossHeads(Block& block) const
{
    const int headWidth = width_ / heads_;
    const LinearWeights& key = block.crossAttention.key;
    const LinearWeights& value = block.crossAttention.value;
    const MultiArrayDataType type = key.weight.dataType();
    const std::size_t size = elementSize(type);
    const auto* keys = static_cast<const unsigned char*>(key.weight.dataPointer());
    for (int h = 0; h < heads_; ++h) {
        LinearWeights transposed {MultiArray({width_, headWidth}, type), {}};
        auto* target = static_cast<unsigned char*>(transposed.weight.dataPointer());
        for (int c = 0; c < width_; ++c) {
            for (int i = 0; i < headWidth; ++i) {
                std::memcpy(target + (static_cast<std::size_t>(c) * headWidth + i) * size,
                    keys + (static_cast<std::size_t>(h * headWidth + i) * width_ + c) * size, size);
            }
        }
        block.crossKeyHeads.push_back(std::move(transposed));
        LinearWeights rows {MultiArray({headWidth, width_}, value.weight.dataType()), {}};
        const std::size_t rowBytes = static_cast<std::size_t>(headWidth) * width_ * elementSize(value.weight.dataType());
        std::memcpy(rows.weight.dataPointer(), static_cast<const unsigned char*>(value.weight.dataPointer()) + h * rowBytes, rowBytes);
        if (!value.bias.empty()) {
            rows.bias.assign(value.bias.begin() + h * headWidth, value.bias.begin() + (h + 1) * headWidth);
        }
        block.crossValueHeads.push_back(std::move(rows));
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
    case crossFoldLoop: return loopOf(l, crossFold);
    case crossValuesLoop: return loopOf(l, crossValues);
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

template<typename Match>
std::shared_ptr<const WhisperTextDecoderProgram::CrossState> WhisperTextDecoderProgram::takeToFront(Match&& matches) const
{
    const auto at = std::find_if(crossStates_.begin(), crossStates_.end(), [&](const auto& state) { return matches(*state); });
    if (at == crossStates_.end()) {
        return nullptr;
    }
    auto state = *at;
    crossStates_.erase(at);
    crossStates_.push_front(state);
    return state;
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
    return takeToFront(agrees);
}

std::shared_ptr<const WhisperTextDecoderProgram::CrossState> WhisperTextDecoderProgram::crossState(
    const MultiArray& encoderOutput, const SourceBytes& source) const
{
    const unsigned char* bytes = source.data;
    const std::size_t size = source.size;
    const MultiArrayDataType keyType = source.type;
    {
        std::lock_guard lock(crossMutex_);
        if (auto state = takeToFront([&](const CrossState& candidate) {
                return candidate.sourceType == keyType && candidate.source.size() == size
                    && sameBytes(candidate.source.data(), bytes, size);
            })) {
            return state;
        }
    }
    const std::size_t keep = unheldStatesToKeep();
    {
        // States no window uses go first, the least recently used first, so their memory serves
        // the new one.
        std::lock_guard lock(crossMutex_);
        dropUnheldStates(keep);
    }
    auto state = computeCrossState(encoderOutput, bytes, size);
    std::lock_guard lock(crossMutex_);
    crossStates_.push_front(state);
    dropUnheldStates(keep);
    return state;
}

// The windows stepping hold their states; those of windows that have ended only hold memory. Two
// are kept for a window decoded again (its language detected first, falling back to a higher
// temperature), and the states of windows that stepped without a series, whose caller may step
// them again next.
std::size_t WhisperTextDecoderProgram::unheldStatesToKeep() const
{
    return std::min(crossStatesKept_, looseWindows_.load(std::memory_order_relaxed) + 2);
}

void WhisperTextDecoderProgram::dropUnheldStates(std::size_t kept) const
{
    std::size_t unheld = 0;
    for (auto it = crossStates_.begin(); it != crossStates_.end();) {
        // Held by the list alone: no step or series runs on it.
        if (it->use_count() == 1 && ++unheld > kept) {
            it = crossStates_.erase(it);
        } else {
            ++it;
        }
    }
}

std::shared_ptr<const WhisperTextDecoderProgram::CrossState> WhisperTextDecoderProgram::computeCrossState(
    const MultiArray& encoderOutput, const unsigned char* sourceBytes, std::size_t sourceSize) const
{
    auto state = std::make_shared<CrossState>();
    state->sourceType = encoderOutput.isPacked() ? encoderOutput.dataType() : MultiArrayDataType::float32;
    state->source = {buffers_->halves((sourceSize + 1) / 2), sourceSize};
    std::memcpy(state->source.block.get(), sourceBytes, sourceSize);

    const std::size_t width = static_cast<std::size_t>(width_);
    const std::size_t frames = static_cast<std::size_t>(audioFrames_);
    auto channels = buffers_->floats(width * frames); // [channel][frame]
    readFloats(encoderOutput, channels.get());
    // float16 outputs keep their values exactly.
    const bool half = encoderOutput.dataType() == MultiArrayDataType::float16;
    const std::size_t frameBytes = PanelMatrix::bytes(audioFrames_, width_, half);
    const std::size_t elements = (frameBytes + PanelMatrix::bytes(width_, audioFrames_, half)) / (half ? 2 : 4);
    state->storage = half ? std::shared_ptr<void>(buffers_->halves(elements)) : std::shared_ptr<void>(buffers_->floats(elements));
    auto* base = static_cast<unsigned char*>(state->storage.get());
    const int framePanels = (audioFrames_ + PanelMatrix::panelRows - 1) / PanelMatrix::panelRows;
    const int channelPanels = (width_ + PanelMatrix::panelRows - 1) / PanelMatrix::panelRows;
    pool_->parallelFor(static_cast<std::size_t>(framePanels + channelPanels), 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t p = begin; p < end; ++p) {
            const int panel = static_cast<int>(p);
            if (panel < framePanels) {
                packPanels(channels.get(), 1, frames, audioFrames_, width_, half, base, panel, panel + 1);
            } else {
                packPanels(channels.get(), frames, 1, width_, audioFrames_, half, base + frameBytes, panel - framePanels,
                    panel - framePanels + 1);
            }
        }
    });
    state->frames = {base, half, audioFrames_, width_};
    state->channels = {base + frameBytes, half, width_, audioFrames_};
    return state;
}

WhisperTextDecoderProgram::WindowStep WhisperTextDecoderProgram::windowStep(const FeatureProvider& inputs) const
{
    WindowStep window;
    window.token = readInteger(*inputs.featureValue("input_ids"), "input_ids", label_);
    const int position = readInteger(*inputs.featureValue("cache_length"), "cache_length", label_);
    if (window.token < 0 || window.token >= vocabularySize_) {
        throw ModelError(label_ + ": input \"input_ids\" holds token " + std::to_string(window.token)
            + ", outside the vocabulary of " + std::to_string(vocabularySize_));
    }
    if (position < 0 || position >= cacheLength_) {
        throw ModelError(label_ + ": input \"cache_length\" is " + std::to_string(position) + ", outside 0 to "
            + std::to_string(cacheLength_ - 1));
    }
    window.cached = static_cast<std::size_t>(position);
    window.keyCache = *inputs.featureValue("key_cache");
    window.valueCache = *inputs.featureValue("value_cache");
    const MultiArray paddingMask = *inputs.featureValue("decoder_key_padding_mask");
    window.padding.resize(window.cached);
    for (std::size_t p = 0; p < window.cached; ++p) {
        window.padding[p] = static_cast<float>(paddingMask.valueAtOffset(p * static_cast<std::size_t>(paddingMask.strides()[1])));
    }
    window.encoderOutput = *inputs.featureValue("encoder_output_embeds");
    return window;
}

DictionaryFeatureProvider WhisperTextDecoderProgram::predict(const FeatureProvider& inputs) const
{
    return batcher_->step(inputs);
}

// A series' inputs as the batcher sees them: each carries the cross-attention state the steps
// before it confirmed for the series' encoder output.
struct WhisperTextDecoderProgram::SeriesInput final : FeatureProvider {
    std::vector<std::string> featureNames() const override { return input->featureNames(); }
    std::optional<MultiArray> featureValue(const std::string& name) const override { return input->featureValue(name); }

    const FeatureProvider* input = nullptr;
    // Written by the step that runs on it; the series' next step runs after that one.
    mutable std::shared_ptr<const CrossState> confirmed;
};

class WhisperTextDecoderProgram::SeriesSteps final : public StepSeries {
public:
    explicit SeriesSteps(StepSeries& series) : series_(series) {}
    const FeatureProvider* start() override { return tagged(series_.start()); }
    const FeatureProvider* advance(DictionaryFeatureProvider outputs) override { return tagged(series_.advance(std::move(outputs))); }

private:
    const FeatureProvider* tagged(const FeatureProvider* input)
    {
        input_.input = input;
        return input ? &input_ : nullptr;
    }
    StepSeries& series_;
    SeriesInput input_;
};

void WhisperTextDecoderProgram::runSteps(StepSeries& series) const
{
    SeriesSteps steps(series);
    batcher_->run(steps);
}

// The windows' work between two steps runs on the program's threads too, so it takes its turn as
// a prediction does.
void WhisperTextDecoderProgram::forEachWindow(std::size_t count, const std::function<void(std::size_t)>& body) const
{
    const auto turn = ComputeGate::enter(gate_.get());
    pool_->parallelFor(count, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            body(i);
        }
    });
}

std::vector<DictionaryFeatureProvider> WhisperTextDecoderProgram::predictBatch(std::span<const FeatureProvider* const> inputs) const
{
    const auto turn = ComputeGate::enter(gate_.get());
    return stepInBatches(inputs);
}

std::vector<DictionaryFeatureProvider> WhisperTextDecoderProgram::stepInBatches(std::span<const FeatureProvider* const> inputs) const
{
    // More windows than the memory budget allows step in several batches.
    const std::size_t capacity = batchCapacity();
    std::vector<DictionaryFeatureProvider> results;
    for (std::size_t first = 0; first < inputs.size(); first += capacity) {
        for (auto& result : stepBatch(inputs.subspan(first, std::min(capacity, inputs.size() - first)))) {
            results.push_back(std::move(result));
        }
    }
    return results;
}

std::vector<DictionaryFeatureProvider> WhisperTextDecoderProgram::stepBatch(std::span<const FeatureProvider* const> inputs) const
{
    std::vector<WindowStep> windows;
    windows.reserve(inputs.size());
    std::size_t loose = 0;
    for (const FeatureProvider* input : inputs) {
        const auto* series = dynamic_cast<const SeriesInput*>(input);
        loose += series ? 0 : 1;
        windows.push_back(windowStep(*input));
        findCrossState(windows.back(), series);
    }
    looseWindows_.store(loose, std::memory_order_relaxed);
    std::vector<DictionaryFeatureProvider> results = step(windows);
    redoStaleSteps(windows, results);
    for (std::size_t w = 0; w < windows.size(); ++w) {
        if (const auto* series = dynamic_cast<const SeriesInput*>(inputs[w])) {
            series->confirmed = windows[w].cross;
        }
    }
    markUsed(windows);
    return results;
}

// The states of the windows that stepped last go to the front: once a window ends, its state is
// among the last that go.
void WhisperTextDecoderProgram::markUsed(std::span<const WindowStep> windows) const
{
    std::lock_guard lock(crossMutex_);
    for (const WindowStep& window : windows) {
        if (!takeToFront([&](const CrossState& state) { return &state == window.cross.get(); })) {
            crossStates_.push_front(window.cross);
        }
    }
}

// The encoder output is recognised by its contents: a caller may refill one array for a new
// window. A step runs on a kept state at once, the whole encoder output compared while the step
// runs (see redoStaleSteps); the later steps of a series run on the state its first step confirmed.
void WhisperTextDecoderProgram::findCrossState(WindowStep& window, const SeriesInput* series) const
{
    window.cross = series ? series->confirmed : nullptr;
    if (window.cross) {
        return;
    }
    window.source = sourceBytes(window.encoderOutput);
    window.cross = likelyCrossState(window.source);
    window.confirm = window.cross != nullptr;
    if (!window.cross) {
        window.cross = crossState(window.encoderOutput, window.source);
    }
}

// Windows whose encoder output differed from their kept state's after all step again on the right
// state.
void WhisperTextDecoderProgram::redoStaleSteps(std::span<WindowStep> windows, std::vector<DictionaryFeatureProvider>& results) const
{
    std::vector<WindowStep> again;
    std::vector<std::size_t> againAt;
    for (std::size_t w = 0; w < windows.size(); ++w) {
        if (windows[w].stale) {
            againAt.push_back(w);
            again.push_back(std::move(windows[w]));
            again.back().cross = crossState(again.back().encoderOutput, again.back().source);
            again.back().confirm = false;
            again.back().stale = false;
        }
    }
    if (again.empty()) {
        return;
    }
    std::vector<DictionaryFeatureProvider> redone = step(again);
    for (std::size_t i = 0; i < again.size(); ++i) {
        results[againAt[i]] = std::move(redone[i]);
        windows[againAt[i]] = std::move(again[i]);
    }
}

// One decoder step of several windows: every product loop reads its weights once for all of them,
// while attention runs per window over its own cache and its own encoder output. A window's values
// are computed exactly as they are when it steps alone.
struct WhisperTextDecoderProgram::StepRun {
    struct alignas(64) Count {
        // Only rises through a step: layer l's share takes it to l + 1 shares.
        std::atomic<std::size_t> value {0};
    };
    // A product of one loop for every window: window w reads input + w * inputStride and writes
    // output + w * outputStride (and adds it to residual + w * width).
    struct Product {
        const LinearWeights* layer;
        const float* input;
        std::size_t inputStride;
        float* output;
        std::size_t outputStride;
        bool gelu = false;
        float* residual = nullptr;
    };
    struct Window {
        std::uint16_t* keyOut = nullptr;
        std::uint16_t* valueOut = nullptr;
        std::size_t keyRowStride = 0, keyColumnStride = 0, valueRowStride = 0, valueColumnStride = 0;
        std::size_t scoresAt = 0;
        // Chunks of the window's cross-attention scores done, and the layers whose softmax is.
        Count scored, softmaxed;
    };

    StepRun(const WhisperTextDecoderProgram& program, std::span<WindowStep> steps);
    void run();
    std::vector<DictionaryFeatureProvider> results();

    // The stages of a layer, run by the sequence's loops.
    void normInputs(std::size_t thread, const NormWeights& weights);
    // `input` is the calling thread's normed rows of the windows.
    void projections(std::size_t layer, const float* input, std::size_t stretch, std::size_t begin, std::size_t end);
    void selfAttention(std::size_t layer, std::size_t window, std::size_t head);
    void selfOutput(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void crossQuery(std::size_t layer, const float* input, std::size_t stretch, std::size_t begin, std::size_t end);
    void crossFold(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void crossScores(std::size_t layer, std::size_t window, std::size_t chunk);
    void crossMix(std::size_t layer, std::size_t window, std::size_t chunk);
    void crossValues(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void crossOutput(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void feedForwardExpand(std::size_t layer, const float* input, std::size_t stretch, std::size_t begin, std::size_t end);
    void feedForwardContract(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void logits(const float* input, std::size_t stretch, std::size_t begin, std::size_t end);
    void sumAlignment(std::size_t window, std::size_t range);
    void compareSource(std::size_t window, std::size_t range);

    // The construction's stages.
    void setUpWindows();
    void setUpCrossAttention();
    void planSchedule();
    void embed();
    void productChunks(std::size_t loop, std::span<const Product> products, std::size_t stretch, std::size_t begin,
        std::size_t end);
    void productChunks(std::size_t loop, std::initializer_list<Product> products, std::size_t stretch, std::size_t begin,
        std::size_t end)
    {
        productChunks(loop, std::span(products.begin(), products.size()), stretch, begin, end);
    }
    void countRows(std::vector<Count>& counts, std::size_t loop, std::size_t stretch, std::size_t begin, std::size_t end);
    // Runs `stage(window, chunk)` for the loop's chunks [begin, end) of a stretch, `chunks` per window.
    template<typename Stage>
    void windowChunks(std::size_t chunks, std::size_t stretch, std::size_t begin, std::size_t end, Stage&& stage)
    {
        for (std::size_t c = begin; c < end; ++c) {
            const std::size_t at = chunks * count * stretch / threads + c;
            stage(at / chunks, at % chunks);
        }
    }
    void softmaxHeads(std::size_t layer, std::size_t window);
    void prefetchCacheRows(std::size_t window, std::size_t first) const;
    void enter(int slot, std::size_t loop);
    void body(int slot, std::size_t loop, std::size_t stretch, std::size_t begin, std::size_t end);
    const float* normed(std::size_t thread) const { return normedInputs.get() + thread * count * rowStride; }
    float* layerProbabilities(std::size_t layer, std::size_t window) const
    {
        return (aligned[layer] ? probabilities[layer].get() : sharedProbabilities.get()) + window * heads * frameStride;
    }

    const WhisperTextDecoderProgram& program;
    std::span<WindowStep> steps;
    const std::size_t count;
    const std::size_t layers;
    const std::size_t width;
    const std::size_t heads;
    const std::size_t headWidth;
    const std::size_t frames;
    const std::size_t threads;
    const float scale;
    const std::size_t rowStride;
    const std::size_t frameStride;
    const std::size_t scoreChunks; // of one window
    const std::size_t mixChunks;

    std::vector<Window> windows;
    std::vector<MultiArray> keyUpdates, valueUpdates;
    // [window][width] (hidden [window][4 width]); normed inputs [thread][window][rowStride].
    std::vector<float> x, query, key, value, attended, projected, hidden;
    std::shared_ptr<float> normedInputs;
    std::shared_ptr<float> selfScores;
    // [window][head][width]: W_k,h^T q_h, then E^T p_h.
    std::shared_ptr<float> folded, mixed;
    // Self-attention of a head starts once the projections have made that head's rows (the loop
    // starts early) instead of waiting for every row: the rows made so far per head, the same for
    // every window.
    std::vector<Count> projectedRows;
    // Each step's cross-attention products per head, [layer][head].
    std::vector<std::vector<Product>> foldProducts, valueProducts;
    // Rows of folded and mixed, [window * heads + head], and of each layer's probabilities.
    std::vector<const float*> foldedRows;
    std::vector<float*> mixedRows;
    std::vector<std::vector<float*>> probabilityRows;
    // The layers with alignment heads keep their probabilities for the alignment weights; the
    // other layers' probabilities share one buffer.
    std::vector<bool> aligned;
    std::vector<std::shared_ptr<float>> probabilities; // [layer] -> [window][head][frameStride]
    std::shared_ptr<float> sharedProbabilities;
    std::shared_ptr<float> logitRows; // [window][vocabulary]
    std::shared_ptr<float> alignment; // [window][frameStride]
    std::size_t rangeFrames = 0;
    std::vector<std::uint8_t> stale;
    std::vector<std::vector<std::uint16_t>> schedule; // the step loops' chunks per stretch
};

WhisperTextDecoderProgram::StepRun::StepRun(const WhisperTextDecoderProgram& program, std::span<WindowStep> steps)
    : program(program)
    , steps(steps)
    , count(steps.size())
    , layers(program.blocks_.size())
    , width(static_cast<std::size_t>(program.width_))
    , heads(static_cast<std::size_t>(program.heads_))
    , headWidth(width / heads)
    , frames(static_cast<std::size_t>(program.audioFrames_))
    , threads(static_cast<std::size_t>(program.pool_->threadCount()))
    , scale(1.0f / std::sqrt(static_cast<float>(headWidth)))
    , rowStride(paddedToLine(width))
    , frameStride(paddedToLine(frames))
    , scoreChunks((frames + scorePanels * PanelMatrix::panelRows - 1) / (scorePanels * PanelMatrix::panelRows))
    , mixChunks((width + mixPanels * PanelMatrix::panelRows - 1) / (mixPanels * PanelMatrix::panelRows))
    , windows(count)
    , x(count * width)
    , query(count * width)
    , key(count * width)
    , value(count * width)
    , attended(count * width)
    , projected(count * width)
    , hidden(count * 4 * width)
    , projectedRows(heads)
    , foldProducts(layers)
    , valueProducts(layers)
    , probabilityRows(layers)
    , aligned(layers, false)
    , probabilities(layers)
    , stale(count, 0)
{
    setUpWindows();
    setUpCrossAttention();
    logitRows = program.buffers_->floats(count * static_cast<std::size_t>(program.vocabularySize_));
    alignment = program.buffers_->floats(program.hasAlignmentOutput_ ? count * frameStride : 0);
    rangeFrames = paddedToLine((frames + alignmentRanges - 1) / alignmentRanges);
    planSchedule();
    embed();
}

// Each window's cache updates, its caches' strides and its self-attention scores.
void WhisperTextDecoderProgram::StepRun::setUpWindows()
{
    BufferPool& buffers = *program.buffers_;
    const int cacheWidth = static_cast<int>(layers) * program.width_;
    std::size_t scores = 0;
    for (std::size_t w = 0; w < count; ++w) {
        Window& window = windows[w];
        const WindowStep& step = steps[w];
        keyUpdates.push_back(buffers.array({1, cacheWidth, 1, 1}, MultiArrayDataType::float16));
        valueUpdates.push_back(buffers.array({1, cacheWidth, 1, 1}, MultiArrayDataType::float16));
        window.keyOut = static_cast<std::uint16_t*>(keyUpdates.back().dataPointer());
        window.valueOut = static_cast<std::uint16_t*>(valueUpdates.back().dataPointer());
        window.keyRowStride = static_cast<std::size_t>(step.keyCache.strides()[1]);
        window.keyColumnStride = static_cast<std::size_t>(step.keyCache.strides()[3]);
        window.valueRowStride = static_cast<std::size_t>(step.valueCache.strides()[1]);
        window.valueColumnStride = static_cast<std::size_t>(step.valueCache.strides()[3]);
        // Each head's scores on cache lines of their own.
        window.scoresAt = scores;
        scores += heads * paddedToLine(step.cached + 1);
    }
    normedInputs = buffers.floats(threads * count * rowStride);
    selfScores = buffers.floats(scores);
}

// The per-head products, rows and probabilities of cross-attention.
void WhisperTextDecoderProgram::StepRun::setUpCrossAttention()
{
    BufferPool& buffers = *program.buffers_;
    folded = buffers.floats(count * heads * width);
    mixed = buffers.floats(count * heads * width);
    for (std::size_t l = 0; l < layers; ++l) {
        const Block& block = program.blocks_[l];
        for (std::size_t h = 0; h < heads; ++h) {
            foldProducts[l].push_back(
                {&block.crossKeyHeads[h], query.data() + h * headWidth, width, folded.get() + h * width, heads * width});
            valueProducts[l].push_back(
                {&block.crossValueHeads[h], mixed.get() + h * width, heads * width, attended.data() + h * headWidth, width});
        }
    }
    if (program.hasAlignmentOutput_) {
        for (const auto& pair : program.alignmentHeads_) {
            aligned[static_cast<std::size_t>(pair.first)] = true;
        }
    }
    sharedProbabilities = buffers.floats(count * heads * frameStride);
    for (std::size_t l = 0; l < layers; ++l) {
        if (aligned[l]) {
            probabilities[l] = buffers.floats(count * heads * frameStride);
        }
    }
    for (std::size_t row = 0; row < count * heads; ++row) {
        foldedRows.push_back(folded.get() + row * width);
        mixedRows.push_back(mixed.get() + row * width);
        for (std::size_t l = 0; l < layers; ++l) {
            probabilityRows[l].push_back(layerProbabilities(l, row / heads) + row % heads * frameStride);
        }
    }
}

// Product loops keep their chunks whatever the window count; attention and the loops after the
// logits run a share per window.
void WhisperTextDecoderProgram::StepRun::planSchedule()
{
    schedule = program.steps_;
    for (std::size_t k = 0; k < layers * loopsPerLayer; ++k) {
        if (k % loopsPerLayer == selfAttentionLoop) {
            schedule[k] = evenStretches(heads * count, threads);
        } else if (k % loopsPerLayer == crossScoresLoop) {
            schedule[k] = evenStretches(scoreChunks * count, threads);
        } else if (k % loopsPerLayer == crossMixLoop) {
            schedule[k] = evenStretches(mixChunks * count, threads);
        }
    }
    if (program.hasAlignmentOutput_) {
        schedule[program.alignmentLoop_] = evenStretches(alignmentRanges * count, threads);
    }
    schedule[program.compareLoop_] = evenStretches(sourceRanges * count, threads);
}

void WhisperTextDecoderProgram::StepRun::embed()
{
    // From the logits' copy of the embedding: the mapped original is released, and reading it
    // would fault its pages in again on every step.
    std::vector<float> row(width);
    for (std::size_t w = 0; w < count; ++w) {
        const int token = steps[w].token;
        if (!program.stream_.readRow(layers * productLoopsPerLayer, 0, static_cast<std::size_t>(token), row.data())) {
            const WeightMatrix embedding = program.tokenEmbedding_.matrix();
            if (embedding.isHalf) {
                halfToFloat(embedding.halfRow(token), row.data(), width);
            } else {
                std::copy_n(embedding.floatRow(token), width, row.data());
            }
        }
        const float* position = program.positions_.data() + steps[w].cached * width;
        for (std::size_t c = 0; c < width; ++c) {
            x[w * width + c] = row[c] + position[c];
        }
    }
}

void WhisperTextDecoderProgram::StepRun::productChunks(std::size_t loop, std::span<const Product> products,
    std::size_t stretch, std::size_t begin, std::size_t end)
{
    std::array<const float*, maximumWindows> inputs {};
    std::array<float*, maximumWindows> outputs {};
    program.stream_.forChunks(loop, stretch, begin, end, [&](const ProductStream::Slice& slice, std::size_t from, std::size_t to) {
        const Product& product = products[slice.product];
        for (std::size_t w = 0; w < count; ++w) {
            inputs[w] = product.input + w * product.inputStride;
            outputs[w] = product.output + w * product.outputStride + slice.first;
        }
        const float* bias = product.layer->bias.empty() ? nullptr : product.layer->bias.data() + slice.first;
        panelProducts(slice.matrix, VectorBatch {inputs.data(), outputs.data(), count}, bias, static_cast<int>(from),
            static_cast<int>(to));
        for (std::size_t w = 0; w < count; ++w) {
            if (product.gelu) {
                gelu(outputs[w] + from, to - from);
            }
            if (product.residual) {
                axpy(1.0f, outputs[w] + from, product.residual + w * width + slice.first + from, to - from);
            }
        }
    });
}

void WhisperTextDecoderProgram::StepRun::countRows(std::vector<Count>& counts, std::size_t loop, std::size_t stretch,
    std::size_t begin, std::size_t end)
{
    program.stream_.forChunks(loop, stretch, begin, end, [&](const ProductStream::Slice& slice, std::size_t from, std::size_t to) {
        for (std::size_t r = slice.first + from; r < slice.first + to;) {
            const std::size_t h = r / headWidth;
            const std::size_t stop = std::min(slice.first + to, (h + 1) * headWidth);
            counts[h].value.fetch_add(stop - r, std::memory_order_acq_rel);
            r = stop;
        }
    });
}

void WhisperTextDecoderProgram::StepRun::normInputs(std::size_t thread, const NormWeights& weights)
{
    for (std::size_t w = 0; w < count; ++w) {
        layerNorm(x.data() + w * width, normedInputs.get() + (thread * count + w) * rowStride, width, weights.gain.data(),
            weights.bias.data(), transformerWeights::normEpsilon);
    }
}

void WhisperTextDecoderProgram::StepRun::prefetchCacheRows(std::size_t w, std::size_t first) const
{
    const Window& window = windows[w];
    if (window.keyColumnStride == 1 && window.valueColumnStride == 1) {
        prefetchChannelRows(halfData(steps[w].keyCache) + first * window.keyRowStride, window.keyRowStride, steps[w].cached,
            headWidth);
        prefetchChannelRows(halfData(steps[w].valueCache) + first * window.valueRowStride, window.valueRowStride,
            steps[w].cached, headWidth);
    }
}

void WhisperTextDecoderProgram::StepRun::projections(std::size_t l, const float* input, std::size_t stretch, std::size_t begin,
    std::size_t end)
{
    const AttentionWeights& attention = program.blocks_[l].selfAttention;
    productChunks(loopOf(l, selfProjections),
        {{&attention.query, input, rowStride, query.data(), width}, {&attention.key, input, rowStride, key.data(), width},
            {&attention.value, input, rowStride, value.data(), width}},
        stretch, begin, end);
    countRows(projectedRows, loopOf(l, selfProjections), stretch, begin, end);
}

void WhisperTextDecoderProgram::StepRun::selfAttention(std::size_t l, std::size_t w, std::size_t h)
{
    const Window& window = windows[w];
    const WindowStep& step = steps[w];
    const std::size_t cached = step.cached;
    const std::uint16_t* keyCache = halfData(step.keyCache);
    const std::uint16_t* valueCache = halfData(step.valueCache);
    const std::size_t first = l * width + h * headWidth;
    ThreadPool::awaitAtLeast(projectedRows[h].value, (l + 1) * 3 * headWidth);
    prefetchCacheRows(w, first);
    float* ownKey = key.data() + w * width + h * headWidth;
    float* ownValue = value.data() + w * width + h * headWidth;
    // The step sees its own key and value as the cache will hold them.
    floatToHalf(ownKey, window.keyOut + first, headWidth);
    floatToHalf(ownValue, window.valueOut + first, headWidth);
    halfToFloat(window.keyOut + first, ownKey, headWidth);
    halfToFloat(window.valueOut + first, ownValue, headWidth);

    float* scores = selfScores.get() + window.scoresAt + h * paddedToLine(cached + 1);
    const float* q = query.data() + w * width + h * headWidth;
    if (window.keyColumnStride == 1) {
        scoreChannelRows(q, keyCache + first * window.keyRowStride, window.keyRowStride, cached, headWidth, scores);
    } else {
        std::fill(scores, scores + cached, 0.0f);
        for (std::size_t j = 0; j < headWidth; ++j) {
            const std::uint16_t* row = keyCache + (first + j) * window.keyRowStride;
            for (std::size_t p = 0; p < cached; ++p) {
                scores[p] += q[j] * Float16::toFloat(row[p * window.keyColumnStride]);
            }
        }
    }
    for (std::size_t p = 0; p < cached; ++p) {
        scores[p] = scores[p] * scale + step.padding[p];
    }
    scores[cached] = dot(q, ownKey, headWidth) * scale;
    softmax(scores, cached + 1, 1.0f);
    float* out = attended.data() + w * width + h * headWidth;
    if (window.valueColumnStride == 1) {
        weighChannelRows(scores, valueCache + first * window.valueRowStride, window.valueRowStride, cached, headWidth, out);
    } else {
        for (std::size_t j = 0; j < headWidth; ++j) {
            const std::uint16_t* row = valueCache + (first + j) * window.valueRowStride;
            float sum = 0;
            for (std::size_t p = 0; p < cached; ++p) {
                sum += scores[p] * Float16::toFloat(row[p * window.valueColumnStride]);
            }
            out[j] = sum;
        }
    }
    for (std::size_t j = 0; j < headWidth; ++j) {
        out[j] += scores[cached] * ownValue[j];
    }
}

void WhisperTextDecoderProgram::StepRun::selfOutput(std::size_t l, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(loopOf(l, WhisperTextDecoderProgram::selfOutput),
        {{&program.blocks_[l].selfAttention.output, attended.data(), width, projected.data(), width, false, x.data()}}, stretch,
        begin, end);
}

void WhisperTextDecoderProgram::StepRun::crossQuery(std::size_t l, const float* input, std::size_t stretch, std::size_t begin,
    std::size_t end)
{
    productChunks(loopOf(l, WhisperTextDecoderProgram::crossQuery),
        {{&program.blocks_[l].crossAttention.query, input, rowStride, query.data(), width}}, stretch, begin, end);
}

void WhisperTextDecoderProgram::StepRun::crossFold(std::size_t l, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(loopOf(l, WhisperTextDecoderProgram::crossFold), foldProducts[l], stretch, begin, end);
}

// Every head's scores over one chunk of the window's frames; the chunk that completes the window's
// scores takes their softmax.
void WhisperTextDecoderProgram::StepRun::crossScores(std::size_t l, std::size_t w, std::size_t chunk)
{
    const std::size_t from = chunk * scorePanels * PanelMatrix::panelRows;
    const std::size_t to = std::min(frames, from + scorePanels * PanelMatrix::panelRows);
    panelProducts(steps[w].cross->frames, VectorBatch {foldedRows.data() + w * heads, probabilityRows[l].data() + w * heads, heads},
        nullptr, static_cast<int>(from), static_cast<int>(to));
    if (windows[w].scored.value.fetch_add(1, std::memory_order_acq_rel) + 1 == (l + 1) * scoreChunks) {
        softmaxHeads(l, w);
    }
}

void WhisperTextDecoderProgram::StepRun::softmaxHeads(std::size_t l, std::size_t w)
{
    float* scores = layerProbabilities(l, w);
    for (std::size_t h = 0; h < heads; ++h) {
        softmax(scores + h * frameStride, frames, scale);
    }
    windows[w].softmaxed.value.store(l + 1, std::memory_order_release);
}

// Every head's mix of the frames for one chunk of the channels, once the window's softmax is done.
void WhisperTextDecoderProgram::StepRun::crossMix(std::size_t l, std::size_t w, std::size_t chunk)
{
    ThreadPool::awaitAtLeast(windows[w].softmaxed.value, l + 1);
    const std::size_t from = chunk * mixPanels * PanelMatrix::panelRows;
    const std::size_t to = std::min(width, from + mixPanels * PanelMatrix::panelRows);
    panelProducts(steps[w].cross->channels,
        VectorBatch {probabilityRows[l].data() + w * heads, mixedRows.data() + w * heads, heads}, nullptr, static_cast<int>(from),
        static_cast<int>(to));
}

void WhisperTextDecoderProgram::StepRun::crossValues(std::size_t l, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(loopOf(l, WhisperTextDecoderProgram::crossValues), valueProducts[l], stretch, begin, end);
}

void WhisperTextDecoderProgram::StepRun::crossOutput(std::size_t l, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(loopOf(l, WhisperTextDecoderProgram::crossOutput),
        {{&program.blocks_[l].crossAttention.output, attended.data(), width, projected.data(), width, false, x.data()}}, stretch,
        begin, end);
}

void WhisperTextDecoderProgram::StepRun::feedForwardExpand(std::size_t l, const float* input, std::size_t stretch,
    std::size_t begin, std::size_t end)
{
    productChunks(loopOf(l, expand), {{&program.blocks_[l].mlp.expand, input, rowStride, hidden.data(), 4 * width, true}}, stretch,
        begin, end);
}

void WhisperTextDecoderProgram::StepRun::feedForwardContract(std::size_t l, std::size_t stretch, std::size_t begin,
    std::size_t end)
{
    productChunks(loopOf(l, contract),
        {{&program.blocks_[l].mlp.contract, hidden.data(), 4 * width, projected.data(), width, false, x.data()}}, stretch, begin,
        end);
}

void WhisperTextDecoderProgram::StepRun::logits(const float* input, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(layers * productLoopsPerLayer,
        {{&program.tokenEmbedding_, input, rowStride, logitRows.get(), static_cast<std::size_t>(program.vocabularySize_)}}, stretch,
        begin, end);
}

// Each frame adds its heads' probabilities in the order the heads are listed, whichever thread
// sums its range.
void WhisperTextDecoderProgram::StepRun::sumAlignment(std::size_t w, std::size_t range)
{
    const std::size_t from = std::min(frames, range * rangeFrames);
    const std::size_t to = std::min(frames, from + rangeFrames);
    float* sums = alignment.get() + w * frameStride;
    std::fill(sums + from, sums + to, 0.0f);
    const float listed = 1.0f / static_cast<float>(program.alignmentHeads_.size());
    for (const auto& [layer, head] : program.alignmentHeads_) {
        const std::size_t l = static_cast<std::size_t>(layer);
        const std::size_t h = static_cast<std::size_t>(head);
        const float* weights = probabilities[l].get() + (w * heads + h) * frameStride;
        axpy(listed, weights + from, sums + from, to - from);
    }
}

void WhisperTextDecoderProgram::StepRun::compareSource(std::size_t w, std::size_t range)
{
    const WindowStep& step = steps[w];
    if (!step.confirm || std::atomic_ref<std::uint8_t>(stale[w]).load(std::memory_order_relaxed) != 0) {
        return;
    }
    const std::size_t from = step.source.size * range / sourceRanges;
    const std::size_t to = step.source.size * (range + 1) / sourceRanges;
    if (std::memcmp(step.cross->source.data() + from, step.source.data + from, to - from) != 0) {
        // Another thread may set it too: both write the same value.
        std::atomic_ref<std::uint8_t>(stale[w]).store(1, std::memory_order_relaxed);
    }
}

void WhisperTextDecoderProgram::StepRun::enter(int slot, std::size_t loop)
{
    const std::size_t thread = static_cast<std::size_t>(slot);
    if (loop == layers * loopsPerLayer) {
        normInputs(thread, program.finalNorm_);
    }
    if (loop >= layers * loopsPerLayer) {
        return;
    }
    const Block& block = program.blocks_[loop / loopsPerLayer];
    switch (loop % loopsPerLayer) {
    case selfProjectionsLoop:
        normInputs(thread, block.selfAttentionNorm);
        // The cache rows of the thread's own heads, which it reads once the projections are
        // done: by then they wait in its caches.
        for (std::size_t h = heads * thread / threads; h < heads * (thread + 1) / threads; ++h) {
            for (std::size_t w = 0; w < count; ++w) {
                prefetchCacheRows(w, loop / loopsPerLayer * width + h * headWidth);
            }
        }
        break;
    case crossQueryLoop:
        normInputs(thread, block.crossAttentionNorm);
        break;
    case expandLoop:
        normInputs(thread, block.mlpNorm);
        break;
    default:
        break;
    }
}

void WhisperTextDecoderProgram::StepRun::body(int slot, std::size_t loop, std::size_t stretch, std::size_t begin, std::size_t end)
{
    const std::size_t thread = static_cast<std::size_t>(slot);
    // Chunks taken from the back of another thread's stretch start cold: their first lines asked
    // for all at once, as far as the kernels' own requests run ahead of their reads.
    if (stretch != thread && loop <= layers * loopsPerLayer) {
        if (const auto streamed = program.streamLoop(loop)) {
            const auto memory = program.stream_.chunkMemory(*streamed, stretch, begin, end);
            prefetch(memory.first, std::min(memory.second, coldStartBytes));
        }
    }
    const float* input = normed(thread);
    if (loop == layers * loopsPerLayer) {
        logits(input, stretch, begin, end);
        return;
    }
    if (loop == program.compareLoop_) {
        windowChunks(sourceRanges, stretch, begin, end, [&](std::size_t w, std::size_t range) { compareSource(w, range); });
        return;
    }
    if (program.hasAlignmentOutput_ && loop == program.alignmentLoop_) {
        windowChunks(alignmentRanges, stretch, begin, end, [&](std::size_t w, std::size_t range) { sumAlignment(w, range); });
        return;
    }
    const std::size_t l = loop / loopsPerLayer;
    switch (loop % loopsPerLayer) {
    case selfProjectionsLoop: projections(l, input, stretch, begin, end); break;
    case selfAttentionLoop:
        windowChunks(heads, stretch, begin, end, [&](std::size_t w, std::size_t h) { selfAttention(l, w, h); });
        break;
    case selfOutputLoop: selfOutput(l, stretch, begin, end); break;
    case crossQueryLoop: crossQuery(l, input, stretch, begin, end); break;
    case crossFoldLoop: crossFold(l, stretch, begin, end); break;
    case crossScoresLoop:
        windowChunks(scoreChunks, stretch, begin, end, [&](std::size_t w, std::size_t chunk) { crossScores(l, w, chunk); });
        break;
    case crossMixLoop:
        windowChunks(mixChunks, stretch, begin, end, [&](std::size_t w, std::size_t chunk) { crossMix(l, w, chunk); });
        break;
    case crossValuesLoop: crossValues(l, stretch, begin, end); break;
    case crossOutputLoop: crossOutput(l, stretch, begin, end); break;
    case expandLoop: feedForwardExpand(l, input, stretch, begin, end); break;
    case contractLoop: feedForwardContract(l, stretch, begin, end); break;
    default: break;
    }
}

void WhisperTextDecoderProgram::StepRun::run()
{
    const std::span<const ThreadPool::Ahead> aheads(program.aheads_);
    const std::span<const std::uint8_t> early(program.earlyLoops_);
    // A sequence holds at most so many loops: many layers run in several.
    const std::size_t layersPerSequence = (ThreadPool::maximumSequenceLoops - 1) / loopsPerLayer;
    for (std::size_t first = 0; first == 0 || first < layers; first += layersPerSequence) {
        const std::size_t begin = first * loopsPerLayer;
        const std::size_t end = first + layersPerSequence >= layers ? schedule.size() : begin + layersPerSequence * loopsPerLayer;
        program.pool_->parallelForSequence(std::span(schedule).subspan(begin, end - begin),
            aheads.subspan(begin * threads, (end - begin) * threads), [&](int slot, std::size_t loop) { enter(slot, begin + loop); },
            [&](int slot, std::size_t loop, std::size_t stretch, std::size_t from, std::size_t to) {
                body(slot, begin + loop, stretch, from, to);
            },
            early.subspan(begin, end - begin));
    }
}

std::vector<DictionaryFeatureProvider> WhisperTextDecoderProgram::StepRun::results()
{
    std::vector<DictionaryFeatureProvider> results(count);
    const std::size_t vocabulary = static_cast<std::size_t>(program.vocabularySize_);
    for (std::size_t w = 0; w < count; ++w) {
        steps[w].stale = stale[w] != 0;
        // The windows' logits stay where the step wrote them, each a view of its own row.
        const int rowLength = program.vocabularySize_;
        results[w].set("logits", MultiArray(logitRows, logitRows.get() + w * vocabulary, {1, 1, rowLength},
                                     MultiArrayDataType::float32, {rowLength, rowLength, 1}));
        results[w].set("key_cache_updates", keyUpdates[w]);
        results[w].set("value_cache_updates", valueUpdates[w]);
        if (program.hasAlignmentOutput_) {
            MultiArray weights = program.buffers_->array({1, program.audioFrames_}, program.alignmentType_);
            writeFloats(weights, alignment.get() + w * frameStride);
            results[w].set("alignment_heads_weights", weights);
        }
    }
    return results;
}

std::vector<DictionaryFeatureProvider> WhisperTextDecoderProgram::step(std::span<WindowStep> windows) const
{
    StepRun run(*this, windows);
    run.run();
    return run.results();
}

} // namespace ml
