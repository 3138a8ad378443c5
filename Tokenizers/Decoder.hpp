#pragma once

#include "Hub/Config.hpp"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tokenizers {

// Turns token strings back towards text, undoing the pre-tokenizer and the model. Immutable; thread-safe.
class Decoder {
public:
    virtual ~Decoder() = default;
    virtual std::vector<std::string> decode(const std::vector<std::string>& tokens) const = 0;
    std::vector<std::string> operator()(const std::vector<std::string>& tokens) const { return decode(tokens); }
};

using AddedTokenSet = std::set<std::string, std::less<>>;

// None for no section or a section without a string "type"; an unknown type or a malformed
// section throws TokenizerError::configuration with the stage's message. The added tokens reach
// every byte-level decoder, inside sequences too, so that they never pass through the byte alphabet.
std::unique_ptr<Decoder> makeDecoder(const std::optional<hub::Config>& config,
    const std::optional<AddedTokenSet>& addedTokens = std::nullopt);

} // namespace tokenizers
