#include "Auris/Models/TextDecoderFeatures.hpp"

#include "Auris/Models/ModelOutputs.hpp"

namespace auris {

TextDecoderInput::TextDecoderInput(ml::MultiArray input_ids, ml::MultiArray cache_length, ml::MultiArray key_cache,
    ml::MultiArray value_cache, ml::MultiArray kv_cache_update_mask, ml::MultiArray encoder_output_embeds,
    ml::MultiArray decoder_key_padding_mask)
    : input_ids(std::move(input_ids))
    , cache_length(std::move(cache_length))
    , key_cache(std::move(key_cache))
    , value_cache(std::move(value_cache))
    , kv_cache_update_mask(std::move(kv_cache_update_mask))
    , encoder_output_embeds(std::move(encoder_output_embeds))
    , decoder_key_padding_mask(std::move(decoder_key_padding_mask))
{
}

TextDecoderInput::TextDecoderInput(const ShapedArray<std::int32_t>& input_ids,
    const ShapedArray<std::int32_t>& cache_length, const ShapedArray<float>& key_cache,
    const ShapedArray<float>& value_cache, const ShapedArray<float>& kv_cache_update_mask,
    const ShapedArray<float>& encoder_output_embeds, const ShapedArray<float>& decoder_key_padding_mask)
    : TextDecoderInput(input_ids.multiArray(), cache_length.multiArray(), key_cache.multiArray(),
          value_cache.multiArray(), kv_cache_update_mask.multiArray(), encoder_output_embeds.multiArray(),
          decoder_key_padding_mask.multiArray())
{
}

std::vector<std::string> TextDecoderInput::featureNames() const
{
    return {"input_ids", "cache_length", "key_cache", "value_cache", "kv_cache_update_mask", "encoder_output_embeds",
        "decoder_key_padding_mask"};
}

std::optional<ml::MultiArray> TextDecoderInput::featureValue(const std::string& name) const
{
    if (name == "input_ids") return input_ids;
    if (name == "cache_length") return cache_length;
    if (name == "key_cache") return key_cache;
    if (name == "value_cache") return value_cache;
    if (name == "kv_cache_update_mask") return kv_cache_update_mask;
    if (name == "encoder_output_embeds") return encoder_output_embeds;
    if (name == "decoder_key_padding_mask") return decoder_key_padding_mask;
    return std::nullopt;
}

TextDecoderOutput::TextDecoderOutput(ml::MultiArray logits, ml::MultiArray key_cache_updates,
    ml::MultiArray value_cache_updates, ml::MultiArray /*logits_argmax*/)
    : provider(std::make_shared<ml::DictionaryFeatureProvider>(std::map<std::string, ml::MultiArray> {
          {"logits", std::move(logits)},
          {"key_cache_updates", std::move(key_cache_updates)},
          {"value_cache_updates", std::move(value_cache_updates)},
      }))
{
}

TextDecoderOutput::TextDecoderOutput(std::shared_ptr<const ml::FeatureProvider> features)
    : provider(std::move(features))
{
}

TextDecoderOutput::TextDecoderOutput(ml::DictionaryFeatureProvider features)
    : provider(std::make_shared<ml::DictionaryFeatureProvider>(std::move(features)))
{
}

ml::MultiArray TextDecoderOutput::logits() const { return requiredModelOutput(provider, "logits"); }

ShapedArray<ml::Float16> TextDecoderOutput::logitsShapedArray() const { return ShapedArray<ml::Float16>(logits()); }

ml::MultiArray TextDecoderOutput::key_cache_updates() const
{
    return requiredModelOutput(provider, "key_cache_updates");
}

ShapedArray<ml::Float16> TextDecoderOutput::key_cache_updatesShapedArray() const
{
    return ShapedArray<ml::Float16>(key_cache_updates());
}

ml::MultiArray TextDecoderOutput::value_cache_updates() const
{
    return requiredModelOutput(provider, "value_cache_updates");
}

ShapedArray<ml::Float16> TextDecoderOutput::value_cache_updatesShapedArray() const
{
    return ShapedArray<ml::Float16>(value_cache_updates());
}

std::optional<ml::MultiArray> TextDecoderOutput::alignment_heads_weights() const
{
    return optionalModelOutput(provider, "alignment_heads_weights");
}

std::optional<ShapedArray<ml::Float16>> TextDecoderOutput::alignment_heads_weightsShapedArray() const
{
    auto weights = alignment_heads_weights();
    if (!weights) {
        return std::nullopt;
    }
    return ShapedArray<ml::Float16>(*weights);
}

std::vector<std::string> TextDecoderOutput::featureNames() const { return providerFeatureNames(provider); }

std::optional<ml::MultiArray> TextDecoderOutput::featureValue(const std::string& name) const
{
    return optionalModelOutput(provider, name);
}

} // namespace auris
