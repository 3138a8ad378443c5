#include "Generation/Generation.hpp"

#include "TensorUtils/LogitsProcessor.hpp"
#include "TensorUtils/LogitsWarpers.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace generation {

namespace {

using tensorutils::Math;

// Runs the loop shared by greedy search and sampling; `choose` picks the next id from the scores.
template<typename Choose>
std::vector<int> generateTokens(const GenerationConfig& config, const std::vector<int>& tokens, const NextTokenModel& model,
    const PredictionTokensCallback& callback, const Choose& choose)
{
    std::vector<int> output = tokens;
    while (output.size() < static_cast<std::size_t>(std::max(config.maxLength, 0))) {
        const std::vector<float> scores = model(output, config).toFloats();
        const int next = choose(scores);
        if (config.eosTokenId && *config.eosTokenId == next) {
            break;
        }
        output.push_back(next);
        if (callback) {
            callback(output);
        }
    }
    return output;
}

std::vector<std::shared_ptr<const tensorutils::LogitsWarper>> warpersFor(const GenerationConfig& config)
{
    std::vector<std::shared_ptr<const tensorutils::LogitsWarper>> warpers;
    if (config.temperature > 0 && config.temperature != 1) {
        warpers.push_back(std::make_shared<tensorutils::TemperatureLogitsWarper>(static_cast<float>(config.temperature)));
    }
    if (config.topK > 0) {
        warpers.push_back(std::make_shared<tensorutils::TopKLogitsWarper>(config.topK));
    }
    if (config.topP < 1) {
        warpers.push_back(std::make_shared<tensorutils::TopPLogitsWarper>(static_cast<float>(config.topP)));
    }
    return warpers;
}

} // namespace

std::vector<int> Generation::greedySearch(const GenerationConfig& config, const std::vector<int>& tokens,
    const NextTokenModel& model, const PredictionTokensCallback& callback) const
{
    return generateTokens(config, tokens, model, callback, [](const std::vector<float>& scores) {
        return Math::argmax(scores.data(), static_cast<int>(std::min<std::size_t>(scores.size(), std::numeric_limits<int>::max()))).first;
    });
}

std::vector<int> Generation::sample(const GenerationConfig& config, const std::vector<int>& tokens,
    const NextTokenModel& model, const PredictionTokensCallback& callback) const
{
    const tensorutils::LogitsProcessor processor(warpersFor(config));
    return generateTokens(config, tokens, model, callback, [&](const std::vector<float>& scores) {
        const tensorutils::Candidates candidates = processor(scores);
        const std::vector<float> probabilities = Math::softmax(candidates.logits);
        return Math::sample(candidates.indices, probabilities, randomSource);
    });
}

std::string Generation::generate(const GenerationConfig& config, const std::string& prompt, const NextTokenModel& model,
    const tokenizers::Tokenizer& tokenizer, const PredictionStringCallback& callback) const
{
    const std::vector<int> promptTokens = tokenizer.encode(prompt);
    GenerationConfig settings = config;
    const long long maxLength = static_cast<long long>(config.maxNewTokens) + static_cast<long long>(promptTokens.size());
    settings.maxLength = static_cast<int>(std::clamp<long long>(maxLength, 0, std::numeric_limits<int>::max()));

    PredictionTokensCallback tokensCallback;
    if (callback) {
        tokensCallback = [&](const std::vector<int>& tokens) { callback(tokenizer.decode(tokens)); };
    }
    std::vector<int> output;
    switch (settings.generationMode()) {
    case GenerationMode::greedy:
        output = greedySearch(settings, promptTokens, model, tokensCallback);
        break;
    case GenerationMode::sample:
        output = sample(settings, promptTokens, model, tokensCallback);
        break;
    default:
        throw std::runtime_error("Generation mode " + std::string(name(settings.generationMode())) + " not implemented yet");
    }
    return tokenizer.decode(output);
}

} // namespace generation
