#pragma once

#include "platform/ml/Program.hpp"
#include "platform/ml/programs/ProductStream.hpp"
#include "platform/ml/programs/StepBatcher.hpp"
#include "platform/ml/programs/TransformerWeights.hpp"
#include "platform/ml/programs/kernels/BufferPool.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace ml {

// One step of the Whisper text decoder over an external key-value cache.
//
// Inputs: "input_ids" int32 [1] (the token), "cache_length" int32 [1] (its position c), "key_cache"
// and "value_cache" float16 [1, layers * width, 1, S] (self-attention keys and values of positions
// 0 to c - 1, row layer * width + channel, column position), "kv_cache_update_mask" int32 [1, S]
// (accepted; the new position is c), "encoder_output_embeds" [1, width, 1, W] and
// "decoder_key_padding_mask" float16 [1, S] (added to the scores of cached positions: 0 keeps a
// position, -10000 drops it).
// Outputs: "logits" float32 [1, 1, vocabulary], "key_cache_updates" and "value_cache_updates" float16
// [1, layers * width, 1, 1] (the step's keys and values, for the caller to store at column c) and,
// when declared, "alignment_heads_weights" [1, W] (cross-attention of the alignment heads, averaged).
//
// Cross-attention runs on the encoder output itself, with the key and value projections moved to
// the query's side: a head's scores over the frames are E (W_k,h^T q_h) and its output is
// W_v,h (E^T p_h) + b_v,h, for the encoder output E ([frame][channel]) and the head's softmax p_h
// (which sums to one). A window's state is then its encoder output in two panel layouts (see
// CrossState), 2 x width x frames elements instead of every layer's keys and values (layers
// times as many), and is made without a product: a new window starts at once, and the windows
// stepping together hold a fraction of the memory (small: 4.6 MB each instead of 55 MB).
//
// Windows decoding at the same time step together: the step series of several threads (runSteps)
// run in rounds by a StepBatcher, each round one step that reads every weight matrix once for all
// of them, at most as many as the per-window memory of the model allows against a budget; single
// predictions join the rounds as series of one step. The steps of one series keep one encoder
// output: its first step finds or computes the cross-attention state, the later ones run on it.
class WhisperTextDecoderProgram : public Program {
public:
    static constexpr const char* name = "whisper.textDecoder";
    explicit WhisperTextDecoderProgram(const ProgramContext& context);
    DictionaryFeatureProvider predict(const FeatureProvider& inputs) const override;
    std::vector<DictionaryFeatureProvider> predictBatch(std::span<const FeatureProvider* const> inputs) const override;
    void runSteps(StepSeries& series) const override;

    // The most windows a step takes, and the memory the windows stepping together may hold (their
    // cross-attention states, caches and encoder outputs).
    static constexpr std::size_t maximumWindows = 16;
    static constexpr std::size_t windowMemoryBudget = std::size_t {768} << 20;
    std::size_t batchCapacity() const override { return batcher_->capacity(); }

private:
    struct Block {
        NormWeights selfAttentionNorm;
        AttentionWeights selfAttention;
        NormWeights crossAttentionNorm;
        AttentionWeights crossAttention;
        NormWeights mlpNorm;
        MlpWeights mlp;
        // Per head: W_k,h^T [width, head width], and W_v,h [head width, width] with its bias. Only
        // the biases are kept once the stream holds the weights.
        std::vector<LinearWeights> crossKeyHeads, crossValueHeads;
    };

