#pragma once

#include "Auris/Models/ShapedArray.hpp"
#include "platform/ml/FeatureProvider.hpp"

#include <cstdint>
#include <memory>

namespace auris {

// Input of one text-decoder step.
class TextDecoderInput final : public ml::FeatureProvider {
public:
    ml::MultiArray input_ids;
    ml::MultiArray cache_length;
    ml::MultiArray key_cache;
    ml::MultiArray value_cache;
    ml::MultiArray kv_cache_update_mask;
    ml::MultiArray encoder_output_embeds;
    ml::MultiArray decoder_key_padding_mask;

    TextDecoderInput(ml::MultiArray input_ids, ml::MultiArray cache_length, ml::MultiArray key_cache,
        ml::MultiArray value_cache, ml::MultiArray kv_cache_update_mask, ml::MultiArray encoder_output_embeds,
        ml::MultiArray decoder_key_padding_mask);
    TextDecoderInput(const ShapedArray<std::int32_t>& input_ids, const ShapedArray<std::int32_t>& cache_length,
        const ShapedArray<float>& key_cache, const ShapedArray<float>& value_cache,
        const ShapedArray<float>& kv_cache_update_mask, const ShapedArray<float>& encoder_output_embeds,
        const ShapedArray<float>& decoder_key_padding_mask);

    std::vector<std::string> featureNames() const override;
    std::optional<ml::MultiArray> featureValue(const std::string& name) const override;
};

// Output of one text-decoder step; "alignment_heads_weights" is optional.
class TextDecoderOutput final : public ml::FeatureProvider {
public:
    std::shared_ptr<const ml::FeatureProvider> provider;

    // `logits_argmax` is accepted and not kept.
    TextDecoderOutput(ml::MultiArray logits, ml::MultiArray key_cache_updates, ml::MultiArray value_cache_updates,
        ml::MultiArray logits_argmax);
    explicit TextDecoderOutput(std::shared_ptr<const ml::FeatureProvider> features);
    explicit TextDecoderOutput(ml::DictionaryFeatureProvider features);

    ml::MultiArray logits() const;
    ShapedArray<ml::Float16> logitsShapedArray() const;
    ml::MultiArray key_cache_updates() const;
    ShapedArray<ml::Float16> key_cache_updatesShapedArray() const;
    ml::MultiArray value_cache_updates() const;
    ShapedArray<ml::Float16> value_cache_updatesShapedArray() const;
    std::optional<ml::MultiArray> alignment_heads_weights() const;
    std::optional<ShapedArray<ml::Float16>> alignment_heads_weightsShapedArray() const;

    std::vector<std::string> featureNames() const override;
    std::optional<ml::MultiArray> featureValue(const std::string& name) const override;
};

} // namespace auris
