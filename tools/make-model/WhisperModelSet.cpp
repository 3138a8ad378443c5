#include "tools/make-model/WhisperModelSet.hpp"

#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"

#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace ml {

namespace {

void addLinear(std::vector<TensorSpec>& layout, const std::string& prefix, int outputs, int inputs, bool hasBias)
{
    layout.push_back({prefix + ".weight", {outputs, inputs}});
    if (hasBias) {
        layout.push_back({prefix + ".bias", {outputs}});
    }
}

void addNorm(std::vector<TensorSpec>& layout, const std::string& prefix, int width)
{
    layout.push_back({prefix + ".weight", {width}});
    layout.push_back({prefix + ".bias", {width}});
}

void addAttention(std::vector<TensorSpec>& layout, const std::string& prefix, int width)
{
    addLinear(layout, prefix + ".query", width, width, true);
    addLinear(layout, prefix + ".key", width, width, false);
    addLinear(layout, prefix + ".value", width, width, true);
    addLinear(layout, prefix + ".output", width, width, true);
}

void addMlp(std::vector<TensorSpec>& layout, const std::string& prefix, int width)
{
    addLinear(layout, prefix + ".fc1", 4 * width, width, true);
    addLinear(layout, prefix + ".fc2", width, 4 * width, true);
}

void addTensors(ModelFolderWriter& writer, const std::string& model, const std::vector<TensorSpec>& layout,
    MultiArrayDataType storage, const TensorSource& source)
{
    for (const auto& wanted : layout) {
        std::vector<float> values = source({model + "." + wanted.name, wanted.shape});
        std::size_t count = 1;
        for (int dimension : wanted.shape) {
            count *= static_cast<std::size_t>(dimension);
        }
        if (values.size() != count) {
            throw ModelError("tensor \"" + wanted.name + "\": the source gave " + std::to_string(values.size())
                + " values for " + std::to_string(count) + " elements");
        }
        writer.addTensor(wanted.name, wanted.shape, values, storage);
    }
}

void checkStorage(MultiArrayDataType storage)
{
    if (storage != MultiArrayDataType::float16 && storage != MultiArrayDataType::float32) {
        throw std::invalid_argument("weights are stored as float16 or float32");
    }
}

// SplitMix64: tiny, fast and the same everywhere.
class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in [-1, 1).
    float symmetric() { return static_cast<float>(static_cast<double>(next() >> 11) * 0x1.0p-52 - 1.0); }

private:
    std::uint64_t state_;
};

std::uint64_t nameHash(const std::string& name)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : name) {
        hash = (hash ^ c) * 0x100000001b3ull;
    }
    return hash;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

std::vector<TensorSpec> WhisperModelSet::encoderTensors(const WhisperShape& shape)
{
    std::vector<TensorSpec> layout;
    const int d = shape.width;
    layout.push_back({"conv1.weight", {d, shape.melCount, 3}});
    layout.push_back({"conv1.bias", {d}});
    layout.push_back({"conv2.weight", {d, d, 3}});
    layout.push_back({"conv2.bias", {d}});
    layout.push_back({"positional_embedding", {shape.audioFrames(), d}});
    for (int i = 0; i < shape.audioLayers; ++i) {
        const std::string prefix = "layers." + std::to_string(i);
        addNorm(layout, prefix + ".attention_norm", d);
        addAttention(layout, prefix + ".attention", d);
        addNorm(layout, prefix + ".mlp_norm", d);
        addMlp(layout, prefix + ".mlp", d);
    }
    addNorm(layout, "final_norm", d);
    return layout;
}

std::vector<TensorSpec> WhisperModelSet::decoderTensors(const WhisperShape& shape)
{
    std::vector<TensorSpec> layout;
    const int d = shape.width;
    layout.push_back({"token_embedding.weight", {shape.vocabularySize, d}});
    layout.push_back({"positional_embedding", {shape.textContext, d}});
    for (int i = 0; i < shape.textLayers; ++i) {
        const std::string prefix = "layers." + std::to_string(i);
        addNorm(layout, prefix + ".self_attention_norm", d);
        addAttention(layout, prefix + ".self_attention", d);
        addNorm(layout, prefix + ".cross_attention_norm", d);
        addAttention(layout, prefix + ".cross_attention", d);
        addNorm(layout, prefix + ".mlp_norm", d);
        addMlp(layout, prefix + ".mlp", d);
    }
    addNorm(layout, "final_norm", d);
    return layout;
}

std::vector<float> WhisperModelSet::sinusoids(int length, int channels)
{
    std::vector<float> table(static_cast<std::size_t>(length) * static_cast<std::size_t>(channels), 0.0f);
    const int half = channels / 2;
    const double increment = half > 1 ? std::log(10000.0) / (half - 1) : 0.0;
    for (int t = 0; t < length; ++t) {
        for (int i = 0; i < half; ++i) {
            const double angle = t * std::exp(-increment * i);
            table[static_cast<std::size_t>(t) * channels + i] = static_cast<float>(std::sin(angle));
            table[static_cast<std::size_t>(t) * channels + half + i] = static_cast<float>(std::cos(angle));
        }
    }
    return table;
}