    struct PooledBytes {
        std::shared_ptr<std::uint16_t> block;
        std::size_t count = 0;
        const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(block.get()); }
        std::size_t size() const { return count; }
    };
    // An encoder output as cross-attention reads it, in the encoder output's precision: `frames`
    // has a row per frame (for the scores), `channels` a row per channel (for the heads' mixes of
    // the frames).
    struct CrossState {
        MultiArrayDataType sourceType = MultiArrayDataType::float32;
        PooledBytes source; // the encoder output's packed bytes, to recognise it again
        std::shared_ptr<void> storage;
        PanelMatrix frames;
        PanelMatrix channels;
    };

    // An encoder output's bytes in the form its state keeps them: packed, else as float32.
    struct SourceBytes {
        SourceBytes() = default;
        SourceBytes(SourceBytes&&) = default;
        SourceBytes& operator=(SourceBytes&&) = default;
        SourceBytes(const SourceBytes&) = delete; // `data` may point into `unpacked`
        std::vector<float> unpacked;
        const unsigned char* data = nullptr;
        std::size_t size = 0;
        MultiArrayDataType type = MultiArrayDataType::float32;
    };
    static SourceBytes sourceBytes(const MultiArray& encoderOutput);
    // A kept state whose source agrees with `source` at sampled places: a step may run on it while
    // its last loop compares the whole source.
    std::shared_ptr<const CrossState> likelyCrossState(const SourceBytes& source) const;
    // One window's part of a step: its inputs, checked, and the cross-attention state it runs on
    // (`confirm`: compare the encoder output with the state's source while the step runs, setting
    // `stale` when they differ).
    struct WindowStep {
        int token = 0;
        std::size_t cached = 0;
        MultiArray keyCache, valueCache, encoderOutput;
        std::vector<float> padding;
        SourceBytes source;
        std::shared_ptr<const CrossState> cross;
        bool confirm = false;
        bool stale = false;
    };
    WindowStep windowStep(const FeatureProvider& inputs) const;
    struct SeriesInput;
    class SeriesSteps;
    void findCrossState(WindowStep& window, const SeriesInput* series) const;
    void redoStaleSteps(std::span<WindowStep> windows, std::vector<DictionaryFeatureProvider>& results) const;
    struct StepRun;
    std::shared_ptr<const CrossState> crossState(const MultiArray& encoderOutput, const SourceBytes& source) const;
    bool sameBytes(const unsigned char* a, const unsigned char* b, std::size_t size) const;
    void forEachWindow(std::size_t count, const std::function<void(std::size_t)>& body) const;
    // Batches of at most batchCapacity() windows, one after another.
    std::vector<DictionaryFeatureProvider> stepInBatches(std::span<const FeatureProvider* const> inputs) const;
    std::vector<DictionaryFeatureProvider> stepBatch(std::span<const FeatureProvider* const> inputs) const;
    std::vector<DictionaryFeatureProvider> step(std::span<WindowStep> windows) const;
    std::shared_ptr<const CrossState> computeCrossState(const MultiArray& encoderOutput, const unsigned char* sourceBytes,
        std::size_t sourceSize) const;
    // The construction's stages after the shape is read and checked.
    void readAlignmentHeads(const ModelFolder& folder, int layers);
    void splitCrossHeads(Block& block) const;
    std::vector<std::vector<const LinearWeights*>> productLoops() const;
    void planStepLoops(std::size_t threads);
    std::size_t windowCapacity(const ModelFolder& folder, int cacheWidth) const;
    void releaseCopiedWeights(const ModelFolder& folder, const std::vector<std::vector<const LinearWeights*>>& loops);
    // The stream's loops: eight per layer, then the logits.
    enum LayerLoop : std::size_t {
        selfProjections,
        selfOutput,
        crossQuery,
        crossFold,
        crossValues,
        crossOutput,
        expand,
        contract,
        productLoopsPerLayer
    };
    static std::size_t loopOf(std::size_t layer, LayerLoop which) { return layer * productLoopsPerLayer + which; }
    // The loops of a step (see ThreadPool::parallelForSequence): eleven per layer, then the logits.
    enum StepLoop : std::size_t {
        selfProjectionsLoop,
        selfAttentionLoop,
        selfOutputLoop,
        crossQueryLoop,
        crossFoldLoop, // q'_h = W_k,h^T q_h
        crossScoresLoop, // E q'_h over a stretch of frames; the last stretch of a window takes the softmax
        crossMixLoop, // E^T p_h over a stretch of channels
        crossValuesLoop, // W_v,h (E^T p_h) + b_v,h
        crossOutputLoop,
        expandLoop,
        contractLoop,
        loopsPerLayer
    };
    // Cross-attention work of one window in chunks of so many panels: frames for the scores,
    // channels for the mixes.
    static constexpr std::size_t scorePanels = 8;
    static constexpr std::size_t mixPanels = 2;
    // The stream loop of a step loop that runs products.
    std::optional<std::size_t> streamLoop(std::size_t loop) const;

    std::string label_;
    int vocabularySize_ = 0;
    int width_ = 0;
    int heads_ = 0;
    int textContext_ = 0;
    int cacheLength_ = 0;
    int audioFrames_ = 0;
    bool hasAlignmentOutput_ = false;
    MultiArrayDataType alignmentType_ = MultiArrayDataType::float32;
    std::vector<std::pair<int, int>> alignmentHeads_;
    std::vector<std::uint8_t> isAlignmentHead_; // [layer * heads + head]

    LinearWeights tokenEmbedding_; // [vocabulary, width], also the output projection
    std::vector<float> positions_;
    std::vector<Block> blocks_;
    NormWeights finalNorm_;
    std::unique_ptr<ThreadPool> pool_;
    std::shared_ptr<BufferPool> buffers_;
    ProductStream stream_;
    std::vector<std::vector<std::uint16_t>> steps_; // each step loop's chunks per stretch
    std::vector<ThreadPool::Ahead> aheads_; // [step loop * threads + stretch]
    std::vector<std::uint8_t> earlyLoops_; // [step loop]
    // After the logits, a loop that sums the alignment weights' frames (when the model has them) in
    // so many ranges, then one that compares the encoder output with the state's source.
    static constexpr std::size_t alignmentRanges = 32;
    static constexpr std::size_t sourceRanges = 64;
    std::size_t alignmentLoop_ = 0;
    std::size_t compareLoop_ = 0;
    // Chunks a waiting thread asks for: a wait usually lasts longer than one chunk's read.
    static constexpr std::size_t aheadChunks = 6;

    std::size_t crossStatesKept_ = 2;
    // The most cross-attention states kept that no window steps on now (see unheldStatesToKeep),
    // which drops the least recently used beyond that from crossStates_.
    std::size_t unheldStatesToKeep() const;
    void dropUnheldStates(std::size_t kept) const;
    void markUsed(std::span<const WindowStep> windows) const;
    // Under crossMutex_: the first kept state `matches` accepts, moved to the front as the most
    // recently used; null when none does.
    template<typename Match>
    std::shared_ptr<const CrossState> takeToFront(Match&& matches) const;
    // Windows of the last batch that stepped without a series.
    mutable std::atomic<std::size_t> looseWindows_ {0};
    std::shared_ptr<ComputeGate> gate_;
    std::unique_ptr<StepBatcher> batcher_;
    mutable std::mutex crossMutex_;
    mutable std::deque<std::shared_ptr<const CrossState>> crossStates_;
};

} // namespace ml
