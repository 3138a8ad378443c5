#include "Hub/LanguageModelConfigurationFromHub.hpp"

#include "Hub/FallbackConfigurations.hpp"
#include "Hub/Repo.hpp"
#include "platform/system/BoundedJson.hpp"
#include "platform/system/RegularFile.hpp"
#include "platform/text/TextTransforms.hpp"

#include <stdexcept>

namespace hub {

using nlohmann::json;

namespace {

// Vocabularies of a few hundred thousand tokens take tens of megabytes; this leaves ample room.
constexpr std::size_t maximumFileSize = 512u << 20;

// Read and parse failures throw with the file named; a top level that is not an object is `parse`.
Config readJsonObject(const std::filesystem::path& path)
{
    std::string text;
    try {
        text = platform::RegularFile::read(path, maximumFileSize);
    } catch (const std::filesystem::filesystem_error& error) {
        throw std::runtime_error("Cannot read " + path.string() + ": " + platform::RegularFile::reason(error));
    }
    json parsed;
    try {
        parsed = platform::BoundedJson::parse(text);
    } catch (const platform::BoundedJsonError& error) {
        throw std::runtime_error("Cannot parse " + path.string() + ": it " + error.what());
    }
    if (!parsed.is_object()) {
        throw HubClientError::parse();
    }
    return Config(std::move(parsed));
}

} // namespace

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(std::string modelName, HubApi hubApi)
    : LanguageModelConfigurationFromHub(
          [name = std::move(modelName), api = std::move(hubApi)] { return loadConfig(name, api); })
{
}

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(std::filesystem::path modelFolder)
    : LanguageModelConfigurationFromHub([folder = std::move(modelFolder)] { return loadConfig(folder); })
{
}

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(std::function<Configurations()> load)
    : configPromise_(std::async(std::launch::async, std::move(load)).share())
{
}

LanguageModelConfigurationFromHub::Configurations LanguageModelConfigurationFromHub::loadConfig(
    const std::string& modelName, const HubApi& hubApi)
{
    const Repo repo(modelName, RepoType::models);
    const auto folder = hubApi.snapshot(
        repo, {"config.json", "tokenizer_config.json", "tokenizer.json"}, [](const Progress&) {});
    return loadConfig(folder);
}

LanguageModelConfigurationFromHub::Configurations LanguageModelConfigurationFromHub::loadConfig(
    const std::filesystem::path& modelFolder)
{
    Configurations configurations {readJsonObject(modelFolder / "config.json"), std::nullopt, Config()};
    try {
        configurations.tokenizerConfig = readJsonObject(modelFolder / "tokenizer_config.json");
    } catch (const std::exception&) {
        configurations.tokenizerConfig = std::nullopt; // a missing or bad one falls back later
    }
    configurations.tokenizerData = readJsonObject(modelFolder / "tokenizer.json");
    return configurations;
}

LanguageModelConfigurationFromHub::Configurations LanguageModelConfigurationFromHub::configurations() const
{
    // Each caller waits through its own copy of the shared state.
    std::shared_future<Configurations> promise = configPromise_;
    return promise.get();
}

Config LanguageModelConfigurationFromHub::modelConfig() const
{
    return configurations().modelConfig;
}

Config LanguageModelConfigurationFromHub::tokenizerData() const
{
    return configurations().tokenizerData;
}

std::optional<std::string> LanguageModelConfigurationFromHub::modelType() const
{
    const auto value = modelConfig()["modelType"];
    return value ? value->stringValue() : std::nullopt;
}

std::optional<Config> LanguageModelConfigurationFromHub::tokenizerConfig() const
{
    const auto loaded = configurations().tokenizerConfig;
    if (!loaded) {
        const auto type = modelType();
        return type ? fallbackTokenizerConfig(*type) : std::nullopt;
    }
    if (const auto tokenizerClass = (*loaded)["tokenizerClass"]; tokenizerClass && tokenizerClass->stringValue()) {
        return loaded;
    }
    const auto type = modelType();
    if (!type) {
        return loaded;
    }
    json merged = *loaded->object();
    if (const auto fallback = fallbackTokenizerConfig(*type)) {
        // The fallback's values win; keys only the repository's file has are kept.
        for (const auto& [key, value] : fallback->object()->items()) {
            merged[key] = value;
        }
    } else {
        merged["tokenizer_class"] = platform::capitalized(*type) + "Tokenizer";
    }
    return Config(std::move(merged));
}

std::optional<Config> LanguageModelConfigurationFromHub::fallbackTokenizerConfig(const std::string& modelType)
{
    const auto contents = hubResource(modelType + "_tokenizer_config", "json");
    if (!contents) {
        return std::nullopt;
    }
    json parsed = json::parse(*contents, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return std::nullopt;
    }
    return Config(std::move(parsed));
}

} // namespace hub
