#pragma once

#include "TensorUtils/LogitsWarper.hpp"

namespace tensorutils {

// Divides every logit by the temperature; the indices stay.
class TemperatureLogitsWarper : public LogitsWarper {
public:
    explicit TemperatureLogitsWarper(float temperature) : temperature(temperature) {}
    Candidates warp(const std::vector<int>& indices, const std::vector<float>& logits) const override;
    float temperature;
};

// The k best candidates, largest first; equal logits keep their order. A negative k is refused.
class TopKLogitsWarper : public LogitsWarper {
public:
    explicit TopKLogitsWarper(int k);
    Candidates warp(const std::vector<int>& indices, const std::vector<float>& logits) const override;
    int k;
};

// The smallest most-probable set whose probability exceeds p, in probability order.
class TopPLogitsWarper : public LogitsWarper {
public:
    explicit TopPLogitsWarper(float p) : p(p) {}
    Candidates warp(const std::vector<int>& indices, const std::vector<float>& logits) const override;
    float p;
};

} // namespace tensorutils
