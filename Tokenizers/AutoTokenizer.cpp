#include "Tokenizers/AutoTokenizer.hpp"

#include "Hub/LanguageModelConfigurationFromHub.hpp"
#include "Tokenizers/PreTrainedTokenizer.hpp"

namespace tokenizers {

std::shared_ptr<Tokenizer> AutoTokenizer::from(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData)
{
    return std::make_shared<PreTrainedTokenizer>(tokenizerConfig, tokenizerData);
}

std::shared_ptr<Tokenizer> AutoTokenizer::from(const std::filesystem::path& modelFolder)
{
    const hub::LanguageModelConfigurationFromHub configuration(modelFolder);
    const auto tokenizerConfig = configuration.tokenizerConfig();
    if (!tokenizerConfig) {
        throw TokenizerError::missingConfig();
    }
    return from(*tokenizerConfig, configuration.tokenizerData());
}

} // namespace tokenizers
