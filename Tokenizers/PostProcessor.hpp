#pragma once

#include "Hub/Config.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tokenizers {

// Adds a model's special tokens around the token strings of an encoded text. Immutable; thread-safe.
class PostProcessor {
public:
    virtual ~PostProcessor() = default;
    virtual std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
        const std::optional<std::vector<std::string>>& tokensPair) const = 0;
    std::vector<std::string> operator()(const std::vector<std::string>& tokens,
        const std::optional<std::vector<std::string>>& tokensPair = std::nullopt) const
    {
        return postProcess(tokens, tokensPair);
    }
};

// None for no section or a section without a string "type"; an unknown type or a malformed
// section throws TokenizerError::configuration with the stage's message.
std::unique_ptr<PostProcessor> makePostProcessor(const std::optional<hub::Config>& config);

} // namespace tokenizers
