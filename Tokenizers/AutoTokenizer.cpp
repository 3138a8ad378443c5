#include "Tokenizers/AutoTokenizer.hpp"

#include "Hub/LanguageModelConfigurationFromHub.hpp"
#include "Tokenizers/PreTrainedTokenizer.hpp"

namespace tokenizers {

std::shared_ptr<Tokenizer> AutoTokenizer::from(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData)
{
    return std::make_shared<PreTrainedTokenizer>(tokenizerConfig, tokenizerData);
}

namespace {

std::shared_ptr<Tokenizer> build(const hub::LanguageModelConfigurationFromHub& configuration)
{
    const auto tokenizerConfig = configuration.tokenizerConfig();
    if (!tokenizerConfig) {
        throw TokenizerError::missingConfig();
    }
    return AutoTokenizer::from(*tokenizerConfig, configuration.tokenizerData());
}

} // namespace

std::shared_ptr<Tokenizer> AutoTokenizer::from(const std::filesystem::path& modelFolder)
{
    return build(hub::LanguageModelConfigurationFromHub(modelFolder));
}

std::shared_ptr<Tokenizer> AutoTokenizer::fromPretrained(const std::string& repoId, const hub::HubApi& hubApi)
{
    return build(hub::LanguageModelConfigurationFromHub(repoId, hubApi));
}

} // namespace tokenizers
