#pragma once

#include "Hub/Config.hpp"
#include "Hub/HubApi.hpp"
#include "Tokenizers/Tokenizer.hpp"

#include <filesystem>
#include <memory>
#include <string>

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

    // The same for a hub repository, whose files the client fetches into its local folder for the
    // repository first; the hub client's errors pass through unchanged.
    static std::shared_ptr<Tokenizer> fromPretrained(const std::string& repoId, const hub::HubApi& hubApi);
};

} // namespace tokenizers
