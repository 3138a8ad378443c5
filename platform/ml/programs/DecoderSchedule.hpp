#pragma once

#include "platform/ml/programs/ProductStream.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ml {

// The loops of a decoder step (see ThreadPool::parallelForSequence): every layer's in the order of
// `layerLoops`, then the logits, then the loops that run on after them. Product loops read their
// weights from the stream in chunks that stay the same whatever the window count; attention loops
// and the ones after the logits run a share per window.
class DecoderSchedule {
public:
    enum class Stage : std::uint8_t {
        selfProjections,
        selfAttention,
        selfOutput,
        crossQuery,
        crossFold, // q'_h = W_k,h^T q_h
        crossScores, // E q'_h over a stretch of frames; the last stretch of a window takes the softmax
        crossMix, // E^T p_h over a stretch of channels
        crossValues, // W_v,h (E^T p_h) + b_v,h
        crossOutput,
        expand,
        contract,
    };
    struct Loop {
        Stage stage;
        // The loop's product among the layer's streamed ones, or none for an attention loop.
        int product;
        // Starts while the loop before still runs: self-attention of a head once the projections
        // have made its rows, a window's mixes once its softmax is done.
        bool startsEarly;
    };
    static constexpr int none = -1;
    static constexpr std::array<Loop, 11> layerLoops {{
        {Stage::selfProjections, 0, false},
        {Stage::selfAttention, none, true},
        {Stage::selfOutput, 1, false},
        {Stage::crossQuery, 2, false},
        {Stage::crossFold, 3, false},
        {Stage::crossScores, none, false},
        {Stage::crossMix, none, true},
        {Stage::crossValues, 4, false},
        {Stage::crossOutput, 5, false},
        {Stage::expand, 6, false},
        {Stage::contract, 7, false},
    }};
    static constexpr std::size_t loopsPerLayer = layerLoops.size();
    static constexpr std::size_t productsPerLayer = [] {
        std::size_t products = 0;
        for (const Loop& loop : layerLoops) {
            products += loop.product != none ? 1 : 0;
        }
        return products;
    }();
    static constexpr const Loop& layerLoop(std::size_t loop) { return layerLoops[loop % loopsPerLayer]; }
    // The stream loop of a layer's stage that runs a product; the logits' follows the last layer's.
    static constexpr std::size_t productLoop(std::size_t layer, Stage stage)
    {
        return layer * productsPerLayer + static_cast<std::size_t>(layerLoops[static_cast<std::size_t>(stage)].product);
    }
    // After the logits, a loop that sums the alignment weights' frames (when the model has them)
    // in so many ranges per window, then one that compares the encoder output with the state's
    // source.
    static constexpr std::size_t alignmentRanges = 32;
    static constexpr std::size_t sourceRanges = 64;
    // Chunks a waiting thread asks for: a wait usually lasts longer than one chunk's read.
    static constexpr std::size_t aheadChunks = 6;

    DecoderSchedule() = default;
    DecoderSchedule(const ProductStream& stream, std::size_t layers, std::size_t threads, bool alignment);

    std::size_t logitsLoop() const { return layers_ * loopsPerLayer; }
    bool hasAlignmentLoop() const { return hasAlignment_; }
    std::size_t alignmentLoop() const { return alignmentLoop_; }
    std::size_t compareLoop() const { return compareLoop_; }
    // The stream loop a step loop reads, for the loops that run products.
    std::optional<std::size_t> streamLoop(std::size_t loop) const;
    // [step loop * threads + stretch]
    std::span<const ThreadPool::Ahead> aheads() const { return aheads_; }
    std::span<const std::uint8_t> earlyLoops() const { return early_; }

    // Chunks per window of the loops that run a share per window.
    struct WindowChunks {
        std::size_t heads = 0, scores = 0, mixes = 0;
    };
    // Every step loop's chunks per stretch for a step of `windows` windows.
    std::vector<std::vector<std::uint16_t>> chunks(std::size_t windows, const WindowChunks& perWindow) const;

private:
    std::size_t layers_ = 0;
    std::size_t threads_ = 0;
    bool hasAlignment_ = false;
    std::size_t alignmentLoop_ = 0;
    std::size_t compareLoop_ = 0;
    std::vector<std::vector<std::uint16_t>> chunks_; // each step loop's chunks per stretch
    std::vector<ThreadPool::Ahead> aheads_;
    std::vector<std::uint8_t> early_; // [step loop]
};

} // namespace ml
