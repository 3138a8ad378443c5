#include "platform/ml/compiler/WhisperModelSet.hpp"

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

// Counts written elements across the models of one set.
class ElementCounter {
public:
    ElementCounter(std::size_t total, const WriteProgress& progress)
        : total_(total)
        , progress_(progress)
    {
    }
    void add(std::size_t count)
    {
        written_ += count;
        if (progress_) {
            progress_(total_ == 0 ? 1.0 : static_cast<double>(written_) / static_cast<double>(total_));
        }
    }

private:
    std::size_t total_;
    std::size_t written_ = 0;
    const WriteProgress& progress_;
};

std::size_t elementsOf(const std::vector<TensorSpec>& layout)
{
    std::size_t count = 0;
    for (const auto& tensor : layout) {
        count += tensor.elementCount();
    }
    return count;
}

void addTensors(ModelFolderWriter& writer, const std::string& model, const std::vector<TensorSpec>& layout,
    MultiArrayDataType storage, const TensorSource& source, ElementCounter& counter)
{
    for (const auto& wanted : layout) {
        std::vector<float> values = source({model + "." + wanted.name, wanted.shape});
        const std::size_t count = wanted.elementCount();
        if (values.size() != count) {
            throw ModelError("tensor \"" + wanted.name + "\": the source gave " + std::to_string(values.size())
                + " values for " + std::to_string(count) + " elements");
        }
        writer.addTensor(wanted.name, wanted.shape, values, storage);
        counter.add(count);
    }
}

void checkStorage(MultiArrayDataType storage)
{
    if (storage != MultiArrayDataType::float16 && storage != MultiArrayDataType::float32) {
        throw std::invalid_argument("weights are stored as float16 or float32");
    }
}

} // namespace

std::size_t TensorSpec::elementCount() const
{
    std::size_t count = 1;
    for (int dimension : shape) {
        count *= static_cast<std::size_t>(dimension);
    }
    return count;
}

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

std::vector<TensorSpec> WhisperModelSet::qualifiedTensors(const WhisperShape& shape)
{
    std::vector<TensorSpec> tensors;
    for (const auto& [model, layout] : {std::pair {"encoder.", encoderTensors(shape)}, std::pair {"decoder.", decoderTensors(shape)}}) {
        for (const auto& tensor : layout) {
            tensors.push_back({model + tensor.name, tensor.shape});
        }
    }
    return tensors;
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
    MultiArrayDataType storage, const TensorSource& source, const WriteProgress& progress)
{
    shape.validate();
    checkStorage(storage);
    const auto layout = encoderTensors(shape);
    ElementCounter counter(elementsOf(layout), progress);
    ModelDescription description;
    description.inputs.push_back({"melspectrogram_features", storage, {1, shape.melCount, 1, shape.melFrames()}});
    description.outputs.push_back({"encoder_output_embeds", storage, {1, shape.width, 1, shape.audioFrames()}});
    ModelFolderWriter writer(folder, "whisper.audioEncoder",
        {{"melCount", shape.melCount}, {"width", shape.width}, {"layers", shape.audioLayers}, {"heads", shape.audioHeads}},
        description);
    addTensors(writer, "encoder", layout, storage, source, counter);
    writer.finish();
}

void WhisperModelSet::writeTextDecoder(const std::filesystem::path& folder, const WhisperShape& shape,
    MultiArrayDataType storage, const TensorSource& source, const WriteProgress& progress)
{
    shape.validate();
    checkStorage(storage);
    const auto layout = decoderTensors(shape);
    ElementCounter counter(elementsOf(layout), progress);
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
    ModelFolderWriter writer(folder, "whisper.textDecoder", parameters, description);
    addTensors(writer, "decoder", layout, storage, source, counter);
    writer.finish();
}

void WhisperModelSet::write(const std::filesystem::path& directory, const WhisperShape& shape, MultiArrayDataType storage,
    const TensorSource& source, const WriteProgress& progress)
{
    const double encoderElements = static_cast<double>(elementsOf(encoderTensors(shape)));
    const double total = encoderElements + static_cast<double>(elementsOf(decoderTensors(shape)));
    const double encoderShare = total > 0 ? encoderElements / total : 0.5;
    WriteProgress encoderProgress;
    WriteProgress decoderProgress;
    if (progress) {
        encoderProgress = [&](double fraction) { progress(encoderShare * fraction); };
        decoderProgress = [&](double fraction) { progress(encoderShare + (1 - encoderShare) * fraction); };
    }
    writeMelSpectrogram(directory / melFolderName, shape, storage);
    writeAudioEncoder(directory / encoderFolderName, shape, storage, source, encoderProgress);
    writeTextDecoder(directory / decoderFolderName, shape, storage, source, decoderProgress);
}

} // namespace ml
