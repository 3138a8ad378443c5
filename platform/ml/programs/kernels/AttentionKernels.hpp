#pragma once

#include <cstddef>
#include <cstdint>

namespace ml {

// Attention of one query of one head over a block of positions. Keys are stored in tiles of
// attentionTile positions: tile t holds channel j of its positions at [t][j][0..attentionTile), so
// one tile is a single contiguous stretch (a last tile that is not full holds anything finite in
// its unused places). Values are position-major (the head's values of each position,
// `valueStride` elements apart). A block starts on a tile.
constexpr std::size_t attentionTile = 16;

// What a block of positions contributes before normalisation: weights[p] = exp(scale * q.k_p - m)
// with m = `maximum`, the block's largest scaled score; output = sum_p weights[p] * v_p; `sum` is the
// sum of the weights. Blocks combine by rescaling each with exp(m_block - m_overall).
struct AttentionPartial {
    float maximum = 0;
    float sum = 0;
};

AttentionPartial attendBlock(const float* query, const float* keyTiles, const float* values, std::size_t valueStride,
    std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output);
AttentionPartial attendBlock(const float* query, const std::uint16_t* keyTiles, const std::uint16_t* values,
    std::size_t valueStride, std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output);

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
