#include "Auris/Models/ModelOutputs.hpp"

#include "Auris/Core/WhisperError.hpp"

namespace auris {

ml::MultiArray requiredModelOutput(const std::shared_ptr<const ml::FeatureProvider>& provider, const std::string& name)
{
    auto value = optionalModelOutput(provider, name);
    if (!value) {
        throw WhisperError::modelsUnavailable("Model output \"" + name + "\" is missing");
    }
    return *value;
}

std::optional<ml::MultiArray> optionalModelOutput(
    const std::shared_ptr<const ml::FeatureProvider>& provider, const std::string& name)
{
    if (!provider) {
        return std::nullopt;
    }
    auto value = provider->featureValue(name);
    if (!value || value->isEmpty()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string> providerFeatureNames(const std::shared_ptr<const ml::FeatureProvider>& provider)
{
    return provider ? provider->featureNames() : std::vector<std::string> {};
}

} // namespace auris
