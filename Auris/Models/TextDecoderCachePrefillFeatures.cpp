#include "Auris/Models/TextDecoderCachePrefillFeatures.hpp"

#include "Auris/Models/ModelOutputs.hpp"

namespace auris {

TextDecoderCachePrefillInput::TextDecoderCachePrefillInput(ml::MultiArray task, ml::MultiArray language)
    : task(std::move(task))
    , language(std::move(language))
{
}

TextDecoderCachePrefillInput::TextDecoderCachePrefillInput(
    const ShapedArray<std::int32_t>& task, const ShapedArray<std::int32_t>& language)
    : TextDecoderCachePrefillInput(task.multiArray(), language.multiArray())
{
}

std::vector<std::string> TextDecoderCachePrefillInput::featureNames() const { return {"task", "language"}; }

std::optional<ml::MultiArray> TextDecoderCachePrefillInput::featureValue(const std::string& name) const
{
    if (name == "task") return task;
    if (name == "language") return language;
    return std::nullopt;
}

TextDecoderCachePrefillOutput::TextDecoderCachePrefillOutput(
    ml::MultiArray key_cache_prefill, ml::MultiArray value_cache_prefill)
    : provider(std::make_shared<ml::DictionaryFeatureProvider>(std::map<std::string, ml::MultiArray> {
          {"key_cache_prefill", std::move(key_cache_prefill)},
          {"value_cache_prefill", std::move(value_cache_prefill)},
      }))
{
}

TextDecoderCachePrefillOutput::TextDecoderCachePrefillOutput(std::shared_ptr<const ml::FeatureProvider> features)
    : provider(std::move(features))
{
}

TextDecoderCachePrefillOutput::TextDecoderCachePrefillOutput(ml::DictionaryFeatureProvider features)
    : provider(std::make_shared<ml::DictionaryFeatureProvider>(std::move(features)))
{
}

ml::MultiArray TextDecoderCachePrefillOutput::key_cache_prefill() const
{
    return requiredModelOutput(provider, "key_cache_prefill");
}

ShapedArray<ml::Float16> TextDecoderCachePrefillOutput::key_cache_prefillShapedArray() const
{
    return ShapedArray<ml::Float16>(key_cache_prefill());
}

ml::MultiArray TextDecoderCachePrefillOutput::value_cache_prefill() const
{
    return requiredModelOutput(provider, "value_cache_prefill");
}

ShapedArray<ml::Float16> TextDecoderCachePrefillOutput::value_cache_prefillShapedArray() const
{
    return ShapedArray<ml::Float16>(value_cache_prefill());
}

std::vector<std::string> TextDecoderCachePrefillOutput::featureNames() const { return providerFeatureNames(provider); }

std::optional<ml::MultiArray> TextDecoderCachePrefillOutput::featureValue(const std::string& name) const
{
    return optionalModelOutput(provider, name);
}

} // namespace auris
