#pragma once

#include "platform/ml/Program.hpp"
#include "platform/ml/programs/CrossStateCache.hpp"
#include "platform/ml/programs/DecoderSchedule.hpp"
#include "platform/ml/programs/ProductStream.hpp"
#include "platform/ml/programs/StepBatcher.hpp"
#include "platform/ml/programs/TransformerWeights.hpp"
#include "platform/ml/programs/kernels/BufferPool.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <cstdint>
#include <functional>
#include <memory>
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
// CrossState, kept by a CrossStateCache), 2 x width x frames elements instead of every layer's
// keys and values (layers times as many), and is made without a product: a new window starts at
// once, and the windows stepping together hold a fraction of the memory (small: 4.6 MB each
// instead of 55 MB). A step runs its loops in the order of DecoderSchedule (see DecoderStep.cpp).
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
    class SeriesSteps;
    void findCrossState(WindowStep& window, const SeriesSteps* series) const;
    void redoStaleSteps(std::span<WindowStep> windows, std::vector<DictionaryFeatureProvider>& results) const;
    // One decoder step of several windows (see DecoderStep.cpp).
    struct StepRun;
    bool sameBytes(const unsigned char* a, const unsigned char* b, std::size_t size) const;
    void forEachWindow(std::size_t count, const std::function<void(std::size_t)>& body) const;
    // Batches of at most batchCapacity() windows, one after another; `series` holds the series of
    // each input when they come from the batcher, else nothing.
    std::vector<DictionaryFeatureProvider> stepInBatches(std::span<const FeatureProvider* const> inputs,
        std::span<StepSeries* const> series) const;
    std::vector<DictionaryFeatureProvider> stepBatch(std::span<const FeatureProvider* const> inputs,
        std::span<StepSeries* const> series) const;
    std::vector<DictionaryFeatureProvider> step(std::span<WindowStep> windows) const;
    // The construction's stages after the shape is read and checked.
    void readAlignmentHeads(const ModelFolder& folder, int layers);
    void splitCrossHeads(Block& block) const;
    std::vector<std::vector<const LinearWeights*>> productLoops() const;
    std::size_t windowCapacity(const ModelFolder& folder, int cacheWidth) const;
    void releaseCopiedWeights(const ModelFolder& folder, const std::vector<std::vector<const LinearWeights*>>& loops);
    // Cross-attention work of one window in chunks of so many panels: frames for the scores,
    // channels for the mixes.
    static constexpr std::size_t scorePanels = 8;
    static constexpr std::size_t mixPanels = 2;

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
    DecoderSchedule schedule_;
    std::shared_ptr<ComputeGate> gate_;
    std::unique_ptr<CrossStateCache> crossStates_;
    std::unique_ptr<StepBatcher> batcher_;
};

} // namespace ml
