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

} // namespace ml
