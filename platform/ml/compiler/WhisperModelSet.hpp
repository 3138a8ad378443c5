#pragma once

#include "platform/ml/MultiArrayDataType.hpp"
#include "platform/ml/compiler/WhisperShape.hpp"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ml {

// One weight tensor a Whisper model folder holds.
struct TensorSpec {
    std::string name;
    std::vector<int> shape;

    std::size_t elementCount() const;
};

// Gives the values (row-major floats, as many as the shape holds) of a tensor. The writers ask for
// "encoder." or "decoder." followed by the tensor's name in its folder.
using TensorSource = std::function<std::vector<float>(const TensorSpec& tensor)>;

// Told the fraction (0...1) of the weight elements written so far, after each tensor.
using WriteProgress = std::function<void(double fraction)>;

// Writes the model folders of one Whisper model: "MelSpectrogram.mlmodelc", "AudioEncoder.mlmodelc"
// and "TextDecoder.mlmodelc". Weights are stored as `storage` (float16 or float32); the mel and
// encoder outputs use the same element type, logits and alignment weights are float32. Each tensor is
// asked for, converted and written to disk before the next, so a model is never held whole.
class WhisperModelSet {
public:
    static constexpr const char* melFolderName = "MelSpectrogram.mlmodelc";
    static constexpr const char* encoderFolderName = "AudioEncoder.mlmodelc";
    static constexpr const char* decoderFolderName = "TextDecoder.mlmodelc";

    // The tensors of each model, in the order they are written.
    static std::vector<TensorSpec> encoderTensors(const WhisperShape& shape);
    static std::vector<TensorSpec> decoderTensors(const WhisperShape& shape);
    // Both, named as a TensorSource is asked for them ("encoder.conv1.weight").
    static std::vector<TensorSpec> qualifiedTensors(const WhisperShape& shape);

    // Encoder positions as Whisper makes them: sines then cosines over geometric timescales.
    static std::vector<float> sinusoids(int length, int channels);

    static void writeMelSpectrogram(const std::filesystem::path& folder, const WhisperShape& shape, MultiArrayDataType storage);
    static void writeAudioEncoder(const std::filesystem::path& folder, const WhisperShape& shape, MultiArrayDataType storage,
        const TensorSource& source, const WriteProgress& progress = {});
    static void writeTextDecoder(const std::filesystem::path& folder, const WhisperShape& shape, MultiArrayDataType storage,
        const TensorSource& source, const WriteProgress& progress = {});
    // All three into `directory`.
    static void write(const std::filesystem::path& directory, const WhisperShape& shape, MultiArrayDataType storage,
        const TensorSource& source, const WriteProgress& progress = {});
};

} // namespace ml
