#pragma once

#include "platform/ml/MultiArrayDataType.hpp"
#include "tools/make-model/WhisperShape.hpp"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ml {

// One weight tensor a Whisper model folder holds.
struct TensorSpec {
    std::string name;
    std::vector<int> shape;
};

// Gives the values (row-major floats, as many as the shape holds) of a tensor. The writers ask for
// "encoder." or "decoder." followed by the tensor's name in its folder.
using TensorSource = std::function<std::vector<float>(const TensorSpec& tensor)>;

// Writes the model folders of one Whisper model: "MelSpectrogram.mlmodelc", "AudioEncoder.mlmodelc"
// and "TextDecoder.mlmodelc". Weights are stored as `storage` (float16 or float32); the mel and
// encoder outputs use the same element type, logits and alignment weights are float32.
class WhisperModelSet {
public:
    static constexpr const char* melFolderName = "MelSpectrogram.mlmodelc";
    static constexpr const char* encoderFolderName = "AudioEncoder.mlmodelc";
    static constexpr const char* decoderFolderName = "TextDecoder.mlmodelc";

    // The tensors of each model, in the order they are written.
    static std::vector<TensorSpec> encoderTensors(const WhisperShape& shape);
    static std::vector<TensorSpec> decoderTensors(const WhisperShape& shape);

    // Encoder positions as Whisper makes them: sines then cosines over geometric timescales.
    static std::vector<float> sinusoids(int length, int channels);

    static void writeMelSpectrogram(const std::filesystem::path& folder, const WhisperShape& shape, MultiArrayDataType storage);
    static void writeAudioEncoder(const std::filesystem::path& folder, const WhisperShape& shape, MultiArrayDataType storage,
        const TensorSource& source);
    static void writeTextDecoder(const std::filesystem::path& folder, const WhisperShape& shape, MultiArrayDataType storage,
        const TensorSource& source);
    // All three into `directory`.
    static void write(const std::filesystem::path& directory, const WhisperShape& shape, MultiArrayDataType storage,
        const TensorSource& source);
};

// Seeded random weights that keep activations in a sane range: linear and convolution weights of
// variance 1 / fan-in, norms near 1, small biases, sinusoidal encoder positions. The same seed
// gives the same values for a tensor of the same name and shape on every machine.
TensorSource randomWhisperWeights(std::uint64_t seed);

} // namespace ml
