#include "platform/ml/programs/WhisperTextDecoderProgram.hpp"

#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/programs/ProgramSupport.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace ml {
using namespace programSupport;

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
    schedule_ = DecoderSchedule(stream_, blocks_.size(), threads, hasAlignmentOutput_);

    const std::size_t capacity = windowCapacity(folder, cacheWidth);
    // Every window of a batch keeps its state from step to step.
    crossStates_ = std::make_unique<CrossStateCache>(
        capacity + 1,
        [this](const MultiArray& encoderOutput, const SourceBytes& source) {
            return CrossState::make(encoderOutput, source, *buffers_, *pool_);
        },
        [this](const unsigned char* a, const unsigned char* b, std::size_t size) { return sameBytes(a, b, size); });
    batcher_ = std::make_unique<StepBatcher>(
        capacity,
        [this](std::span<const FeatureProvider* const> inputs, std::span<StepSeries* const> series) {
            const auto turn = ComputeGate::enter(gate_.get());
            return stepInBatches(inputs, series);
        },
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

// The stream's product loops in step order (see DecoderSchedule::layerLoops), then the logits.
std::vector<std::vector<const LinearWeights*>> WhisperTextDecoderProgram::productLoops() const
{
    using Stage = DecoderSchedule::Stage;
    std::vector<std::vector<const LinearWeights*>> loops;
    for (const Block& block : blocks_) {
        for (const DecoderSchedule::Loop& loop : DecoderSchedule::layerLoops) {
            if (loop.product == DecoderSchedule::none) {
                continue;
            }
            loops.emplace_back();
            auto& products = loops.back();
            switch (loop.stage) {
            case Stage::selfProjections:
                products = {&block.selfAttention.query, &block.selfAttention.key, &block.selfAttention.value};
                break;
            case Stage::selfOutput: products = {&block.selfAttention.output}; break;
            case Stage::crossQuery: products = {&block.crossAttention.query}; break;
            case Stage::crossFold:
                for (const LinearWeights& head : block.crossKeyHeads) {
                    products.push_back(&head);
                }
                break;
            case Stage::crossValues:
                for (const LinearWeights& head : block.crossValueHeads) {
                    products.push_back(&head);
                }
                break;
            case Stage::crossOutput: products = {&block.crossAttention.output}; break;
            case Stage::expand: products = {&block.mlp.expand}; break;
            case Stage::contract: products = {&block.mlp.contract}; break;
            default: throw ModelError("a decoder loop without weights runs a product");
            }
        }
    }
    loops.push_back({&tokenEmbedding_});
    return loops;
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

// A series the program runs: the batcher hands it back with each of its steps, tagged as the
// program's own, and it carries the cross-attention state the steps before confirmed for the
// series' encoder output.
class WhisperTextDecoderProgram::SeriesSteps final : public StepSeries {
public:
    SeriesSteps(StepSeries& series, const WhisperTextDecoderProgram& program) : series_(series) { tag = &program; }
    const FeatureProvider* start() override { return series_.start(); }
    const FeatureProvider* advance(DictionaryFeatureProvider outputs) override { return series_.advance(std::move(outputs)); }

    // Written by the step that runs on it; the series' next step runs after that one.
    std::shared_ptr<const CrossState> confirmed;

private:
    StepSeries& series_;
};

void WhisperTextDecoderProgram::runSteps(StepSeries& series) const
{
    SeriesSteps steps(series, *this);
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
    return stepInBatches(inputs, {});
}

std::vector<DictionaryFeatureProvider> WhisperTextDecoderProgram::stepInBatches(std::span<const FeatureProvider* const> inputs,
    std::span<StepSeries* const> series) const
{
    // More windows than the memory budget allows step in several batches.
    const std::size_t capacity = batchCapacity();
    std::vector<DictionaryFeatureProvider> results;
    for (std::size_t first = 0; first < inputs.size(); first += capacity) {
        const std::size_t size = std::min(capacity, inputs.size() - first);
        for (auto& result : stepBatch(inputs.subspan(first, size), series.empty() ? series : series.subspan(first, size))) {
            results.push_back(std::move(result));
        }
    }
    return results;
}

std::vector<DictionaryFeatureProvider> WhisperTextDecoderProgram::stepBatch(std::span<const FeatureProvider* const> inputs,
    std::span<StepSeries* const> series) const
{
    std::vector<SeriesSteps*> own(inputs.size(), nullptr);
    std::vector<WindowStep> windows;
    windows.reserve(inputs.size());
    std::size_t loose = 0;
    for (std::size_t w = 0; w < inputs.size(); ++w) {
        if (w < series.size() && series[w]->tag == this) {
            own[w] = static_cast<SeriesSteps*>(series[w]);
        }
        loose += own[w] ? 0 : 1;
        windows.push_back(windowStep(*inputs[w]));
        findCrossState(windows.back(), own[w]);
    }
    crossStates_->setLooseWindows(loose);
    std::vector<DictionaryFeatureProvider> results = step(windows);
    redoStaleSteps(windows, results);
    for (std::size_t w = 0; w < windows.size(); ++w) {
        if (own[w]) {
            own[w]->confirmed = windows[w].cross;
        }
    }
    // The states of the windows that stepped last go to the front.
    for (const WindowStep& window : windows) {
        crossStates_->markUsed(window.cross);
    }
    return results;
}

// A step runs on a kept state at once, the whole encoder output compared while the step runs (see
// redoStaleSteps); the later steps of a series run on the state its first step confirmed.
void WhisperTextDecoderProgram::findCrossState(WindowStep& window, const SeriesSteps* series) const
{
    window.cross = series ? series->confirmed : nullptr;
    if (window.cross) {
        return;
    }
    window.source = SourceBytes::of(window.encoderOutput);
    auto found = crossStates_->find(window.encoderOutput, window.source);
    window.cross = std::move(found.state);
    window.confirm = found.needsConfirming;
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
            again.back().cross = crossStates_->replace(again.back().encoderOutput, again.back().source);
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

} // namespace ml
