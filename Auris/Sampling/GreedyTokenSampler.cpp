#include "Auris/Sampling/GreedyTokenSampler.hpp"

#include "Auris/Utilities/Logging.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace auris {


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
    std::vector<float> converted;
    const float* scores = logits.floatsInPlace(converted);
    const std::size_t count = logits.count();

    // The scaled scores with NaN as -inf, and the first index holding their maximum (the greedy
    // choice), in vector passes: this runs over the whole vocabulary at every step.
    std::vector<float>& input = input_;
    input.resize(count);
    const float scale = temperature != 0 ? 1.0f / temperature : 1.0f;
    const std::size_t first = ml::scaledArgMaximum(scores, input.data(), count, scale);
    const float maximum = count ? input[first] : -std::numeric_limits<float>::infinity();
    if (!std::isfinite(maximum)) {
        Logging::error("Sampling error: the logits hold no finite value");
        result.tokens.push_back(eotToken);
        result.logProbs.push_back(-std::numeric_limits<float>::infinity());
        result.completed = true;
        return result;
    }

    const double logNormaliser
        = static_cast<float>(maximum + std::log(ml::sumOfExponentials(input.data(), input.size(), maximum)));
    const double sum = std::exp(logNormaliser - maximum);

    std::size_t token = 0;
    if (temperature != 0) {
        // The k most probable tokens, most probable first and the lower id first on ties. The
        // exponential is monotonic, so they are the k highest scores: only those k are turned
        // into probabilities. Usual k are small: keep a short sorted list rather than sorting the
        // whole vocabulary.
        const auto k = static_cast<std::size_t>(
            std::clamp<long long>(decodingOptions.topK, 1, static_cast<long long>(input.size())));
        struct Candidate {
            float probability;
            std::size_t token;
        };
        auto probabilityOf = [&](std::size_t i) {
            return static_cast<float>(std::exp(static_cast<double>(input[i]) - maximum) / sum);
        };
        auto higher = [&](std::size_t a, std::size_t b) { return input[a] > input[b] || (input[a] == input[b] && a < b); };
        std::vector<std::size_t> top;
        constexpr std::size_t shortListLimit = 64;
        if (k <= shortListLimit) {
            top.reserve(k + 1);
            // Later indexes lose ties, so a block whose largest score is no higher than the list's
            // last holds none of the k.
            constexpr std::size_t block = 256;
            for (std::size_t from = 0; from < input.size(); from += block) {
                const std::size_t to = std::min(input.size(), from + block);
                if (top.size() == k && ml::maximum(input.data() + from, to - from) <= input[top.back()]) {
                    continue;
                }
                for (std::size_t i = from; i < to; ++i) {
                    if (top.size() == k && !higher(i, top.back())) {
                        continue;
                    }
                    top.insert(std::upper_bound(top.begin(), top.end(), i, higher), i);
                    if (top.size() > k) {
                        top.pop_back();
                    }
                }
            }
        } else {
            top.resize(input.size());
            for (std::size_t i = 0; i < input.size(); ++i) {
                top[i] = i;
            }
            std::partial_sort(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(k), top.end(), higher);
            top.resize(k);
        }
        std::vector<Candidate> best;
        best.reserve(k);
        for (std::size_t i : top) {
            best.push_back({probabilityOf(i), i});
        }
        double total = 0;
        for (const Candidate& candidate : best) {
            total += candidate.probability;
        }
        // 24 random bits scaled into [0, total); computed in double, so it stays below the total.
        const double bits = static_cast<double>(randomSource_() >> 8);
        const double r = total * bits * 0x1p-24;
        token = best.front().token;
        double running = 0;
        for (const Candidate& candidate : best) {
            running += candidate.probability;
            if (r < running) {
                token = candidate.token;
                break;
            }
        }
    } else {
        token = first;
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
