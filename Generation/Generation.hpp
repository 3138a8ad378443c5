#pragma once

#include "Generation/GenerationConfig.hpp"
#include "TensorUtils/Math.hpp"
#include "Tokenizers/Tokenizer.hpp"
#include "platform/ml/MultiArray.hpp"

#include <functional>
#include <string>
#include <vector>

namespace generation {

// The scores of every vocabulary token for the position after `tokens`.
using NextTokenModel = std::function<ml::MultiArray(const std::vector<int>& tokens, const GenerationConfig& config)>;
// Receives the whole id list after each new token.
using PredictionTokensCallback = std::function<void(const std::vector<int>& tokens)>;
// Receives the decoded text so far.
using PredictionStringCallback = std::function<void(const std::string& text)>;

// Turns a next-token model into a text generator. The loops run on the caller's thread and call
// the callbacks there, synchronously.
class Generation {
public:
    virtual ~Generation() = default;

    // Appends the highest-scoring id until `maxLength` ids or the end token; returns all ids,
    // the starting ones included.
    virtual std::vector<int> greedySearch(const GenerationConfig& config, const std::vector<int>& tokens,
        const NextTokenModel& model, const PredictionTokensCallback& callback = {}) const;

    // Encodes the prompt, generates up to `maxNewTokens` more ids by the configuration's mode and
    // returns the decoded text, prompt included. Modes other than greedy and sample throw
    // std::runtime_error "Generation mode <name> not implemented yet".
    virtual std::string generate(const GenerationConfig& config, const std::string& prompt, const NextTokenModel& model,
        const tokenizers::Tokenizer& tokenizer, const PredictionStringCallback& callback = {}) const;

    // As greedySearch, drawing each id from the warped distribution with `randomSource`.
    std::vector<int> sample(const GenerationConfig& config, const std::vector<int>& tokens, const NextTokenModel& model,
        const PredictionTokensCallback& callback = {}) const;

    // The uniform source that sampling draws from.
    tensorutils::RandomSource randomSource = &tensorutils::Math::systemRandom;
};

} // namespace generation
