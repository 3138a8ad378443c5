#pragma once

#include "Generation/GenerationConfig.hpp"
#include "Tokenizers/Tokenizer.hpp"
#include "platform/ml/Model.hpp"

#include <memory>
#include <string>
#include <vector>

namespace models {

// A compiled causal language model: token ids in, the next token's scores out.
class LanguageModelProtocol {
public:
    virtual ~LanguageModelProtocol() = default;

    virtual std::string modelName() const = 0;
    // Built on first use from the model's hub configuration; throws when that cannot be done.
    virtual std::shared_ptr<const tokenizers::Tokenizer> tokenizer() const = 0;
    virtual const std::shared_ptr<ml::Model>& model() const = 0;
    // A float32 array of the scores of every vocabulary token after the last id.
    virtual ml::MultiArray predictNextTokenScores(
        const std::vector<int>& tokens, const generation::GenerationConfig& config) const = 0;

    ml::MultiArray operator()(const std::vector<int>& tokens, const generation::GenerationConfig& config) const
    {
        return predictNextTokenScores(tokens, config);
    }
};

} // namespace models
