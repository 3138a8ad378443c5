#include "Auris/Sampling/GreedyTokenSampler.hpp"

#include "Auris/Utilities/Logging.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <span>

namespace auris {

namespace {

// Higher score first, the lower index on ties: the order of the top-k list.
struct HigherScore {
    std::span<const float> scores;
    bool operator()(std::size_t a, std::size_t b) const
    {
        return scores[a] > scores[b] || (scores[a] == scores[b] && a < b);
    }
};

// Up to this k a short sorted list beats sorting the whole vocabulary.
constexpr std::size_t shortListLimit = 64;
// Scores scanned at a time by the short list's skip test.
constexpr std::size_t skipBlockSize = 256;

// The k highest scores kept in a short sorted list. Later indexes lose ties, so a block whose
// largest score is no higher than the list's last holds none of the k.
std::vector<std::size_t> topIndexesByShortList(std::span<const float> scores, std::size_t k)
{
    const HigherScore higher {scores};
    std::vector<std::size_t> top;
    top.reserve(k + 1);
    for (std::size_t from = 0; from < scores.size(); from += skipBlockSize) {
        const std::size_t to = std::min(scores.size(), from + skipBlockSize);
        if (top.size() == k && ml::maximum(scores.data() + from, to - from) <= scores[top.back()]) {
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
    return top;
}

std::vector<std::size_t> topIndexesBySort(std::span<const float> scores, std::size_t k)
{
    std::vector<std::size_t> top(scores.size());
    std::iota(top.begin(), top.end(), std::size_t {0});
    std::partial_sort(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(k), top.end(), HigherScore {scores});
    top.resize(k);
    return top;
}

// The k most probable tokens, most probable first. The exponential is monotonic, so they are the
// k highest scores.
std::vector<std::size_t> topIndexes(std::span<const float> scores, std::size_t k)
{
    return k <= shortListLimit ? topIndexesByShortList(scores, k) : topIndexesBySort(scores, k);
}

// The softmax of the scaled scores, kept as its maximum and log-normaliser so that only the
// entries read are turned into probabilities.
struct Softmax {
    float maximum = 0;
    double logNormaliser = 0;
    double sum = 0;

    double logProbability(float score) const { return static_cast<double>(score) - logNormaliser; }
    float probability(float score) const
    {
        return static_cast<float>(std::exp(static_cast<double>(score) - maximum) / sum);
    }
};

Softmax softmaxOf(std::span<const float> scores, float maximum)
{
    const double logNormaliser
        = static_cast<float>(maximum + std::log(ml::sumOfExponentials(scores.data(), scores.size(), maximum)));
    return {maximum, logNormaliser, std::exp(logNormaliser - maximum)};
}

// The first of the candidates whose running probability passes a draw from [0, their total):
// 24 random bits scaled in double, so the draw stays below the total.
std::size_t drawAmong(const std::vector<std::size_t>& candidates, std::span<const float> scores,
    const Softmax& softmax, std::uint32_t randomBits)
{
    std::vector<float> probabilities;
    probabilities.reserve(candidates.size());
    double total = 0;
    for (std::size_t i : candidates) {
        probabilities.push_back(softmax.probability(scores[i]));
        total += probabilities.back();
    }
    const double r = total * static_cast<double>(randomBits >> 8) * 0x1p-24;
    double running = 0;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
        running += probabilities[c];
        if (r < running) {
            return candidates[c];
        }
    }
    return candidates.front();
}

void appendToken(SamplingResult& result, int token, float logProb, int eotToken)
{
    result.tokens.push_back(token);
    result.logProbs.push_back(logProb);
    result.completed = token == eotToken;
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
    constexpr float noScore = -std::numeric_limits<float>::infinity();
    std::vector<float> converted;
    const float* logitValues = logits.floatsInPlace(converted);

    // The scaled scores with NaN as -inf, and the first index holding their maximum (the greedy
    // choice), in one vector pass: this runs over the whole vocabulary at every step.
    input_.resize(logits.count());
    const float scale = temperature != 0 ? 1.0f / temperature : 1.0f;
    const std::size_t argMax = ml::scaledArgMaximum(logitValues, input_.data(), input_.size(), scale);
    const std::span<const float> scores(input_);
    const float maximum = scores.empty() ? noScore : scores[argMax];
    if (!std::isfinite(maximum)) {
        Logging::error("Sampling error: the logits hold no finite value");
        appendToken(result, eotToken, noScore, eotToken);
        return result;
    }

    const Softmax softmax = softmaxOf(scores, maximum);
    std::size_t token = argMax;
    if (temperature != 0) {
        const auto k = static_cast<std::size_t>(
            std::clamp<long long>(decodingOptions.topK, 1, static_cast<long long>(scores.size())));
        token = drawAmong(topIndexes(scores, k), scores, softmax, randomSource_());
    }
    appendToken(result, static_cast<int>(token), static_cast<float>(softmax.logProbability(scores[token])), eotToken);
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
