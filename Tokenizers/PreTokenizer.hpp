#pragma once

#include "Hub/Config.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tokenizers {

// Cuts a (normalized) text into the pieces the model sees one at a time. Immutable; thread-safe.
class PreTokenizer {
public:
    virtual ~PreTokenizer() = default;
    virtual std::vector<std::string> preTokenize(const std::string& text) const = 0;
    virtual std::vector<std::string> preTokenizeAll(const std::vector<std::string>& texts) const;
    std::vector<std::string> operator()(const std::vector<std::string>& texts) const { return preTokenizeAll(texts); }
    std::vector<std::string> operator()(const std::string& text) const { return preTokenize(text); }
};

// None for no section or a section without a string "type"; an unknown type or a malformed
// section throws TokenizerError::configuration with the stage's message.
std::unique_ptr<PreTokenizer> makePreTokenizer(const std::optional<hub::Config>& config);

} // namespace tokenizers
