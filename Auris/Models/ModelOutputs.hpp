#pragma once

#include "platform/ml/FeatureProvider.hpp"

#include <memory>
#include <optional>
#include <string>

namespace auris {

// Reads a model output that the engine cannot do without; a model lacking it does not fit the
// engine and gives WhisperError::modelsUnavailable naming the output.
ml::MultiArray requiredModelOutput(const std::shared_ptr<const ml::FeatureProvider>& provider, const std::string& name);

std::optional<ml::MultiArray> optionalModelOutput(
    const std::shared_ptr<const ml::FeatureProvider>& provider, const std::string& name);

std::vector<std::string> providerFeatureNames(const std::shared_ptr<const ml::FeatureProvider>& provider);

} // namespace auris
