#include "platform/ml/programs/CrossStateCache.hpp"

#include "platform/ml/programs/ProgramSupport.hpp"

#include <algorithm>
#include <cstring>

namespace ml {
using namespace programSupport;

SourceBytes SourceBytes::of(const MultiArray& encoderOutput)
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

std::shared_ptr<const CrossState> CrossState::make(const MultiArray& encoderOutput, const SourceBytes& source,
    BufferPool& buffers, ThreadPool& pool)
{
    auto state = std::make_shared<CrossState>();
    state->sourceType = encoderOutput.isPacked() ? encoderOutput.dataType() : MultiArrayDataType::float32;
    state->source = {buffers.halves((source.size + 1) / 2), source.size};
    std::memcpy(state->source.block.get(), source.data, source.size);

    const int width = encoderOutput.shape()[1];
    const int frames = encoderOutput.shape()[3];
    const std::size_t frameCount = static_cast<std::size_t>(frames);
    auto channels = buffers.floats(static_cast<std::size_t>(width) * frameCount); // [channel][frame]
    readFloats(encoderOutput, channels.get());
    // float16 outputs keep their values exactly.
    const bool half = encoderOutput.dataType() == MultiArrayDataType::float16;
    const std::size_t frameBytes = PanelMatrix::bytes(frames, width, half);
    const std::size_t elements = (frameBytes + PanelMatrix::bytes(width, frames, half)) / (half ? 2 : 4);
    state->storage = half ? std::shared_ptr<void>(buffers.halves(elements)) : std::shared_ptr<void>(buffers.floats(elements));
    auto* base = static_cast<unsigned char*>(state->storage.get());
    const int framePanels = (frames + PanelMatrix::panelRows - 1) / PanelMatrix::panelRows;
    const int channelPanels = (width + PanelMatrix::panelRows - 1) / PanelMatrix::panelRows;
    pool.parallelFor(static_cast<std::size_t>(framePanels + channelPanels), 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t p = begin; p < end; ++p) {
            const int panel = static_cast<int>(p);
            if (panel < framePanels) {
                packPanels(channels.get(), 1, frameCount, frames, width, half, base, panel, panel + 1);
            } else {
                packPanels(channels.get(), frameCount, 1, width, frames, half, base + frameBytes, panel - framePanels,
                    panel - framePanels + 1);
            }
        }
    });
    state->frames = {base, half, frames, width};
    state->channels = {base + frameBytes, half, width, frames};
    return state;
}

CrossStateCache::CrossStateCache(std::size_t kept, Make make, Compare same)
    : kept_(kept)
    , make_(std::move(make))
    , same_(std::move(same))
{
}

std::size_t CrossStateCache::size() const
{
    std::lock_guard lock(mutex_);
    return states_.size();
}

template<typename Match>
std::shared_ptr<const CrossState> CrossStateCache::takeToFront(Match&& matches)
{
    const auto at = std::find_if(states_.begin(), states_.end(), [&](const auto& state) { return matches(*state); });
    if (at == states_.end()) {
        return nullptr;
    }
    auto state = *at;
    states_.erase(at);
    states_.push_front(state);
    return state;
}

CrossStateCache::Found CrossStateCache::find(const MultiArray& encoderOutput, const SourceBytes& source)
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
    {
        std::lock_guard lock(mutex_);
        if (auto state = takeToFront(agrees)) {
            return {std::move(state), true};
        }
    }
    return {replace(encoderOutput, source), false};
}

std::shared_ptr<const CrossState> CrossStateCache::replace(const MultiArray& encoderOutput, const SourceBytes& source)
{
    {
        std::lock_guard lock(mutex_);
        if (auto state = takeToFront([&](const CrossState& candidate) {
                return candidate.sourceType == source.type && candidate.source.size() == source.size
                    && same_(candidate.source.data(), source.data, source.size);
            })) {
            return state;
        }
    }
    const std::size_t keep = unheldToKeep();
    {
        // States no window uses go first, the least recently used first, so their memory serves
        // the new one.
        std::lock_guard lock(mutex_);
        dropUnheld(keep);
    }
    auto state = make_(encoderOutput, source);
    std::lock_guard lock(mutex_);
    states_.push_front(state);
    dropUnheld(keep);
    return state;
}

void CrossStateCache::markUsed(const std::shared_ptr<const CrossState>& state)
{
    std::lock_guard lock(mutex_);
    if (!takeToFront([&](const CrossState& kept) { return &kept == state.get(); })) {
        states_.push_front(state);
    }
}

std::size_t CrossStateCache::unheldToKeep() const
{
    return std::min(kept_, looseWindows_.load(std::memory_order_relaxed) + 2);
}

void CrossStateCache::dropUnheld(std::size_t kept)
{
    std::size_t unheld = 0;
    for (auto it = states_.begin(); it != states_.end();) {
        // Held by the list alone: no step or series runs on it.
        if (it->use_count() == 1 && ++unheld > kept) {
            it = states_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace ml
