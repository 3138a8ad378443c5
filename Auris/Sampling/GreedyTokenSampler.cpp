#include "Auris/Sampling/GreedyTokenSampler.hpp"

#include "Auris/Utilities/Logging.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>

namespace auris {

namespace {

std::vector<float> scoresOf(const ml::MultiArray& logits)
{
    if (logits.dataType() == ml::MultiArrayDataType::float32 && logits.isPacked()) {
        const float* data = logits.data<float>();
        return std::vector<float>(data, data + logits.count());
    }
    return logits.toFloats();
}

// Index of the largest score, the first one on ties; NaN never wins.
std::size_t argmax(const std::vector<float>& scores)
{
    std::size_t best = 0;
    float bestScore = -std::numeric_limits<float>::infinity();
    bool found = false;
    for (std::size_t i = 0; i < scores.size(); ++i) {
        if (!std::isnan(scores[i]) && (!found || scores[i] > bestScore)) {
            best = i;
            bestScore = scores[i];
            found = true;
        }
    }
    return best;
}

} // namespace

GreedyTokenSampler::GreedyTokenSampler(
    float temperature, int eotToken, DecodingOptions decodingOptions, RandomSource randomSource)
    : temperature(temperature)
    , eotToken(eotToken)
    , decodingOptions(std::move(decodingOptions))
    , randomSource_(randomSource ? std::move(randomSource) : RandomSource([] { return arc4random(); }))
{
}

SamplingResult GreedyTokenSampler::update(
    const std::vector<int>& tokens, const ml::MultiArray& logits, const std::vector<float>& logProbs)
{
    SamplingResult result {tokens, logProbs, false};
    const std::vector<float> scores = scoresOf(logits);

    std::vector<float> input = scores;
    if (temperature != 0) {
        const float scale = 1.0f / temperature;
        for (float& value : input) {
            value *= scale;
        }
    }
    for (float& value : input) {
        if (std::isnan(value)) {
            value = -std::numeric_limits<float>::infinity();
        }
    }
    const float maximum = input.empty() ? -std::numeric_limits<float>::infinity()
                                        : *std::max_element(input.begin(), input.end());
    if (!std::isfinite(maximum)) {
        Logging::error("Sampling error: the logits hold no finite value");
        result.tokens.push_back(eotToken);
        result.logProbs.push_back(-std::numeric_limits<float>::infinity());
        result.completed = true;
        return result;
    }

    double sum = 0;
    for (float value : input) {
        sum += std::exp(static_cast<double>(value) - maximum);
    }
    const double logNormaliser = maximum + std::log(sum);

    std::size_t token = 0;
    if (temperature != 0) {
        std::vector<float> probabilities(input.size());
        for (std::size_t i = 0; i < input.size(); ++i) {
            probabilities[i] = static_cast<float>(std::exp(static_cast<double>(input[i]) - maximum) / sum);
        }
        const auto k = static_cast<std::size_t>(
            std::clamp<long long>(decodingOptions.topK, 1, static_cast<long long>(probabilities.size())));
        std::vector<std::size_t> order(probabilities.size());
        std::iota(order.begin(), order.end(), std::size_t {0});
        std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k), order.end(),
            [&](std::size_t a, std::size_t b) {
                return probabilities[a] > probabilities[b] || (probabilities[a] == probabilities[b] && a < b);
            });
        double total = 0;
        for (std::size_t j = 0; j < k; ++j) {
            total += probabilities[order[j]];
        }
        // 24 random bits scaled into [0, total); computed in double, so it stays below the total.
        const double bits = static_cast<double>(randomSource_() >> 8);
        const double r = total * bits * 0x1p-24;
        token = order[0];
        double running = 0;
        for (std::size_t j = 0; j < k; ++j) {
            running += probabilities[order[j]];
            if (r < running) {
                token = order[j];
                break;
            }
        }
    } else {
        token = argmax(scores);
    }

    result.tokens.push_back(static_cast<int>(token));
    result.logProbs.push_back(static_cast<float>(static_cast<double>(input[token]) - logNormaliser));
    result.completed = static_cast<int>(token) == eotToken;
    return result;
}

SamplingResult GreedyTokenSampler::finalize(const std::vector<int>& tokens, const std::vector<float>& logProbs)
{
    SamplingResult result {tokens, logProbs, true};
    if (result.tokens.empty() || result.tokens.back() != eotToken) {
        result.tokens.push_back(eotToken);
        result.logProbs.push_back(0.0f);
    }
    return result;
}

} // namespace auris
