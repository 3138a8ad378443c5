#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string_view>

namespace generation {

// The decoding strategy a configuration asks for.
enum class GenerationMode { contrastiveSearch, greedy, sample, beam, groupBeam, unsupported };

std::string_view name(GenerationMode mode);

// Text-generation settings. `repetitionPenalty`, `padTokenId` and `bosTokenId` are carried for the
// model wrapper; the generation loops do not read them.
struct GenerationConfig {
    explicit GenerationConfig(int maxNewTokens)
        : maxNewTokens(maxNewTokens)
    {
    }

    // The JSON object with exactly the field names as keys; the four optional ids and
    // "penaltyAlpha" may be absent or null, every other key is required. Throws std::invalid_argument.
    static GenerationConfig fromJson(const nlohmann::json& object);

    GenerationMode generationMode() const;

    int maxLength = 20;
    int maxNewTokens;
    bool doSample = false;
    int numBeams = 1;
    int numBeamGroups = 1;
    std::optional<double> penaltyAlpha;
    double temperature = 1.0;
    int topK = 50;
    double topP = 1.0;
    double repetitionPenalty = 1.0;
    std::optional<int> padTokenId;
    std::optional<int> bosTokenId;
    std::optional<int> eosTokenId;

    friend bool operator==(const GenerationConfig&, const GenerationConfig&) = default;
};

} // namespace generation
