#include "WhisperTestModels.hpp"

#include "platform/ml/Model.hpp"
#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "support/TemporaryDirectory.hpp"
#include "tools/make-model/CheckpointConverter.hpp"
#include "tools/make-model/SafetensorsFile.hpp"
#include "tools/make-model/WhisperModelSet.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <cmath>
#include <fstream>
#include <regex>

using namespace ml;
using testsupport::readFile;
using testsupport::TemporaryDirectory;
using testsupport::writeFile;
using ::testing::HasSubstr;

namespace {

struct CheckpointTensor {
    std::string name;
    std::string dtype;
    std::vector<int> shape;
    std::vector<float> values;
};

void appendValue(std::string& data, const std::string& dtype, float value)
{
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    if (dtype == "F32" || dtype == "I32") {
        for (int i = 0; i < 4; ++i) {
            data.push_back(static_cast<char>((bits >> (8 * i)) & 0xff));
        }
        return;
    }
    const std::uint16_t half = dtype == "F16" ? Float16::fromFloat(value) : static_cast<std::uint16_t>(bits >> 16);
    data.push_back(static_cast<char>(half & 0xff));
    data.push_back(static_cast<char>(half >> 8));
}

std::string safetensors(const std::vector<CheckpointTensor>& tensors)
{
    nlohmann::json header = {{"__metadata__", {{"format", "pt"}}}};
    std::string data;
    for (const auto& tensor : tensors) {
        const std::size_t begin = data.size();
        for (float v : tensor.values) {
            appendValue(data, tensor.dtype, v);
        }
        header[tensor.name] = {{"dtype", tensor.dtype}, {"shape", tensor.shape}, {"data_offsets", {begin, data.size()}}};
    }
    const std::string text = header.dump();
    std::string file;
    for (int i = 0; i < 8; ++i) {
        file.push_back(static_cast<char>((static_cast<std::uint64_t>(text.size()) >> (8 * i)) & 0xff));
    }
    return file + text + data;
}

// Values every checkpoint element type holds exactly: bfloat16 precision, no float16 subnormals.
std::vector<float> exactlyStorable(std::vector<float> values)
{
    for (float& v : values) {
        v = std::bit_cast<float>(std::bit_cast<std::uint32_t>(v) & 0xffff0000u);
        if (std::abs(v) < 1e-3f) {
            v = 0;
        }
    }
    return values;
}

std::string renamed(std::string name, const std::vector<std::pair<std::string, std::string>>& rules)
{
    for (const auto& [pattern, replacement] : rules) {
        name = std::regex_replace(name, std::regex(pattern), replacement);
    }
    return name;
}

// The published hub naming, written out independently of the converter.
std::string hubName(const std::string& qualified)
{
    return "model." + renamed(qualified, {{R"(^encoder\.positional_embedding)", "encoder.embed_positions.weight"},
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
                                             {R"(final_norm)", "layer_norm"}});
}

// The original release's naming.
std::string originalName(const std::string& qualified)
{
    return renamed(qualified, {{R"(\.layers\.)", ".blocks."},
                                  {R"(\.self_attention_norm)", ".attn_ln"},
                                  {R"(\.attention_norm)", ".attn_ln"},
                                  {R"(\.cross_attention_norm)", ".cross_attn_ln"},
                                  {R"(\.(self_)?attention\.)", ".attn."},
                                  {R"(\.cross_attention\.)", ".cross_attn."},
                                  {R"(\.output\.)", ".out."},
                                  {R"(\.mlp_norm)", ".mlp_ln"},
                                  {R"(\.mlp\.fc1)", ".mlp.0"},
                                  {R"(\.mlp\.fc2)", ".mlp.2"},
                                  {R"(^encoder\.final_norm)", "encoder.ln_post"},
                                  {R"(^decoder\.final_norm)", "decoder.ln"}});
}

std::vector<CheckpointTensor> checkpointTensors(const WhisperShape& shape, std::string (*naming)(const std::string&))
{
    const auto source = randomWhisperWeights(99);
    const char* dtypes[] = {"F32", "F16", "BF16"};
    std::vector<CheckpointTensor> tensors;
    std::size_t index = 0;
    for (const auto& [model, layout] : {std::pair {std::string("encoder"), WhisperModelSet::encoderTensors(shape)},
             std::pair {std::string("decoder"), WhisperModelSet::decoderTensors(shape)}}) {
        for (const auto& wanted : layout) {
            const std::string qualified = model + "." + wanted.name;
            tensors.push_back({naming(qualified), dtypes[index++ % 3], wanted.shape, exactlyStorable(source({qualified, wanted.shape}))});
        }
    }
    return tensors;
}

std::string loadError(const std::filesystem::path& folder)
{
    try {
        Model::load(folder);
    } catch (const ModelError& error) {
        return error.what();
    }
    return "loaded";
}

void editDescription(const std::filesystem::path& folder, const std::function<void(nlohmann::json&)>& edit)
{
    const auto file = folder / "model.json";
    auto root = nlohmann::json::parse(readFile(file));
    edit(root);
    writeFile(file, root.dump());
}

} // namespace

