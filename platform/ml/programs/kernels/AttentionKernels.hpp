#pragma once

#include <cstddef>
#include <cstdint>

namespace ml {

// For a cache stored channel-major (row j holds channel j of every position, rows `rowStride`
// elements apart): scores[p] = sum_j query[j] * keys[j][p], and output[j] = sum_p weights[p] *
// values[j][p], over positions [0, positions).
void scoreChannelRows(const float* query, const std::uint16_t* keys, std::size_t rowStride, std::size_t positions,
    std::size_t headWidth, float* scores);
// Asks for those rows before they are read: a head's rows are a few cache lines each, too
// scattered for the hardware prefetchers.
void prefetchChannelRows(const std::uint16_t* rows, std::size_t rowStride, std::size_t positions, std::size_t headWidth);
void weighChannelRows(const float* weights, const std::uint16_t* values, std::size_t rowStride, std::size_t positions,
    std::size_t headWidth, float* output);

// One head's channels in a float16 cache: channel j of position p at data[j * rowStride + p * columnStride].
struct HalfCacheRows {
    const std::uint16_t* data = nullptr;
    std::size_t rowStride = 0;
    std::size_t columnStride = 1;
};

// One head's attention over `positions` cached positions and the step's own key and value:
// scores[p] = scale * query . key_p + padding[p] and scores[positions] = scale * query . ownKey,
// softmaxed in place (so `scores` holds positions + 1), then output = sum_p scores[p] value_p +
// scores[positions] ownValue.
void attendHalfCache(const float* query, const HalfCacheRows& keys, const HalfCacheRows& values, std::size_t positions,
    std::size_t headWidth, const float* padding, float scale, const float* ownKey, const float* ownValue, float* scores,
    float* output);

} // namespace ml
