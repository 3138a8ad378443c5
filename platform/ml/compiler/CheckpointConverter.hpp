#pragma once

#include "platform/ml/MultiArrayDataType.hpp"
#include "platform/ml/compiler/SafetensorsCheckpoint.hpp"
#include "platform/ml/compiler/WhisperModelSet.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace ml {

// Compiles a Whisper checkpoint in safetensors form (one file, or the index of a sharded one) into a
// model folder set. Both usual naming schemes are understood: the hub's
// ("model.encoder.layers.0.self_attn.q_proj.weight", with or without the "model." prefix) and the
// original release's ("encoder.blocks.0.attn.query.weight"). The dimensions come from the tensors;
// a "config.json" that says otherwise, a missing or mis-shaped tensor, or a tensor that is not
// float32, float16 or bfloat16 is refused on construction, before anything is written.
class CheckpointConverter {
public:
    struct Options {
        MultiArrayDataType storage = MultiArrayDataType::float16;
        // Head counts; absent: read from the configuration, else width / 64 as in every Whisper size.
        std::optional<int> audioHeads;
        std::optional<int> textHeads;
        int cacheLength = 224;
        // Absent: the generation configuration's "alignment_heads" that lie inside the model, else
        // every head of the upper half of the text layers.
        std::optional<std::vector<std::pair<int, int>>> alignmentHeads;
        // "config.json" and "generation_config.json" beside the checkpoint are read when present.
        std::optional<std::filesystem::path> configFile;
        std::optional<std::filesystem::path> generationConfigFile;
    };

    CheckpointConverter(const std::filesystem::path& checkpoint, Options options);

    // The model's dimensions as found in the checkpoint and configuration.
    const WhisperShape& shape() const { return shape_; }
    // Writes the three model folders into `directory`, tensor by tensor.
    void write(const std::filesystem::path& directory, const WriteProgress& progress = {}) const;

private:
    void checkAgainstConfiguration(const nlohmann::json& config, const std::filesystem::path& file) const;
    void checkTensors() const;
    std::vector<float> tensor(const TensorSpec& wanted) const;
    const std::string& sourceName(const std::string& name) const;

    SafetensorsCheckpoint file_;
    Options options_;
    WhisperShape shape_;
    std::map<std::string, std::string> names_; // "encoder.conv1.weight" -> checkpoint name
};

} // namespace ml
