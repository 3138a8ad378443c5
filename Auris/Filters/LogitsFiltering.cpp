#include "Auris/Filters/LogitsFiltering.hpp"

#include "Auris/Utilities/Logging.hpp"

#include <limits>

namespace auris {

TokenIndexes tokenIndexes(const std::vector<int>& tokens)
{
    TokenIndexes indexes;
    indexes.reserve(tokens.size());
    for (int token : tokens) {
        indexes.push_back({0, 0, token});
    }
    return indexes;
}

void banTokenIndexes(ml::MultiArray& logits, const TokenIndexes& indexes)
{
    if (logits.dataType() != ml::MultiArrayDataType::float32 || logits.shape().empty()) {
        Logging::error("Logits filter error: the logits are not a float32 vector");
        return;
    }
    // The token is the position on the last axis; leading axes are 1 in a decoder's logits.
    const auto axis = logits.shape().size() - 1;
    const long long size = logits.shape()[axis];
    const long long stride = logits.strides()[axis];
    float* data = logits.data<float>();
    for (const auto& index : indexes) {
        const int token = index[2];
        if (token < 0 || token >= size) {
            continue;
        }
        data[token * stride] = -std::numeric_limits<float>::infinity();
    }
}

} // namespace auris
