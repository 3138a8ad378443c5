#include "Models/LanguageModel.hpp"

#include "Tokenizers/AutoTokenizer.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace models {

namespace {

constexpr int defaultContextLength = 128;
constexpr char noShapeInformation[] = "Cannot obtain shape information";

const ml::FeatureDescription& inputIdsOf(const ml::Model& model)
{
    const auto* description = model.modelDescription().input(LanguageModel::input_ids);
    if (!description) {
        throw std::runtime_error(noShapeInformation);
    }
    return *description;
}

// The lowest and highest number of token positions the ids input takes.
std::pair<int, int> contextLengths(const ml::FeatureDescription& ids)
{
    const auto& shape = ids.shape;
    // One row of ids: the second dimension counts positions, every other one is 1.
    if (shape.size() < 2) {
        throw std::runtime_error(noShapeInformation);
    }
    for (std::size_t d = 0; d < shape.size(); ++d) {
        if (d != 1 && shape[d] != 1) {
            throw std::runtime_error(noShapeInformation);
        }
    }
    std::pair<int, int> lengths {defaultContextLength, defaultContextLength};
    if (!ids.shapeConstraint) {
        // A fixed shape takes exactly its own length.
        lengths = {shape[1], shape[1]};
    } else if (ids.shapeConstraint->type == ml::ShapeConstraint::Type::enumerated) {
        const auto& shapes = ids.shapeConstraint->enumeratedShapes;
        if (shapes.empty() || shapes.front().size() < 2) {
            throw std::runtime_error(noShapeInformation);
        }
        lengths = {shapes.front()[1], shapes.front()[1]};
    } else if (ids.shapeConstraint->type == ml::ShapeConstraint::Type::range) {
        const auto& ranges = ids.shapeConstraint->sizeRangeForDimension;
        if (ranges.size() < 2) {
            lengths = {1, defaultContextLength};
        } else {
            const auto [lowest, highest] = ranges[1];
            lengths = {std::max(lowest, 0), highest < 0 ? std::max(lowest, defaultContextLength) : highest};
        }
    }
    if (lengths.second < 1 || lengths.first > lengths.second) {
        throw std::runtime_error(noShapeInformation);
    }
    return lengths;
}

std::optional<std::string> exportedName(const std::map<std::string, std::string>& metadata)
{
    const auto entry = metadata.find(LanguageModel::creatorDefinedMetadataKey);
    if (entry == metadata.end()) {
        return std::nullopt;
    }
    const auto keys = nlohmann::json::parse(entry->second, nullptr, false);
    if (!keys.is_object()) {
        return std::nullopt;
    }
    const auto name = keys.find(LanguageModel::modelNameKey);
    if (name == keys.end() || !name->is_string()) {
        return std::nullopt;
    }
    return name->get<std::string>();
}

// The elements at [0, position, ...] of an array of rank 3 or more, as a float32 array of the
// remaining dimensions.
ml::MultiArray rowAt(const ml::MultiArray& array, int position, const std::string& name)
{
    const auto& shape = array.shape();
    if (shape.size() < 3 || shape[0] < 1 || shape[1] <= position) {
        throw std::runtime_error("Cannot read next-token scores from the output \"" + name + "\"");
    }
    std::vector<int> rowShape(shape.begin() + 2, shape.end());
    ml::MultiArray row(rowShape, ml::MultiArrayDataType::float32);
    float* out = row.data<float>();
    std::vector<int> index(shape.size(), 0);
    index[1] = position;
    for (std::size_t i = 0; i < row.count(); ++i) {
        out[i] = static_cast<float>(array.value(index));
        for (std::size_t d = shape.size(); d-- > 2;) {
            if (++index[d] < shape[d]) {
                break;
            }
            index[d] = 0;
        }
    }
    return row;
}

} // namespace

LanguageModel::LanguageModel(std::shared_ptr<ml::Model> model, const hub::HubApi& hubApi)
    : model_(std::move(model))
{
    if (!model_) {
        throw std::invalid_argument("a language model needs a loaded model");
    }
    std::tie(minContextLength_, maxContextLength_) = contextLengths(inputIdsOf(*model_));
    configuration_ = std::make_shared<const hub::LanguageModelConfigurationFromHub>(modelName(), hubApi);
}

std::shared_ptr<LanguageModel> LanguageModel::loadCompiled(
    const std::filesystem::path& url, ml::ComputeUnits computeUnits, const hub::HubApi& hubApi)
{
    ml::ModelConfiguration configuration;
    configuration.computeUnits = computeUnits;
    return std::make_shared<LanguageModel>(ml::Model::load(url, configuration), hubApi);
}

std::string LanguageModel::description() const
{
    const auto& metadata = model_->modelDescription().metadata;
    if (const auto entry = metadata.find(descriptionMetadataKey); entry != metadata.end() && !entry->second.empty()) {
        return entry->second;
    }
    return model_->configuration().modelDisplayName.value_or("");
}

