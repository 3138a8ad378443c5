#pragma once

#include "Hub/Config.hpp"
#include "Tokenizers/Tokenizer.hpp"

#include <filesystem>
#include <memory>

namespace tokenizers {

// Entry points that build a PreTrainedTokenizer; the class name in the configuration picks its model.
class AutoTokenizer {
public:
    AutoTokenizer() = delete;

    static std::shared_ptr<Tokenizer> from(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData);

    // Reads "config.json", "tokenizer_config.json" and "tokenizer.json" of a local folder. Throws
    // TokenizerError::missingConfig when no tokenizer configuration results (after the fallbacks),
    // the loader's error when a file cannot be read, and the construction errors.
    static std::shared_ptr<Tokenizer> from(const std::filesystem::path& modelFolder);
};

} // namespace tokenizers
