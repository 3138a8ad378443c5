#pragma once

#include <utility>
#include <vector>

namespace tensorutils {

// A candidate list: logits[i] belongs to token id indices[i]; both always have the same length.
struct Candidates {
    std::vector<int> indices;
    std::vector<float> logits;
    friend bool operator==(const Candidates&, const Candidates&) = default;
};

// Narrows or reshapes a next-token distribution. Immutable.
class LogitsWarper {
public:
    virtual ~LogitsWarper() = default;
    virtual Candidates warp(const std::vector<int>& indices, const std::vector<float>& logits) const = 0;
    Candidates operator()(const std::vector<int>& indices, const std::vector<float>& logits) const
    {
        return warp(indices, logits);
    }
};

} // namespace tensorutils
