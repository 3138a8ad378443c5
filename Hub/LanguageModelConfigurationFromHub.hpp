#pragma once

#include "Hub/Config.hpp"
#include "Hub/HubApi.hpp"

#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>

namespace hub {

// The three files that describe a language model and its tokenizer ("config.json",
// "tokenizer_config.json", "tokenizer.json"), loaded once in the background from the moment the
// object exists. Every getter waits for that one load; a failed load is rethrown by each of them.
class LanguageModelConfigurationFromHub {
public:
    struct Configurations {
        Config modelConfig;
        std::optional<Config> tokenizerConfig;
        Config tokenizerData;
    };

    // Fetches the files of the hub repository (type models) into the client's local folder for it,
    // skipping those already there, then reads that folder. Hub failures fail every getter.
    LanguageModelConfigurationFromHub(std::string modelName, HubApi hubApi);
    // Reads the files from a local folder.
    explicit LanguageModelConfigurationFromHub(std::filesystem::path modelFolder);

    Config modelConfig() const;
    // After the fallback rules: a configuration without a tokenizer class gets one from the model type.
    std::optional<Config> tokenizerConfig() const;
    Config tokenizerData() const;
    // "model_type" of the model configuration, when it is a string.
    std::optional<std::string> modelType() const;

    // The compiled-in resource named the model type followed by "_tokenizer_config"; absent when
    // there is none or it is not a JSON object.
    static std::optional<Config> fallbackTokenizerConfig(const std::string& modelType);

private:
    // Runs the load on its own thread; a repository road fetches the files and then reads its folder.
    explicit LanguageModelConfigurationFromHub(std::function<Configurations()> load);

    static Configurations loadConfig(const std::string& modelName, const HubApi& hubApi);
    static Configurations loadConfig(const std::filesystem::path& modelFolder);

    Configurations configurations() const;

    std::shared_future<Configurations> configPromise_;
};

} // namespace hub
