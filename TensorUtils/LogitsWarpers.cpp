#include "TensorUtils/LogitsWarpers.hpp"

#include "TensorUtils/Math.hpp"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace tensorutils {

namespace {

void requireSameLength(const std::vector<int>& indices, const std::vector<float>& logits)
{
    if (indices.size() != logits.size()) {
        throw std::invalid_argument("indices and logits differ in length");
    }
}

} // namespace

Candidates TemperatureLogitsWarper::warp(const std::vector<int>& indices, const std::vector<float>& logits) const
{
    requireSameLength(indices, logits);
    Candidates result {indices, logits};
    for (float& logit : result.logits) {
        logit /= temperature;
    }
    return result;
}

TopKLogitsWarper::TopKLogitsWarper(int k)
    : k(k)
{
    if (k < 0) {
        throw std::invalid_argument("top-K needs a k of zero or more");
    }
}

Candidates TopKLogitsWarper::warp(const std::vector<int>& indices, const std::vector<float>& logits) const
{
    requireSameLength(indices, logits);
    const std::size_t kk = std::min(logits.size(), static_cast<std::size_t>(k));
    std::vector<std::size_t> order(logits.size());
    std::iota(order.begin(), order.end(), 0);
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(kk), order.end(),
        [&](std::size_t a, std::size_t b) { return logits[a] != logits[b] ? logits[a] > logits[b] : a < b; });
    Candidates result;
    for (std::size_t i = 0; i < kk; ++i) {
        result.indices.push_back(indices[order[i]]);
        result.logits.push_back(logits[order[i]]);
    }
    return result;
}

Candidates TopPLogitsWarper::warp(const std::vector<int>& indices, const std::vector<float>& logits) const
{
    requireSameLength(indices, logits);
    if (logits.empty()) {
        return {};
    }
    const std::vector<float> probabilities = Math::softmax(logits);
    std::vector<std::size_t> order(logits.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
        [&](std::size_t a, std::size_t b) { return probabilities[a] > probabilities[b]; });
    std::vector<float> sorted(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted[i] = probabilities[order[i]];
    }
    const std::vector<float> cumulative = Math::cumsum(sorted);
    std::size_t cut = order.size() - 1;
    for (std::size_t i = 0; i < cumulative.size(); ++i) {
        if (p < cumulative[i]) {
            cut = i;
            break;
        }
    }
    Candidates result;
    for (std::size_t i = 0; i <= cut; ++i) {
        result.indices.push_back(indices[order[i]]);
        result.logits.push_back(logits[order[i]]);
    }
    return result;
}

} // namespace tensorutils
