#include "Auris/Engine/ModelSupport.hpp"

#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/SystemFacts.hpp"

#include <algorithm>

namespace auris {

namespace {

const std::vector<std::string>& listA()
{
    static const std::vector<std::string> names {"openai_whisper-small", "openai_whisper-small.en",
        "openai_whisper-large-v2", "openai_whisper-large-v2_949MB", "openai_whisper-large-v2_turbo",
        "openai_whisper-large-v2_turbo_955MB", "openai_whisper-large-v3", "openai_whisper-large-v3_947MB",
        "openai_whisper-large-v3_turbo", "openai_whisper-large-v3_turbo_954MB", "distil-whisper_distil-large-v3",
        "distil-whisper_distil-large-v3_594MB", "distil-whisper_distil-large-v3_turbo_600MB",
        "distil-whisper_distil-large-v3_turbo"};
    return names;
}

const std::vector<std::string>& listB()
{
    static const std::vector<std::string> names {"openai_whisper-large-v2", "openai_whisper-large-v2_turbo",
        "openai_whisper-large-v2_turbo_955MB", "openai_whisper-large-v3", "openai_whisper-large-v3_turbo",
        "openai_whisper-large-v3_turbo_954MB", "distil-whisper_distil-large-v3_turbo_600MB",
        "distil-whisper_distil-large-v3_turbo"};
    return names;
}

const std::vector<std::string>& listC()
{
    static const std::vector<std::string> names {"openai_whisper-large-v2", "openai_whisper-large-v2_turbo",
        "openai_whisper-large-v3", "openai_whisper-large-v3_turbo"};
    return names;
}

const std::vector<std::string>& listD()
{
    static const std::vector<std::string> names {"openai_whisper-large-v2_turbo", "openai_whisper-large-v2_turbo_955MB",
        "openai_whisper-large-v3_turbo", "openai_whisper-large-v3_turbo_954MB",
        "distil-whisper_distil-large-v3_turbo_600MB", "distil-whisper_distil-large-v3_turbo"};
    return names;
}

bool startsWithAny(const std::string& name, std::initializer_list<const char*> prefixes)
{
    for (const char* prefix : prefixes) {
        if (name.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

} // namespace

ModelSupport modelSupport(const std::string& deviceName)
{
    // The brand text is read (once, lazily) only where a rule needs it.
    if (deviceName.starts_with("arm64")) {
        return modelSupport(deviceName, SystemFacts::processor());
    }
    return modelSupport(deviceName, "");
}

ModelSupport modelSupport(const std::string& deviceName, const std::string& processorBrand)
{
    ModelSupport support {"openai_whisper-base", {}};
    if (startsWithAny(deviceName, {"iPhone11", "iPhone12", "Watch7"})) {
        support.disabled = listA();
    } else if (deviceName.starts_with("iPhone13")) {
        support.disabled = listB();
    } else if (startsWithAny(deviceName, {"iPhone14", "iPhone15", "iPhone16"})) {
        support.disabled = listC();
    } else if (deviceName.starts_with("arm64")) {
        if (processorBrand.find("Apple M1") != std::string::npos) {
            support.disabled = listD();
        }
    } else {
        support.disabled = {""};
    }
    return support;
}

ModelVariant detectModelVariant(int logitsDim, int encoderDim)
{
    switch (logitsDim) {
    case 51864:
        switch (encoderDim) {
        case 384: return ModelVariant::tinyEn;
        case 512: return ModelVariant::baseEn;
        case 768: return ModelVariant::smallEn;
        case 1024: return ModelVariant::mediumEn;
        default: return ModelVariant::baseEn;
        }
    case 51865:
        switch (encoderDim) {
        case 384: return ModelVariant::tiny;
        case 512: return ModelVariant::base;
        case 768: return ModelVariant::small;
        case 1024: return ModelVariant::medium;
        case 1280: return ModelVariant::largev2;
        default: return ModelVariant::base;
        }
    case 51866: return ModelVariant::largev3;
    default:
        Logging::error("Unrecognized vocabulary size: " + std::to_string(logitsDim) + ", defaulting to base variant");
        return ModelVariant::base;
    }
}

std::string tokenizerRepositoryName(ModelVariant variant)
{
    return "openai/whisper-" + description(variant);
}

std::optional<std::string> checkpointRepositoryName(const std::string& modelName)
{
    auto withoutPrefix = [&](std::initializer_list<const char*> prefixes) {
        for (const char* prefix : prefixes) {
            if (modelName.starts_with(prefix)) {
                return modelName.substr(std::char_traits<char>::length(prefix));
            }
        }
        return modelName;
    };
    if (const std::string distilled = withoutPrefix({"distil-whisper_", "distil-whisper/"}); distilled == "distil-large-v3") {
        return "distil-whisper/" + distilled;
    }
    std::string size = withoutPrefix({"openai_whisper-", "openai/whisper-", "whisper-"});
    if (size == "large-v3_turbo") {
        size = "large-v3-turbo";
    }
    for (const ModelVariant variant : allModelVariants) {
        if (size == description(variant)) {
            return "openai/whisper-" + size;
        }
    }
    if (size == "large-v3-turbo") {
        return "openai/whisper-" + size;
    }
    return std::nullopt;
}

std::string compiledModelFolderName(const std::string& checkpointRepository)
{
    std::string name = checkpointRepository;
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

} // namespace auris
