#pragma once

#include <cstddef>
#include <cstdint>

namespace ml {

// Attention of one query of one head over keys and values stored one row per position: the head's
// slice of each row starts at the pointers given, rows `rowStride` elements apart.

// What a block of positions contributes before normalisation: weights[p] = exp(scale * q.k_p - m)
// with m = `maximum`, the block's largest scaled score; output = sum_p weights[p] * v_p; `sum` is the
// sum of the weights. Blocks combine by rescaling each with exp(m_block - m_overall).
struct AttentionPartial {
    float maximum = 0;
    float sum = 0;
};

AttentionPartial attendBlock(const float* query, const float* keys, const float* values, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output);
AttentionPartial attendBlock(const float* query, const std::uint16_t* keys, const std::uint16_t* values, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output);

} // namespace ml
