#pragma once

#include "Hub/HubApi.hpp"
#include "Hub/LanguageModelConfigurationFromHub.hpp"
#include "Models/TextGenerationModel.hpp"

#include <filesystem>
#include <mutex>
#include <optional>

namespace models {

// A compiled causal language model as a text generator. Its context length comes from the
// "input_ids" input's shape constraint; its tokenizer and configuration come from the hub
// repository named in its metadata, fetched in the background from construction on.
// Errors of its own are std::runtime_error with the message.
class LanguageModel : public TextGenerationModel {
public:
    static constexpr char input_ids[] = "input_ids";
    static constexpr char attention_mask[] = "attention_mask";
    // Metadata entries: a free-text description, and a JSON object of the exporter's own keys,
    // among them the repository the model was exported from.
    static constexpr char descriptionMetadataKey[] = "description";
    static constexpr char creatorDefinedMetadataKey[] = "creatorDefined";
    static constexpr char modelNameKey[] = "co.huggingface.exporters.name";

    // Throws "Cannot obtain shape information" when "input_ids" is missing or its shape cannot
    // carry a row of ids, and "Models must have a name that identifies them" without a name.
    explicit LanguageModel(std::shared_ptr<ml::Model> model, const hub::HubApi& hubApi = hub::HubApi::shared());

    static std::shared_ptr<LanguageModel> loadCompiled(const std::filesystem::path& url, ml::ComputeUnits computeUnits,
        const hub::HubApi& hubApi = hub::HubApi::shared());

    const std::shared_ptr<ml::Model>& model() const override { return model_; }
    int minContextLength() const { return minContextLength_; }
    int maxContextLength() const { return maxContextLength_; }

    std::string description() const;
    std::string modelName() const override;
    const ml::FeatureDescription& inputIdsDescription() const;
    std::string inputIdsName() const { return inputIdsDescription().name; }
    std::vector<int> inputIdsShape() const { return inputIdsDescription().shape; }
    bool requiresAttention() const;

    // Uses the last `maxContextLength` ids, padded with `padTokenId` (0 when unset) up to
    // `minContextLength`, and returns the scores after the last real id.
    ml::MultiArray predictNextTokenScores(
        const std::vector<int>& tokens, const generation::GenerationConfig& config) const override;

    // Each waits for the hub configuration and rethrows its failure.
    hub::Config modelConfig() const;
    std::optional<hub::Config> tokenizerConfig() const;
    hub::Config tokenizerData() const;
    std::optional<std::string> modelType() const;
    std::optional<hub::Config> textGenerationParameters() const;
    bool defaultDoSample() const;
    std::optional<int> bosTokenId() const;
    std::optional<int> eosTokenId() const;

    // Throws "Cannot retrieve Tokenizer configuration" when the repository has none.
    std::shared_ptr<const tokenizers::Tokenizer> tokenizer() const override;
    generation::GenerationConfig defaultGenerationConfig() const override;

    std::shared_ptr<const hub::LanguageModelConfigurationFromHub> configuration() const;
    void setConfiguration(std::shared_ptr<const hub::LanguageModelConfigurationFromHub> configuration);

private:
    const hub::LanguageModelConfigurationFromHub& requireConfiguration() const;

    std::shared_ptr<ml::Model> model_;
    int minContextLength_ = 0;
    int maxContextLength_ = 0;
    std::shared_ptr<const hub::LanguageModelConfigurationFromHub> configuration_;
    mutable std::mutex tokenizerMutex_;
    mutable std::shared_ptr<const tokenizers::Tokenizer> tokenizer_;
};

} // namespace models
