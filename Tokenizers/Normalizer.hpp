#pragma once

#include "Hub/Config.hpp"

#include <memory>
#include <optional>
#include <string>

namespace tokenizers {

// Rewrites the whole input text before pre-tokenization. Immutable; safe to share between threads.
class Normalizer {
public:
    virtual ~Normalizer() = default;
    virtual std::string normalize(const std::string& text) const = 0;
    std::string operator()(const std::string& text) const { return normalize(text); }
};

// None for no section or a section without a string "type"; an unknown type or a malformed
// section throws TokenizerError::configuration with the stage's message.
std::unique_ptr<Normalizer> makeNormalizer(const std::optional<hub::Config>& config);

} // namespace tokenizers
