#include "platform/ml/compiler/CheckpointConverter.hpp"

#include "platform/system/BoundedJson.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <sstream>

namespace ml {

namespace {

constexpr int maximumSetting = 1 << 24;
// The encoder sees one position per 320 samples (two mel frames of 160).
constexpr int samplesPerAudioPosition = 320;
constexpr int maximumAudioPositions = 16000 * 600 / samplesPerAudioPosition;

std::vector<std::string> split(const std::string& name)
{
    std::vector<std::string> parts;
    std::stringstream stream(name);
    for (std::string part; std::getline(stream, part, '.');) {
        parts.push_back(part);
    }
    return parts;
}

std::string join(const std::vector<std::string>& parts, std::size_t from)
{
    std::string text;
    for (std::size_t i = from; i < parts.size(); ++i) {
        text += (text.empty() ? "" : ".") + parts[i];
    }
    return text;
}

bool isNumber(const std::string& text)
{
    return !text.empty() && text.size() < 6 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::string> projectionName(const std::string& part)
{
    if (part == "q_proj" || part == "query") return "query";
    if (part == "k_proj" || part == "key") return "key";
    if (part == "v_proj" || part == "value") return "value";
    if (part == "out_proj" || part == "out") return "output";
    return std::nullopt;
}

// The name of a block tensor inside "layers.N.", from either scheme.
std::optional<std::string> blockTensorName(bool encoder, const std::vector<std::string>& rest)
{
    if (rest.size() < 2) {
        return std::nullopt;
    }
    const std::string& head = rest[0];
    const std::string tail = join(rest, 1);
    if (head == "self_attn" || head == "attn" || head == "encoder_attn" || head == "cross_attn") {
        if (rest.size() != 3) {
            return std::nullopt;
        }
        const auto projection = projectionName(rest[1]);
        if (!projection) {
            return std::nullopt;
        }
        const bool cross = head == "encoder_attn" || head == "cross_attn";
        if (cross && encoder) {
            return std::nullopt;
        }
        const std::string block = cross ? "cross_attention" : (encoder ? "attention" : "self_attention");
        return block + "." + *projection + "." + rest[2];
    }
    if (head == "self_attn_layer_norm" || head == "attn_ln") {
        return std::string(encoder ? "attention_norm." : "self_attention_norm.") + tail;
    }
    if ((head == "encoder_attn_layer_norm" || head == "cross_attn_ln") && !encoder) {
        return "cross_attention_norm." + tail;
    }
    if (head == "fc1" || head == "fc2") {
        return "mlp." + head + "." + tail;
    }
    if (head == "mlp" && rest.size() == 3 && (rest[1] == "0" || rest[1] == "2")) {
        return std::string(rest[1] == "0" ? "mlp.fc1." : "mlp.fc2.") + rest[2];
    }
    if (head == "final_layer_norm" || head == "mlp_ln") {
        return "mlp_norm." + tail;
    }
    return std::nullopt;
}

// "encoder.<folder name>" or "decoder.<folder name>" for a checkpoint tensor; nothing for tensors
// the folders do not hold (such as a tied output projection).
std::optional<std::string> canonicalName(std::string name)
{
    if (name.rfind("model.", 0) == 0) {
        name = name.substr(6);
    }
    const auto parts = split(name);
    if (parts.size() < 2 || (parts[0] != "encoder" && parts[0] != "decoder")) {
        return std::nullopt;
    }
    const bool encoder = parts[0] == "encoder";
    if ((parts[1] == "layers" || parts[1] == "blocks") && parts.size() > 3 && isNumber(parts[2])) {
        const auto inner = blockTensorName(encoder, std::vector<std::string>(parts.begin() + 3, parts.end()));
        if (!inner) {
            return std::nullopt;
        }
        return parts[0] + ".layers." + std::to_string(std::stoi(parts[2])) + "." + *inner;
    }
    const std::string rest = join(parts, 1);
    if (encoder && (rest == "conv1.weight" || rest == "conv1.bias" || rest == "conv2.weight" || rest == "conv2.bias")) {
        return "encoder." + rest;
    }
    if (rest == "embed_positions.weight" || rest == "positional_embedding") {
        return parts[0] + ".positional_embedding";
    }
    if (!encoder && (rest == "embed_tokens.weight" || rest == "token_embedding.weight")) {
        return "decoder.token_embedding.weight";
    }
    const std::string& first = parts[1];
    if (parts.size() == 3 && (first == "layer_norm" || (encoder && first == "ln_post") || (!encoder && first == "ln"))) {
        return parts[0] + ".final_norm." + parts[2];
    }
    return std::nullopt;
}

std::optional<nlohmann::json> readJson(const std::filesystem::path& file, bool required)
{
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        if (required) {
            throw SafetensorsError(file.string() + ": cannot be opened");
        }
        return std::nullopt;
    }
    return SafetensorsCheckpoint::readJsonFile(file, {});
}

// The first of the keys that the configuration holds as a whole number. A whole number outside
// 0 to 2^24 is refused rather than passed over: no model is that large, and the value was meant.
std::optional<std::pair<std::string, int>> intValue(const std::optional<nlohmann::json>& config,
    const std::vector<const char*>& keys, const std::filesystem::path& file)
{
    if (!config || !config->is_object()) {
        return std::nullopt;
    }
    for (const char* key : keys) {
        auto it = config->find(key);
        if (it == config->end() || !it->is_number_integer()) {
            continue;
        }
        const auto value = platform::BoundedJson::intOf(*it);
        if (!value || *value < 0 || *value > maximumSetting) {
            throw SafetensorsError(file.string() + ": \"" + key + "\" is " + it->dump() + ", outside 0 to "
                + std::to_string(maximumSetting));
        }
        return std::pair {std::string(key), *value};
    }
    return std::nullopt;
}

std::optional<int> intSetting(const std::optional<nlohmann::json>& config, const std::vector<const char*>& keys,
    const std::filesystem::path& file)
{
    const auto found = intValue(config, keys, file);
    return found ? std::optional<int>(found->second) : std::nullopt;
}

// The generation configuration's [layer, head] pairs; an entry of another form is refused.
std::vector<std::pair<int, int>> listedAlignmentHeads(const nlohmann::json& generation, const std::filesystem::path& file)
{
    std::vector<std::pair<int, int>> heads;
    const auto& list = generation["alignment_heads"];
    if (!list.is_array()) {
        throw SafetensorsError(file.string() + ": \"alignment_heads\" must list [layer, head] pairs");
    }
    for (const auto& pair : list) {
        if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number_integer() || !pair[1].is_number_integer()) {
            throw SafetensorsError(file.string() + ": \"alignment_heads\" must list [layer, head] pairs");
        }
        const auto layer = platform::BoundedJson::intOf(pair[0]);
        const auto head = platform::BoundedJson::intOf(pair[1]);
        if (!layer || !head) {
            throw SafetensorsError(file.string() + ": \"alignment_heads\" holds " + pair.dump() + ", outside the range of an integer");
        }
        heads.emplace_back(*layer, *head);
    }
    return heads;
}

} // namespace

