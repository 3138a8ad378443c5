#include "tools/make-model/WhisperCheckpoint.hpp"

#include "platform/ml/Float16.hpp"

#include <bit>
#include <fstream>
#include <regex>
#include <stdexcept>

namespace ml {

namespace {

void appendValues(std::vector<char>& bytes, const std::string& dtype, const std::vector<float>& values)
{
    const std::size_t width = dtype == "F32" ? 4 : 2;
    bytes.resize(values.size() * width);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(values[i]);
        char* out = bytes.data() + i * width;
        if (width == 4) {
            for (int b = 0; b < 4; ++b) {
                out[b] = static_cast<char>((bits >> (8 * b)) & 0xff);
            }
        } else {
            const std::uint16_t half = dtype == "F16" ? Float16::fromFloat(values[i]) : static_cast<std::uint16_t>(bits >> 16);
            out[0] = static_cast<char>(half & 0xff);
            out[1] = static_cast<char>(half >> 8);
        }
    }
}

std::size_t elementWidth(const std::string& dtype)
{
    if (dtype == "F32" || dtype == "I32") return 4;
    if (dtype == "F16" || dtype == "BF16") return 2;
    throw std::invalid_argument("checkpoints are written as F32, F16 or BF16, not " + dtype);
}

} // namespace

void WhisperCheckpoint::writeSafetensors(std::ostream& out, const std::vector<Tensor>& tensors, const Values& values)
{
    nlohmann::json header = {{"__metadata__", {{"format", "pt"}}}};
    std::size_t offset = 0;
    for (const auto& tensor : tensors) {
        std::size_t count = 1;
        for (int dimension : tensor.shape) {
            count *= static_cast<std::size_t>(dimension);
        }
        const std::size_t end = offset + count * elementWidth(tensor.dtype);
        header[tensor.name] = {{"dtype", tensor.dtype}, {"shape", tensor.shape}, {"data_offsets", {offset, end}}};
        offset = end;
    }
    const std::string text = header.dump();
    for (int i = 0; i < 8; ++i) {
        out.put(static_cast<char>((static_cast<std::uint64_t>(text.size()) >> (8 * i)) & 0xff));
    }
    out << text;
    std::vector<char> bytes;
    for (const auto& tensor : tensors) {
        // I32 is written from the float values' bit patterns, for tests of refused element types.
        appendValues(bytes, tensor.dtype == "I32" ? "F32" : tensor.dtype, values(tensor));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (!out) {
        throw std::runtime_error("the checkpoint cannot be written");
    }
}

std::string WhisperCheckpoint::hubName(const std::string& qualified)
{
    static const std::vector<std::pair<std::regex, std::string>> rules = [] {
        std::vector<std::pair<std::regex, std::string>> list;
        for (const auto& [pattern, replacement] : std::vector<std::pair<const char*, const char*>> {
                 {R"(^encoder\.positional_embedding)", "encoder.embed_positions.weight"},
                 {R"(^decoder\.positional_embedding)", "decoder.embed_positions.weight"},
                 {R"(token_embedding)", "embed_tokens"},
                 {R"(\.attention_norm)", ".self_attn_layer_norm"},
                 {R"(\.self_attention_norm)", ".self_attn_layer_norm"},
                 {R"(\.cross_attention_norm)", ".encoder_attn_layer_norm"},
                 {R"(\.(self_)?attention\.)", ".self_attn."},
                 {R"(\.cross_attention\.)", ".encoder_attn."},
                 {R"(\.query\.)", ".q_proj."},
                 {R"(\.key\.)", ".k_proj."},
                 {R"(\.value\.)", ".v_proj."},
                 {R"(\.output\.)", ".out_proj."},
                 {R"(\.mlp_norm)", ".final_layer_norm"},
                 {R"(\.mlp\.)", "."},
                 {R"(final_norm)", "layer_norm"}}) {
            list.emplace_back(std::regex(pattern), replacement);
        }
        return list;
    }();
    std::string name = qualified;
    for (const auto& [pattern, replacement] : rules) {
        name = std::regex_replace(name, pattern, replacement);
    }
    return "model." + name;
}

std::vector<WhisperCheckpoint::Tensor> WhisperCheckpoint::hubTensors(const WhisperShape& shape, const std::string& dtype)
{
    std::vector<Tensor> tensors;
    for (const auto& wanted : WhisperModelSet::qualifiedTensors(shape)) {
        tensors.push_back({hubName(wanted.name), dtype, wanted.shape});
    }
    return tensors;
}

nlohmann::json WhisperCheckpoint::hubConfig(const WhisperShape& shape)
{
    return {{"model_type", "whisper"}, {"d_model", shape.width}, {"num_mel_bins", shape.melCount},
        {"vocab_size", shape.vocabularySize}, {"encoder_layers", shape.audioLayers}, {"decoder_layers", shape.textLayers},
        {"encoder_attention_heads", shape.audioHeads}, {"decoder_attention_heads", shape.textHeads},
        {"encoder_ffn_dim", 4 * shape.width}, {"decoder_ffn_dim", 4 * shape.width},
        {"max_source_positions", shape.audioFrames()}, {"max_target_positions", shape.textContext}};
}

nlohmann::json WhisperCheckpoint::hubGenerationConfig(const WhisperShape& shape)
{
    nlohmann::json config = {{"max_length", shape.textContext}};
    if (!shape.alignmentHeads.empty()) {
        config["alignment_heads"] = nlohmann::json::array();
        for (const auto& [layer, head] : shape.alignmentHeads) {
            config["alignment_heads"].push_back({layer, head});
        }
    }
    return config;
}

void WhisperCheckpoint::write(const std::filesystem::path& folder, const WhisperShape& shape, const std::string& dtype,
    const TensorSource& source)
{
    std::filesystem::create_directories(folder);
    // The values by model-folder name, in the order hubTensors lists them.
    const auto specs = WhisperModelSet::qualifiedTensors(shape);
    std::size_t next = 0;
    std::ofstream out(folder / "model.safetensors", std::ios::binary | std::ios::trunc);
    writeSafetensors(out, hubTensors(shape, dtype), [&](const Tensor&) { return source(specs.at(next++)); });
    out.close();
    for (const auto& [name, json] : {std::pair {"config.json", hubConfig(shape)},
             std::pair {"generation_config.json", hubGenerationConfig(shape)}}) {
        std::ofstream file(folder / name, std::ios::trunc);
        file << json.dump(2) << "\n";
    }
    if (!out) {
        throw std::runtime_error((folder / "model.safetensors").string() + ": cannot be written");
    }
}

} // namespace ml
