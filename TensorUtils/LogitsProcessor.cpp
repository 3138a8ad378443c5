#include "TensorUtils/LogitsProcessor.hpp"

#include <numeric>

namespace tensorutils {

Candidates LogitsProcessor::operator()(const std::vector<float>& logits) const
{
    Candidates candidates {std::vector<int>(logits.size()), logits};
    std::iota(candidates.indices.begin(), candidates.indices.end(), 0);
    for (const auto& warper : logitsWarpers) {
        candidates = warper->warp(candidates.indices, candidates.logits);
    }
    return candidates;
}

} // namespace tensorutils