CheckpointConverter::CheckpointConverter(const std::filesystem::path& checkpoint, Options options)
    : file_(checkpoint)
    , options_(std::move(options))
{
    for (const auto& name : file_.names()) {
        if (auto canonical = canonicalName(name)) {
            if (names_.contains(*canonical)) {
                throw SafetensorsError(checkpoint.string() + ": two tensors map to \"" + *canonical + "\"");
            }
            names_[*canonical] = name;
        }
    }
    auto dimension = [&](const std::string& canonical, std::size_t rank, std::size_t axis) {
        const auto& source = sourceName(canonical);
        const auto& shape = file_.entry(source).shape;
        if (shape.size() != rank || shape[axis] <= 0 || shape[axis] > (1 << 24)) {
            throw SafetensorsError(file_.fileOf(source).string() + ": tensor \"" + source + "\" has an unexpected shape");
        }
        return static_cast<int>(shape[axis]);
    };
    shape_.width = dimension("encoder.conv1.weight", 3, 0);
    shape_.melCount = dimension("encoder.conv1.weight", 3, 1);
    shape_.vocabularySize = dimension("decoder.token_embedding.weight", 2, 0);
    shape_.textContext = dimension("decoder.positional_embedding", 2, 0);
    if (names_.contains("encoder.positional_embedding")) {
        // Checked before the product, which a table of millions of rows would carry past int.
        const int positions = dimension("encoder.positional_embedding", 2, 0);
        if (positions > maximumAudioPositions) {
            const auto& source = sourceName("encoder.positional_embedding");
            throw SafetensorsError(file_.fileOf(source).string() + ": tensor \"" + source + "\" has "
                + std::to_string(positions) + " positions, more than the " + std::to_string(maximumAudioPositions)
                + " of a ten-minute window");
        }
        shape_.audioSamples = positions * samplesPerAudioPosition;
    }
    auto countLayers = [&](const std::string& prefix) {
        int layers = 0;
        for (const auto& [canonical, source] : names_) {
            if (canonical.rfind(prefix, 0) == 0) {
                layers = std::max(layers, std::stoi(canonical.substr(prefix.size())) + 1);
            }
        }
        return layers;
    };
    shape_.audioLayers = countLayers("encoder.layers.");
    shape_.textLayers = countLayers("decoder.layers.");

    const auto folder = checkpoint.parent_path();
    const auto configFile = options_.configFile.value_or(folder / "config.json");
    const auto generationFile = options_.generationConfigFile.value_or(folder / "generation_config.json");
    const auto config = readJson(configFile, options_.configFile.has_value());
    const auto generation = readJson(generationFile, options_.generationConfigFile.has_value());
    if (config) {
        checkAgainstConfiguration(*config, configFile);
    }
    const int defaultHeads = shape_.width % 64 == 0 ? shape_.width / 64 : 0;
    shape_.audioHeads = options_.audioHeads.value_or(
        intSetting(config, {"encoder_attention_heads", "n_audio_head"}, configFile).value_or(defaultHeads));
    shape_.textHeads = options_.textHeads.value_or(
        intSetting(config, {"decoder_attention_heads", "n_text_head"}, configFile).value_or(defaultHeads));
    if (shape_.audioHeads <= 0 || shape_.textHeads <= 0) {
        throw std::invalid_argument("the head counts cannot be inferred; give them as options");
    }
    shape_.cacheLength = std::min(options_.cacheLength, shape_.textContext);
    if (options_.alignmentHeads) {
        shape_.alignmentHeads = *options_.alignmentHeads;
    } else if (generation && generation->is_object() && generation->contains("alignment_heads")) {
        // Distilled checkpoints may carry their teacher's heads, which name layers they do not have.
        for (const auto& [layer, head] : listedAlignmentHeads(*generation, generationFile)) {
            if (layer >= 0 && layer < shape_.textLayers && head >= 0 && head < shape_.textHeads) {
                shape_.alignmentHeads.emplace_back(layer, head);
            }
        }
    }
    shape_.validate();
    checkTensors();
}