TEST(WhisperModelSet, DeclaresTheShapesTheEngineReads)
{
    EXPECT_EQ(WhisperShape::preset("small").width, 768);
    EXPECT_EQ(WhisperShape().melFrames(), 3000);
    EXPECT_EQ(WhisperShape().audioFrames(), 1500);
    EXPECT_THROW(WhisperShape::preset("huge"), std::invalid_argument);

    TemporaryDirectory dir;
    const WhisperShape shape = testmodels::microShape();
    WhisperModelSet::write(dir.path(), shape, MultiArrayDataType::float16, randomWhisperWeights(1));
    auto mel = testmodels::load(dir / WhisperModelSet::melFolderName);
    auto encoder = testmodels::load(dir / WhisperModelSet::encoderFolderName);
    auto decoder = testmodels::load(dir / WhisperModelSet::decoderFolderName);
    EXPECT_EQ(mel->modelDescription().output("melspectrogram_features")->shape[1], shape.melCount);
    EXPECT_EQ(encoder->modelDescription().output("encoder_output_embeds")->shape,
        (std::vector<int> {1, shape.width, 1, shape.audioFrames()}));
    const auto& description = decoder->modelDescription();
    EXPECT_EQ(description.input("key_cache")->shape, (std::vector<int> {1, shape.textLayers * shape.width, 1, shape.cacheLength}));
    EXPECT_EQ(description.input("encoder_output_embeds")->shape[1], shape.width);
    EXPECT_EQ(description.output("logits")->shape[2], shape.vocabularySize);
    EXPECT_NE(description.output("alignment_heads_weights"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir / "TextDecoderContextPrefill.mlmodelc"));

    // One window from samples to logits through the three models.
    DictionaryFeatureProvider audio;
    std::vector<float> samples(static_cast<std::size_t>(shape.audioSamples));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>(0.3 * std::sin(0.07 * static_cast<double>(i)));
    }
    audio.set("audio", MultiArray::fromValues<float>({shape.audioSamples}, samples));
    DictionaryFeatureProvider features;
    features.set("melspectrogram_features", *mel->prediction(audio).featureValue("melspectrogram_features"));
    const MultiArray embeds = *encoder->prediction(features).featureValue("encoder_output_embeds");
    const int cacheWidth = shape.textLayers * shape.width;
    DictionaryFeatureProvider step;
    step.set("input_ids", MultiArray::fromValues<std::int32_t>({1}, std::vector<std::int32_t> {1}));
    step.set("cache_length", MultiArray({1}, MultiArrayDataType::int32));
    step.set("key_cache", MultiArray({1, cacheWidth, 1, shape.cacheLength}, MultiArrayDataType::float16));
    step.set("value_cache", MultiArray({1, cacheWidth, 1, shape.cacheLength}, MultiArrayDataType::float16));
    step.set("kv_cache_update_mask", MultiArray({1, shape.cacheLength}, MultiArrayDataType::int32));
    step.set("encoder_output_embeds", embeds);
    step.set("decoder_key_padding_mask", MultiArray({1, shape.cacheLength}, MultiArrayDataType::float16));
    for (float logit : decoder->prediction(step).featureValue("logits")->toFloats()) {
        ASSERT_TRUE(std::isfinite(logit));
    }
}

TEST(WhisperModelSet, RandomWeightsFollowTheSeedAndDefaultAlignmentHeadsTakeTheUpperHalf)
{
    TemporaryDirectory dir;
    WhisperShape shape = testmodels::microShape();
    shape.alignmentHeads.clear();
    shape.textLayers = 3;
    for (const auto& [name, seed] : {std::pair {"a", 5}, std::pair {"b", 5}, std::pair {"c", 6}}) {
        WhisperModelSet::writeTextDecoder(dir / name, shape, MultiArrayDataType::float16, randomWhisperWeights(seed));
    }
    EXPECT_EQ(readFile(dir / "a" / "weights/weight.bin"), readFile(dir / "b" / "weights/weight.bin"));
    EXPECT_NE(readFile(dir / "a" / "weights/weight.bin"), readFile(dir / "c" / "weights/weight.bin"));
    const auto folder = ModelFolder::open(dir / "a");
    nlohmann::json expected = nlohmann::json::array();
    for (int layer = 1; layer < 3; ++layer) {
        for (int head = 0; head < shape.textHeads; ++head) {
            expected.push_back({layer, head});
        }
    }
    EXPECT_EQ(folder.parameters().at("alignmentHeads"), expected);
    EXPECT_EQ(folder.tensor("token_embedding.weight").dataType(), MultiArrayDataType::float16);
}

