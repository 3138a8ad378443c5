#pragma once

#include "Auris/Models/ShapedArray.hpp"
#include "platform/ml/FeatureProvider.hpp"

#include <cstdint>
#include <memory>

namespace auris {

// Input of the cache-prefill model: the task flag and the language token.
class TextDecoderCachePrefillInput final : public ml::FeatureProvider {
public:
    ml::MultiArray task;
    ml::MultiArray language;

    TextDecoderCachePrefillInput(ml::MultiArray task, ml::MultiArray language);
    TextDecoderCachePrefillInput(const ShapedArray<std::int32_t>& task, const ShapedArray<std::int32_t>& language);

    std::vector<std::string> featureNames() const override;
    std::optional<ml::MultiArray> featureValue(const std::string& name) const override;
};

// Output of the cache-prefill model: key and value cache positions of the prompt.
class TextDecoderCachePrefillOutput final : public ml::FeatureProvider {
public:
    std::shared_ptr<const ml::FeatureProvider> provider;

    TextDecoderCachePrefillOutput(ml::MultiArray key_cache_prefill, ml::MultiArray value_cache_prefill);
    explicit TextDecoderCachePrefillOutput(std::shared_ptr<const ml::FeatureProvider> features);
    explicit TextDecoderCachePrefillOutput(ml::DictionaryFeatureProvider features);

    ml::MultiArray key_cache_prefill() const;
    ShapedArray<ml::Float16> key_cache_prefillShapedArray() const;
    ml::MultiArray value_cache_prefill() const;
    ShapedArray<ml::Float16> value_cache_prefillShapedArray() const;

    std::vector<std::string> featureNames() const override;
    std::optional<ml::MultiArray> featureValue(const std::string& name) const override;
};

} // namespace auris