void CheckpointConverter::checkAgainstConfiguration(const nlohmann::json& config, const std::filesystem::path& file) const
{
    if (!config.is_object()) {
        throw SafetensorsError(file.string() + ": is not a JSON object");
    }
    struct Check {
        std::vector<const char*> keys;
        int found;
        std::string where; // the canonical tensor the value was read from
    };
    const int audioPositions = shape_.audioSamples / samplesPerAudioPosition;
    std::vector<Check> checks {
        {{"d_model", "n_audio_state"}, shape_.width, "encoder.conv1.weight"},
        {{"num_mel_bins", "n_mels"}, shape_.melCount, "encoder.conv1.weight"},
        {{"vocab_size", "n_vocab"}, shape_.vocabularySize, "decoder.token_embedding.weight"},
        {{"max_target_positions", "n_text_ctx"}, shape_.textContext, "decoder.positional_embedding"},
        {{"encoder_layers", "n_audio_layer"}, shape_.audioLayers, ""},
        {{"decoder_layers", "n_text_layer"}, shape_.textLayers, ""},
    };
    if (names_.contains("encoder.positional_embedding")) {
        checks.push_back({{"max_source_positions", "n_audio_ctx"}, audioPositions, "encoder.positional_embedding"});
    }
    for (const auto& check : checks) {
        const auto value = intValue(config, check.keys, file);
        if (!value || value->second == check.found) {
            continue;
        }
        const std::string said = file.string() + ": \"" + value->first + "\" is " + std::to_string(value->second);
        if (check.where.empty()) {
            const std::string model = std::string(check.keys.front()).starts_with("encoder") ? "encoder" : "decoder";
            const std::string firstDiffering = model + ".layers." + std::to_string(std::min(check.found, value->second));
            throw SafetensorsError(said + ", but the checkpoint " + file_.path().string() + " holds " + std::to_string(check.found)
                + " " + model + " layers (" + (check.found < value->second ? "no tensors for \"" : "unexpected tensors of \"")
                + firstDiffering + "\")");
        }
        const auto& source = names_.at(check.where);
        throw SafetensorsError(said + ", but tensor \"" + source + "\" of " + file_.fileOf(source).string() + " makes it "
            + std::to_string(check.found));
    }
}

const std::string& CheckpointConverter::sourceName(const std::string& name) const
{
    auto it = names_.find(name);
    if (it == names_.end()) {
        throw SafetensorsError(file_.path().string() + ": the checkpoint has no tensor for \"" + name + "\"");
    }
    return it->second;
}

void CheckpointConverter::checkTensors() const
{
    for (const auto& wanted : WhisperModelSet::qualifiedTensors(shape_)) {
        if (wanted.name == "encoder.positional_embedding" && !names_.contains(wanted.name)) {
            continue;
        }
        const std::string& source = sourceName(wanted.name);
        const auto& entry = file_.entry(source);
        const std::string where = file_.fileOf(source).string() + ": tensor \"" + source + "\"";
        if (!std::equal(entry.shape.begin(), entry.shape.end(), wanted.shape.begin(), wanted.shape.end())) {
            throw SafetensorsError(where + " does not have the shape the model needs");
        }
        if (!SafetensorsFile::isFloatType(entry.dtype)) {
            throw SafetensorsError(where + " is " + entry.dtype + ", not F32, F16 or BF16");
        }
    }
}

std::vector<float> CheckpointConverter::tensor(const TensorSpec& wanted) const
{
    if (wanted.name == "encoder.positional_embedding" && !names_.contains(wanted.name)) {
        return WhisperModelSet::sinusoids(wanted.shape[0], wanted.shape[1]);
    }
    return file_.floats(sourceName(wanted.name));
}

void CheckpointConverter::write(const std::filesystem::path& directory, const WriteProgress& progress) const
{
    WhisperModelSet::write(directory, shape_, options_.storage, [this](const TensorSpec& wanted) { return tensor(wanted); }, progress);
}

} // namespace ml