TEST(CheckpointConverter, HubAndOriginalNamesGiveTheSameFolders)
{
    TemporaryDirectory dir;
    WhisperShape shape = testmodels::microShape();
    shape.alignmentHeads.clear();
    // The folders the checkpoint's values should turn into, written directly.
    const auto exact = [source = randomWhisperWeights(99)](const TensorSpec& wanted) { return exactlyStorable(source(wanted)); };

    for (auto naming : {&hubName, &originalName}) {
        const bool hub = naming == &hubName;
        TemporaryDirectory work;
        writeFile(work / "model.safetensors", safetensors(checkpointTensors(shape, naming)));
        writeFile(work / "config.json", hub ? R"({"encoder_attention_heads": 4, "decoder_attention_heads": 4})"
                                            : R"({"n_audio_head": 4, "n_text_head": 4})");
        writeFile(work / "generation_config.json", R"({"alignment_heads": [[1, 2], [0, 1]]})");
        CheckpointConverter::Options options;
        options.storage = MultiArrayDataType::float32;
        options.cacheLength = 1000; // longer than the text context: capped to it
        CheckpointConverter converter(work / "model.safetensors", options);
        EXPECT_EQ(converter.shape().width, shape.width);
        EXPECT_EQ(converter.shape().melCount, shape.melCount);
        EXPECT_EQ(converter.shape().audioSamples, shape.audioSamples);
        EXPECT_EQ(converter.shape().textLayers, shape.textLayers);
        EXPECT_EQ(converter.shape().cacheLength, shape.textContext);
        converter.write(work / "converted");

        shape.cacheLength = shape.textContext;
        WhisperModelSet::write(work / "direct", shape, MultiArrayDataType::float32, exact);
        for (const char* model : {WhisperModelSet::encoderFolderName, WhisperModelSet::decoderFolderName}) {
            const auto converted = ModelFolder::open(work / "converted" / model);
            const auto direct = ModelFolder::open(work / "direct" / model);
            ASSERT_EQ(converted.tensorNames(), direct.tensorNames());
            for (const auto& name : direct.tensorNames()) {
                ASSERT_EQ(converted.tensor(name).toFloats(), direct.tensor(name).toFloats()) << name;
            }
        }
        const auto decoder = ModelFolder::open(work / "converted" / WhisperModelSet::decoderFolderName);
        EXPECT_EQ(decoder.parameters().at("alignmentHeads"), nlohmann::json::parse("[[1, 2], [0, 1]]"));
        EXPECT_EQ(decoder.intParameter("heads"), 4);
        EXPECT_NO_THROW(testmodels::load(work / "converted" / WhisperModelSet::decoderFolderName));
    }

    // Without stored encoder positions the converter writes the fixed sinusoids.
    auto tensors = checkpointTensors(shape, &hubName);
    std::erase_if(tensors, [](const auto& t) { return t.name == "model.encoder.embed_positions.weight"; });
    writeFile(dir / "model.safetensors", safetensors(tensors));
    CheckpointConverter::Options options;
    options.audioHeads = options.textHeads = 4;
    CheckpointConverter converter(dir / "model.safetensors", options);
    EXPECT_EQ(converter.shape().audioSamples, 480000) << "the standard window when the checkpoint does not say";
}