std::string LanguageModel::modelName() const
{
    if (auto name = exportedName(model_->modelDescription().metadata)) {
        return *name;
    }
    if (const auto& displayName = model_->configuration().modelDisplayName) {
        return *displayName;
    }
    throw std::runtime_error("Models must have a name that identifies them");
}

const ml::FeatureDescription& LanguageModel::inputIdsDescription() const
{
    return inputIdsOf(*model_);
}

bool LanguageModel::requiresAttention() const
{
    return model_->modelDescription().input(attention_mask) != nullptr;
}

ml::MultiArray LanguageModel::predictNextTokenScores(
    const std::vector<int>& tokens, const generation::GenerationConfig& config) const
{
    if (tokens.empty()) {
        throw std::runtime_error("Cannot predict the next token without any token ids");
    }
    const int used = static_cast<int>(std::min<std::size_t>(tokens.size(), static_cast<std::size_t>(maxContextLength_)));
    const int padding = std::max(minContextLength_ - used, 0);
    // The latest ids: the next token follows the end of the text, not its beginning.
    const auto first = tokens.end() - used;

    std::vector<int> shape = inputIdsShape();
    shape[1] = used + padding;
    ml::MultiArray ids(shape, ml::MultiArrayDataType::int32);
    std::int32_t* idValues = ids.data<std::int32_t>();
    std::copy(first, tokens.end(), idValues);
    std::fill(idValues + used, idValues + used + padding, static_cast<std::int32_t>(config.padTokenId.value_or(0)));

    ml::DictionaryFeatureProvider inputs;
    inputs.set(inputIdsName(), ids);
    if (requiresAttention()) {
        ml::MultiArray mask(shape, ml::MultiArrayDataType::int32);
        std::fill(mask.data<std::int32_t>(), mask.data<std::int32_t>() + used, 1);
        inputs.set(attention_mask, mask);
    }

    const ml::DictionaryFeatureProvider outputs = model_->prediction(inputs);
    // The first declared output holds the scores; a model that declares none is read by its first result.
    const auto& declared = model_->modelDescription().outputs;
    const auto names = outputs.featureNames();
    const std::string name = !declared.empty() ? declared.front().name : (names.empty() ? "" : names.front());
    const auto logits = outputs.featureValue(name);
    if (!logits) {
        throw std::runtime_error("Cannot read next-token scores from the output \"" + name + "\"");
    }
    return rowAt(*logits, used - 1, name);
}

std::shared_ptr<const hub::LanguageModelConfigurationFromHub> LanguageModel::configuration() const
{
    return configuration_;
}

void LanguageModel::setConfiguration(std::shared_ptr<const hub::LanguageModelConfigurationFromHub> configuration)
{
    configuration_ = std::move(configuration);
}

const hub::LanguageModelConfigurationFromHub& LanguageModel::requireConfiguration() const
{
    if (!configuration_) {
        throw std::runtime_error("Cannot retrieve the model configuration");
    }
    return *configuration_;
}

hub::Config LanguageModel::modelConfig() const
{
    return requireConfiguration().modelConfig();
}

std::optional<hub::Config> LanguageModel::tokenizerConfig() const
{
    return requireConfiguration().tokenizerConfig();
}

hub::Config LanguageModel::tokenizerData() const
{
    return requireConfiguration().tokenizerData();
}

std::optional<std::string> LanguageModel::modelType() const
{
    const auto value = modelConfig()["modelType"];
    return value ? value->stringValue() : std::nullopt;
}

std::optional<hub::Config> LanguageModel::textGenerationParameters() const
{
    const auto parameters = modelConfig()["taskSpecificParams"];
    return parameters ? (*parameters)["textGeneration"] : std::nullopt;
}

bool LanguageModel::defaultDoSample() const
{
    const auto parameters = textGenerationParameters();
    const auto doSample = parameters ? (*parameters)["doSample"] : std::nullopt;
    return doSample && doSample->boolValue() ? *doSample->boolValue() : true;
}

std::optional<int> LanguageModel::bosTokenId() const
{
    const auto value = modelConfig()["bosTokenId"];
    return value ? value->intValue() : std::nullopt;
}

std::optional<int> LanguageModel::eosTokenId() const
{
    const auto value = modelConfig()["eosTokenId"];
    return value ? value->intValue() : std::nullopt;
}

std::shared_ptr<const tokenizers::Tokenizer> LanguageModel::tokenizer() const
{
    const std::lock_guard lock(tokenizerMutex_);
    if (tokenizer_) {
        return tokenizer_;
    }
    const auto config = tokenizerConfig();
    if (!config) {
        throw std::runtime_error("Cannot retrieve Tokenizer configuration");
    }
    tokenizer_ = tokenizers::AutoTokenizer::from(*config, tokenizerData());
    return tokenizer_;
}

generation::GenerationConfig LanguageModel::defaultGenerationConfig() const
{
    generation::GenerationConfig config(30);
    std::string name = modelName();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name.find("gpt") != std::string::npos) {
        config.doSample = true;
        config.topK = 50;
    }
    return config;
}

} // namespace models
