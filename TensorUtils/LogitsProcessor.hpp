#pragma once

#include "TensorUtils/LogitsWarper.hpp"

#include <memory>
#include <vector>

namespace tensorutils {

// Applies its warpers in order to the candidates 0..n-1 of a logits vector.
struct LogitsProcessor {
    std::vector<std::shared_ptr<const LogitsWarper>> logitsWarpers;

    explicit LogitsProcessor(std::vector<std::shared_ptr<const LogitsWarper>> logitsWarpers = {})
        : logitsWarpers(std::move(logitsWarpers))
    {
    }

    Candidates operator()(const std::vector<float>& logits) const;
};

} // namespace tensorutils