TEST(CheckpointConverter, RejectsBrokenCheckpoints)
{
    TemporaryDirectory dir;
    const WhisperShape shape = testmodels::microShape();
    const std::string good = safetensors(checkpointTensors(shape, &hubName));
    auto errorOf = [&](const std::string& contents, CheckpointConverter::Options options = {}) -> std::string {
        writeFile(dir / "model.safetensors", contents);
        options.audioHeads = options.textHeads = 4;
        try {
            CheckpointConverter(dir / "model.safetensors", options).write(dir / "out");
        } catch (const std::exception& error) {
            return error.what();
        }
        return "converted";
    };
    EXPECT_EQ(errorOf(good), "converted");
    EXPECT_THAT(errorOf(good.substr(0, good.size() - 10)), HasSubstr("truncated"));
    EXPECT_THAT(errorOf(good.substr(0, 5)), HasSubstr("too short"));
    std::string hugeHeader = good;
    hugeHeader[6] = 1;
    EXPECT_THAT(errorOf(hugeHeader), HasSubstr("header length"));
    std::string notJson = good;
    notJson[8] = '!';
    EXPECT_THAT(errorOf(notJson), HasSubstr("not valid JSON"));

    auto missing = checkpointTensors(shape, &hubName);
    std::erase_if(missing, [](const auto& t) { return t.name == "model.decoder.layers.1.fc2.weight"; });
    EXPECT_THAT(errorOf(safetensors(missing)), HasSubstr("decoder.layers.1.mlp.fc2.weight"));

    auto misshaped = checkpointTensors(shape, &hubName);
    for (auto& tensor : misshaped) {
        if (tensor.name == "model.encoder.layers.0.self_attn.q_proj.weight") {
            tensor.shape = {shape.width / 2, shape.width * 2};
        }
    }
    EXPECT_THAT(errorOf(safetensors(misshaped)), HasSubstr("does not have the shape"));

    auto integers = checkpointTensors(shape, &hubName);
    integers[3].dtype = "I32";
    EXPECT_THAT(errorOf(safetensors(integers)), HasSubstr("not F32, F16 or BF16"));
}

TEST(WhisperModelFolders, BrokenFoldersFailToLoadWithAClearError)
{
    TemporaryDirectory dir;
    const WhisperShape shape = testmodels::microShape();
    auto fresh = [&](const std::string& name) {
        const auto folder = dir / name;
        WhisperModelSet::writeTextDecoder(folder, shape, MultiArrayDataType::float16, randomWhisperWeights(2));
        return folder;
    };

    auto folder = fresh("missing");
    editDescription(folder, [](nlohmann::json& root) {
        auto& tensors = root["tensors"];
        tensors.erase(std::remove_if(tensors.begin(), tensors.end(),
                          [](const auto& t) { return t["name"] == "layers.1.cross_attention.value.bias"; }),
            tensors.end());
    });
    EXPECT_THAT(loadError(folder), HasSubstr("tensor \"layers.1.cross_attention.value.bias\" is missing"));

    folder = fresh("misshaped");
    editDescription(folder, [](nlohmann::json& root) {
        for (auto& t : root["tensors"]) {
            if (t["name"] == "layers.0.mlp.fc1.weight") {
                t["shape"] = {32, 128};
            }
        }
    });
    EXPECT_THAT(loadError(folder), HasSubstr("\"layers.0.mlp.fc1.weight\" has shape [32, 128], expected [128, 32]"));

    folder = fresh("truncated");
    std::filesystem::resize_file(folder / "weights/weight.bin", std::filesystem::file_size(folder / "weights/weight.bin") / 2);
    EXPECT_THAT(loadError(folder), HasSubstr("truncated"));

    folder = fresh("heads");
    editDescription(folder, [](nlohmann::json& root) { root["parameters"]["heads"] = 5; });
    EXPECT_THAT(loadError(folder), HasSubstr("not a multiple of \"heads\""));

    folder = fresh("alignment");
    editDescription(folder, [](nlohmann::json& root) { root["parameters"]["alignmentHeads"] = {{2, 0}}; });
    EXPECT_THAT(loadError(folder), HasSubstr("alignmentHeads"));

    folder = fresh("cache");
    editDescription(folder, [](nlohmann::json& root) {
        for (auto& input : root["inputs"]) {
            if (input["name"] == "key_cache") {
                input["dataType"] = "float32";
            }
        }
    });
    EXPECT_THAT(loadError(folder), HasSubstr("input \"key_cache\" must be float16"));

    folder = fresh("integers");
    editDescription(folder, [](nlohmann::json& root) {
        for (auto& t : root["tensors"]) {
            if (t["name"] == "final_norm.weight") {
                t["dataType"] = "int32";
            }
        }
    });
    EXPECT_THAT(loadError(folder), HasSubstr("must be stored as float16 or float32"));

    WhisperShape encoderShape = shape;
    WhisperModelSet::writeAudioEncoder(dir / "encoder", encoderShape, MultiArrayDataType::float32, randomWhisperWeights(2));
    editDescription(dir / "encoder", [](nlohmann::json& root) { root["outputs"][0]["shape"] = {1, 32, 1, 11}; });
    EXPECT_THAT(loadError(dir / "encoder"), HasSubstr("output \"encoder_output_embeds\""));
}
