#include "platform/ml/programs/DecoderSchedule.hpp"

#include "platform/ml/ModelError.hpp"

#include <algorithm>

namespace ml {

namespace {

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

} // namespace

DecoderSchedule::DecoderSchedule(const ProductStream& stream, std::size_t layers, std::size_t threads, bool alignment)
    : layers_(layers)
    , threads_(threads)
    , hasAlignment_(alignment)
{
    // A product loop's threads ask for their first chunks' weights while they wait for them; the
    // attention loops get their chunks per step, by the windows stepping.
    for (std::size_t k = 0; k <= logitsLoop(); ++k) {
        const auto loop = streamLoop(k);
        chunks_.push_back(loop ? stream.chunks(*loop) : std::vector<std::uint16_t>(threads, 0));
        for (std::size_t s = 0; s < threads; ++s) {
            const auto memory = loop ? stream.chunkMemory(*loop, s, 0, std::min<std::size_t>(chunks_[k][s], aheadChunks))
                                     : std::pair<const void*, std::size_t> {};
            aheads_.push_back({memory.first, memory.second});
        }
        early_.push_back(k < logitsLoop() && layerLoop(k).startsEarly ? 1 : 0);
    }
    // While the last threads still read the logits' weights, the others go on to these.
    if (hasAlignment_) {
        alignmentLoop_ = chunks_.size();
        chunks_.push_back(evenStretches(alignmentRanges, threads));
        aheads_.resize(aheads_.size() + threads);
        early_.push_back(1);
    }
    compareLoop_ = chunks_.size();
    chunks_.push_back(evenStretches(sourceRanges, threads));
    aheads_.resize(aheads_.size() + threads);
    early_.push_back(1);
}

std::optional<std::size_t> DecoderSchedule::streamLoop(std::size_t loop) const
{
    if (loop == logitsLoop()) {
        return layers_ * productsPerLayer;
    }
    if (loop > logitsLoop() || layerLoop(loop).product == none) {
        return std::nullopt;
    }
    return productLoop(loop / loopsPerLayer, layerLoop(loop).stage);
}

std::vector<std::vector<std::uint16_t>> DecoderSchedule::chunks(std::size_t windows, const WindowChunks& perWindow) const
{
    std::vector<std::vector<std::uint16_t>> chunks = chunks_;
    for (std::size_t k = 0; k < logitsLoop(); ++k) {
        switch (layerLoop(k).stage) {
        case Stage::selfAttention: chunks[k] = evenStretches(perWindow.heads * windows, threads_); break;
        case Stage::crossScores: chunks[k] = evenStretches(perWindow.scores * windows, threads_); break;
        case Stage::crossMix: chunks[k] = evenStretches(perWindow.mixes * windows, threads_); break;
        default: break;
        }
    }
    if (hasAlignment_) {
        chunks[alignmentLoop_] = evenStretches(alignmentRanges * windows, threads_);
    }
    chunks[compareLoop_] = evenStretches(sourceRanges * windows, threads_);
    return chunks;
}

} // namespace ml
