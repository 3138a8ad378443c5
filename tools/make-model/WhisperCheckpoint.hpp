#pragma once

#include "platform/ml/compiler/WhisperModelSet.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace ml {

// Whisper checkpoints as the hub publishes them ("model.safetensors", "config.json",
// "generation_config.json"), written from any tensor source; tests and benchmarks compile them.
class WhisperCheckpoint {
public:
    struct Tensor {
        std::string name;  // as stored in the file
        std::string dtype; // "F32", "F16" or "BF16"
        std::vector<int> shape;
    };
    using Values = std::function<std::vector<float>(const Tensor& tensor)>;

    // The header (offsets follow from the shapes), then each tensor's values in its element type,
    // one tensor at a time, so that a file larger than memory can be written.
    static void writeSafetensors(std::ostream& out, const std::vector<Tensor>& tensors, const Values& values);

    // The hub's name of a model-folder tensor: "encoder.layers.0.attention.query.weight" becomes
    // "model.encoder.layers.0.self_attn.q_proj.weight".
    static std::string hubName(const std::string& qualified);
    // Every tensor of the shape under its hub name, all of one element type.
    static std::vector<Tensor> hubTensors(const WhisperShape& shape, const std::string& dtype);
    static nlohmann::json hubConfig(const WhisperShape& shape);
    // Lists the shape's alignment heads, when it names any.
    static nlohmann::json hubGenerationConfig(const WhisperShape& shape);

    // The three files into `folder`, with values from `source` (asked for by model-folder name).
    static void write(const std::filesystem::path& folder, const WhisperShape& shape, const std::string& dtype,
        const TensorSource& source);
};

} // namespace ml
