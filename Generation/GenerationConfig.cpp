#include "Generation/GenerationConfig.hpp"

#include <limits>
#include <stdexcept>
#include <string>

namespace generation {

namespace {

using nlohmann::json;

const json* member(const json& object, const char* key, bool required)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        if (required) {
            throw std::invalid_argument(std::string("generation configuration: \"") + key + "\" is missing");
        }
        return nullptr;
    }
    return &*found;
}

[[noreturn]] void wrongType(const char* key, const char* expected)
{
    throw std::invalid_argument(std::string("generation configuration: \"") + key + "\" must be " + expected);
}

std::optional<int> integer(const json& object, const char* key, bool required)
{
    const json* value = member(object, key, required);
    if (!value) {
        return std::nullopt;
    }
    if (value->is_number_unsigned()) {
        const auto u = value->get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            return static_cast<int>(u);
        }
    } else if (value->is_number_integer()) {
        const auto i = value->get<std::int64_t>();
        if (i >= std::numeric_limits<int>::min() && i <= std::numeric_limits<int>::max()) {
            return static_cast<int>(i);
        }
    }
    wrongType(key, "an integer");
}

std::optional<double> number(const json& object, const char* key, bool required)
{
    const json* value = member(object, key, required);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_number()) {
        wrongType(key, "a number");
    }
    return value->get<double>();
}

bool boolean(const json& object, const char* key)
{
    const json* value = member(object, key, true);
    if (!value->is_boolean()) {
        wrongType(key, "true or false");
    }
    return value->get<bool>();
}

} // namespace

std::string_view name(GenerationMode mode)
{
    switch (mode) {
    case GenerationMode::contrastiveSearch: return "contrastiveSearch";
    case GenerationMode::greedy: return "greedy";
    case GenerationMode::sample: return "sample";
    case GenerationMode::beam: return "beam";
    case GenerationMode::groupBeam: return "groupBeam";
    case GenerationMode::unsupported: return "unsupported";
    }
    return "unsupported";
}

GenerationConfig GenerationConfig::fromJson(const json& object)
{
    if (!object.is_object()) {
        throw std::invalid_argument("generation configuration: not a JSON object");
    }
    GenerationConfig config(*integer(object, "maxNewTokens", true));
    config.maxLength = *integer(object, "maxLength", true);
    config.doSample = boolean(object, "doSample");
    config.numBeams = *integer(object, "numBeams", true);
    config.numBeamGroups = *integer(object, "numBeamGroups", true);
    config.penaltyAlpha = number(object, "penaltyAlpha", false);
    config.temperature = *number(object, "temperature", true);
    config.topK = *integer(object, "topK", true);
    config.topP = *number(object, "topP", true);
    config.repetitionPenalty = *number(object, "repetitionPenalty", true);
    config.padTokenId = integer(object, "padTokenId", false);
    config.bosTokenId = integer(object, "bosTokenId", false);
    config.eosTokenId = integer(object, "eosTokenId", false);
    return config;
}

GenerationMode GenerationConfig::generationMode() const
{
    if (topK > 1 && !doSample && penaltyAlpha && *penaltyAlpha > 0) {
        return GenerationMode::contrastiveSearch;
    }
    if (!doSample && numBeams == 1 && numBeamGroups == 1) {
        return GenerationMode::greedy;
    }
    if (doSample && numBeams == 1 && numBeamGroups == 1) {
        return GenerationMode::sample;
    }
    if (!doSample && numBeams > 1 && numBeamGroups == 1) {
        return GenerationMode::beam;
    }
    if (numBeams > 1 && numBeamGroups > 1) {
        return GenerationMode::groupBeam;
    }
    return GenerationMode::unsupported;
}

} // namespace generation