void WhisperModelSet::writeMelSpectrogram(const std::filesystem::path& folder, const WhisperShape& shape,
    MultiArrayDataType storage)
{
    shape.validate();
    checkStorage(storage);
    ModelDescription description;
    description.inputs.push_back({"audio", MultiArrayDataType::float32, {shape.audioSamples}});
    description.outputs.push_back({"melspectrogram_features", storage, {1, shape.melCount, 1, shape.melFrames()}});
    ModelFolderWriter writer("whisper.melSpectrogram", {{"melCount", shape.melCount}}, description);
    writer.write(folder);
}

void WhisperModelSet::writeAudioEncoder(const std::filesystem::path& folder, const WhisperShape& shape,
    MultiArrayDataType storage, const TensorSource& source)
{
    shape.validate();
    checkStorage(storage);
    ModelDescription description;
    description.inputs.push_back({"melspectrogram_features", storage, {1, shape.melCount, 1, shape.melFrames()}});
    description.outputs.push_back({"encoder_output_embeds", storage, {1, shape.width, 1, shape.audioFrames()}});
    ModelFolderWriter writer("whisper.audioEncoder",
        {{"melCount", shape.melCount}, {"width", shape.width}, {"layers", shape.audioLayers}, {"heads", shape.audioHeads}},
        description);
    addTensors(writer, "encoder", encoderTensors(shape), storage, source);
    writer.write(folder);
}

void WhisperModelSet::writeTextDecoder(const std::filesystem::path& folder, const WhisperShape& shape,
    MultiArrayDataType storage, const TensorSource& source)
{
    shape.validate();
    checkStorage(storage);
    const int cacheWidth = shape.textLayers * shape.width;
    const int s = shape.cacheLength;
    ModelDescription description;
    description.inputs.push_back({"input_ids", MultiArrayDataType::int32, {1}});
    description.inputs.push_back({"cache_length", MultiArrayDataType::int32, {1}});
    description.inputs.push_back({"key_cache", MultiArrayDataType::float16, {1, cacheWidth, 1, s}});
    description.inputs.push_back({"value_cache", MultiArrayDataType::float16, {1, cacheWidth, 1, s}});
    description.inputs.push_back({"kv_cache_update_mask", MultiArrayDataType::int32, {1, s}});
    description.inputs.push_back({"encoder_output_embeds", storage, {1, shape.width, 1, shape.audioFrames()}});
    description.inputs.push_back({"decoder_key_padding_mask", MultiArrayDataType::float16, {1, s}});
    description.outputs.push_back({"logits", MultiArrayDataType::float32, {1, 1, shape.vocabularySize}});
    description.outputs.push_back({"key_cache_updates", MultiArrayDataType::float16, {1, cacheWidth, 1, 1}});
    description.outputs.push_back({"value_cache_updates", MultiArrayDataType::float16, {1, cacheWidth, 1, 1}});
    nlohmann::json parameters = {{"vocabularySize", shape.vocabularySize}, {"width", shape.width},
        {"layers", shape.textLayers}, {"heads", shape.textHeads}, {"textContext", shape.textContext}};
    const auto heads = shape.effectiveAlignmentHeads();
    if (!heads.empty()) {
        description.outputs.push_back({"alignment_heads_weights", MultiArrayDataType::float32, {1, shape.audioFrames()}});
        nlohmann::json pairs = nlohmann::json::array();
        for (const auto& [layer, head] : heads) {
            pairs.push_back({layer, head});
        }
        parameters["alignmentHeads"] = pairs;
    }
    ModelFolderWriter writer("whisper.textDecoder", parameters, description);
    addTensors(writer, "decoder", decoderTensors(shape), storage, source);
    writer.write(folder);
}

void WhisperModelSet::write(const std::filesystem::path& directory, const WhisperShape& shape, MultiArrayDataType storage,
    const TensorSource& source)
{
    writeMelSpectrogram(directory / melFolderName, shape, storage);
    writeAudioEncoder(directory / encoderFolderName, shape, storage, source);
    writeTextDecoder(directory / decoderFolderName, shape, storage, source);
}

TensorSource randomWhisperWeights(std::uint64_t seed)
{
    return [seed](const TensorSpec& tensor) {
        std::size_t count = 1;
        for (int dimension : tensor.shape) {
            count *= static_cast<std::size_t>(dimension);
        }
        if (tensor.name == "encoder.positional_embedding" && tensor.shape.size() == 2) {
            return WhisperModelSet::sinusoids(tensor.shape[0], tensor.shape[1]);
        }
        SplitMix random(seed ^ nameHash(tensor.name));
        float amplitude = 0.1f;
        float offset = 0.0f;
        if (endsWith(tensor.name, "norm.weight")) {
            offset = 1.0f;
        } else if (tensor.shape.size() >= 2) {
            std::size_t fanIn = count / static_cast<std::size_t>(tensor.shape[0]);
            amplitude = static_cast<float>(std::sqrt(3.0 / static_cast<double>(std::max<std::size_t>(fanIn, 1))));
        }
        std::vector<float> values(count);
        for (float& v : values) {
            v = offset + amplitude * random.symmetric();
        }
        return values;
    };
}

} // namespace ml
