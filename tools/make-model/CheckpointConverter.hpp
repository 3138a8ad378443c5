#pragma once

#include "platform/ml/MultiArrayDataType.hpp"
#include "tools/make-model/SafetensorsFile.hpp"
#include "tools/make-model/WhisperModelSet.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace ml {

// Turns a Whisper checkpoint in safetensors form into a model folder set. Both usual naming schemes
// are understood: the hub's ("model.encoder.layers.0.self_attn.q_proj.weight", with or without the
// "model." prefix) and the original release's ("encoder.blocks.0.attn.query.weight").
class CheckpointConverter {
public:
    struct Options {
        MultiArrayDataType storage = MultiArrayDataType::float16;
        // Head counts; absent: read from the configuration, else width / 64 as in every Whisper size.
        std::optional<int> audioHeads;
        std::optional<int> textHeads;
        int cacheLength = 224;
        // Absent: the configuration's "alignment_heads", else the upper half of the text layers.
        std::optional<std::vector<std::pair<int, int>>> alignmentHeads;
        // "config.json" and "generation_config.json" beside the checkpoint are read when present.
        std::optional<std::filesystem::path> configFile;
        std::optional<std::filesystem::path> generationConfigFile;
    };

    CheckpointConverter(const std::filesystem::path& checkpoint, Options options);

    // The model's dimensions as found in the checkpoint and configuration.
    const WhisperShape& shape() const { return shape_; }
    // Writes the three model folders into `directory`; throws on a missing or mis-shaped tensor.
    void write(const std::filesystem::path& directory) const;

private:
    std::vector<float> tensor(const TensorSpec& wanted) const;
    const std::string& sourceName(const std::string& name) const;

    SafetensorsFile file_;
    Options options_;
    WhisperShape shape_;
    std::map<std::string, std::string> names_; // "encoder.conv1.weight" -> checkpoint name
};

} // namespace ml
