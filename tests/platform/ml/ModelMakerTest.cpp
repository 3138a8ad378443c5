#include "WhisperReference.hpp"
#include "WhisperTestModels.hpp"

#include "platform/ml/Model.hpp"
#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "support/TemporaryDirectory.hpp"
#include "platform/ml/compiler/CheckpointConverter.hpp"
#include "platform/ml/compiler/SafetensorsCheckpoint.hpp"
#include "platform/ml/compiler/SafetensorsFile.hpp"
#include "platform/ml/compiler/WhisperModelSet.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"
#include "tools/make-model/WhisperCheckpoint.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

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

std::string safetensors(const std::vector<CheckpointTensor>& tensors)
{
    std::vector<WhisperCheckpoint::Tensor> layout;
    for (const auto& tensor : tensors) {
        layout.push_back({tensor.name, tensor.dtype, tensor.shape});
    }
    std::size_t next = 0;
    std::ostringstream out;
    WhisperCheckpoint::writeSafetensors(out, layout, [&](const WhisperCheckpoint::Tensor&) { return tensors.at(next++).values; });
    return out.str();
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
    return WhisperCheckpoint::hubName(qualified);
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
    for (const auto& wanted : WhisperModelSet::qualifiedTensors(shape)) {
        tensors.push_back({naming(wanted.name), dtypes[index++ % 3], wanted.shape, exactlyStorable(source(wanted))});
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
    EXPECT_THAT(errorOf(hugeHeader), HasSubstr("over the cap"));
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

nlohmann::json with(nlohmann::json object, const char* key, nlohmann::json value)
{
    object[key] = std::move(value);
    return object;
}

// A safetensors file from a header written by hand, for headers that lie.
std::string handWritten(const std::string& text, std::size_t dataBytes)
{
    std::string file;
    for (int i = 0; i < 8; ++i) {
        file.push_back(static_cast<char>((static_cast<std::uint64_t>(text.size()) >> (8 * i)) & 0xff));
    }
    return file + text + std::string(dataBytes, '\0');
}

std::string handWritten(const nlohmann::json& header, std::size_t dataBytes)
{
    return handWritten(header.dump(), dataBytes);
}

TEST(CheckpointConverter, HeadersThatLieAndConfigurationsThatDisagreeNameFileAndTensor)
{
    TemporaryDirectory dir;
    const auto file = (dir / "model.safetensors").string();
    auto openError = [&](const std::string& contents) -> std::string {
        writeFile(dir / "model.safetensors", contents);
        try {
            SafetensorsFile opened(dir / "model.safetensors");
        } catch (const SafetensorsError& error) {
            return error.what();
        }
        return "opened";
    };
    auto tensor = [](const char* dtype, std::vector<int> shape, std::size_t begin, std::size_t end) {
        return nlohmann::json {{"dtype", dtype}, {"shape", shape}, {"data_offsets", {begin, end}}};
    };
    EXPECT_EQ(openError(handWritten({{"a", tensor("F32", {2}, 0, 8)}, {"b", tensor("F16", {4}, 8, 16)}}, 16)), "opened");
    EXPECT_EQ(openError(handWritten({{"a", tensor("F32", {2}, 0, 8)}, {"b", tensor("F32", {4}, 8, 24)}}, 16)),
        file + ": tensor \"b\" lies past the end of the file (truncated?)");
    EXPECT_EQ(openError(handWritten({{"a", tensor("F32", {4}, 0, 16)}, {"b", tensor("F32", {2}, 8, 16)}}, 16)),
        file + ": tensors \"a\" and \"b\" overlap");
    EXPECT_EQ(openError(handWritten({{"a", tensor("F12", {2}, 0, 8)}}, 8)), file + ": tensor \"a\" has the unknown element type \"F12\"");
    EXPECT_EQ(openError(handWritten({{"a", tensor("F32", {3}, 0, 8)}}, 8)), file + ": tensor \"a\" has a byte range that does not match its shape");
    // Dimensions whose product wraps around 64 bits.
    EXPECT_THAT(openError(handWritten({{"a", tensor("F32", {1 << 30, 1 << 30}, 0, 8)}}, 8)), HasSubstr("larger than the file"));
    std::string huge = handWritten({{"a", tensor("F32", {2}, 0, 8)}}, 8);
    huge[7] = 0x7f;
    EXPECT_THAT(openError(huge), HasSubstr("over the cap"));
    std::filesystem::create_directories(dir / "folder.safetensors");
    EXPECT_THAT(openError(""), HasSubstr("too short"));
    EXPECT_THROW(SafetensorsFile(dir / "folder.safetensors"), SafetensorsError);

    // A configuration that disagrees with the tensors is refused before anything is written.
    const WhisperShape shape = testmodels::microShape();
    writeFile(dir / "model.safetensors", safetensors(checkpointTensors(shape, &hubName)));
    auto convertError = [&](nlohmann::json config) -> std::string {
        writeFile(dir / "config.json", config.dump());
        try {
            CheckpointConverter(dir / "model.safetensors", {}).write(dir / "out");
        } catch (const std::exception& error) {
            return error.what();
        }
        return "converted";
    };
    nlohmann::json config = {{"d_model", shape.width}, {"num_mel_bins", shape.melCount}, {"vocab_size", shape.vocabularySize},
        {"encoder_layers", shape.audioLayers}, {"decoder_layers", shape.textLayers}, {"encoder_attention_heads", 4},
        {"decoder_attention_heads", 4}, {"max_source_positions", shape.audioFrames()}, {"max_target_positions", shape.textContext}};
    EXPECT_EQ(convertError(config), "converted");
    std::filesystem::remove_all(dir / "out");
    const std::string configFile = (dir / "config.json").string();
    EXPECT_EQ(convertError(with(config, "d_model", 64)),
        configFile + ": \"d_model\" is 64, but tensor \"model.encoder.conv1.weight\" of " + file + " makes it 32");
    EXPECT_EQ(convertError(with(config, "num_mel_bins", 128)),
        configFile + ": \"num_mel_bins\" is 128, but tensor \"model.encoder.conv1.weight\" of " + file + " makes it 8");
    EXPECT_EQ(convertError(with(config, "decoder_layers", 4)),
        configFile + ": \"decoder_layers\" is 4, but the checkpoint " + file + " holds 2 decoder layers (no tensors for \"decoder.layers.2\")");
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST(CheckpointConverter, NumbersPastTheirRangeAndNamesGivenTwiceAreRefused)
{
    TemporaryDirectory dir;
    const auto file = (dir / "model.safetensors").string();
    auto tensor = [](const char* dtype, std::vector<int> shape, std::size_t begin, std::size_t end) {
        return nlohmann::json {{"dtype", dtype}, {"shape", shape}, {"data_offsets", {begin, end}}};
    };
    auto convertError = [&](const CheckpointConverter::Options& options = {}) -> std::string {
        try {
            CheckpointConverter(dir / "model.safetensors", options).write(dir / "out");
        } catch (const std::exception& error) {
            return error.what();
        }
        return "converted";
    };

    // One name twice: the plain parser would keep the second silently.
    writeFile(dir / "model.safetensors",
        handWritten(std::string(R"({"a": {"dtype": "F32", "shape": [2], "data_offsets": [0, 8]}, )")
                + R"("a": {"dtype": "F32", "shape": [2], "data_offsets": [8, 16]}})",
            16));
    EXPECT_THROW(SafetensorsFile(dir / "model.safetensors"), SafetensorsError);
    EXPECT_EQ(convertError(), file + ": has a header that holds the key \"a\" twice in one object");

    // Seven million positions: their product with the samples per position would pass int.
    const nlohmann::json header = {{"model.encoder.conv1.weight", tensor("F32", {32, 8, 3}, 0, 3072)},
        {"model.decoder.embed_tokens.weight", tensor("F32", {1, 32}, 3072, 3200)},
        {"model.decoder.embed_positions.weight", tensor("F32", {1, 32}, 3200, 3328)},
        {"model.encoder.embed_positions.weight", tensor("U8", {7000000, 1}, 3328, 7003328)}};
    writeFile(dir / "model.safetensors", handWritten(header, 7003328));
    EXPECT_EQ(convertError(), file + ": tensor \"model.encoder.embed_positions.weight\" has 7000000 positions, more than the 30000 of a ten-minute window");

    // Configuration numbers past 32 bits are refused, not cut (2^32 + 32 would read as 32).
    const WhisperShape shape = testmodels::microShape();
    writeFile(dir / "model.safetensors", safetensors(checkpointTensors(shape, &hubName)));
    CheckpointConverter::Options options;
    options.audioHeads = options.textHeads = 4;
    writeFile(dir / "config.json", R"({"d_model": 4294967328})");
    EXPECT_EQ(convertError(options), (dir / "config.json").string() + ": \"d_model\" is 4294967328, outside 0 to 16777216");
    writeFile(dir / "config.json", R"({"encoder_attention_heads": -4})");
    EXPECT_THAT(convertError(), HasSubstr("\"encoder_attention_heads\" is -4, outside 0 to 16777216"));
    std::filesystem::remove(dir / "config.json");
    writeFile(dir / "generation_config.json", R"({"alignment_heads": [[4294967296, 0]]})");
    EXPECT_EQ(convertError(options),
        (dir / "generation_config.json").string() + ": \"alignment_heads\" holds [4294967296,0], outside the range of an integer");
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST(CheckpointConverter, ShardedCheckpointsAndForeignAlignmentHeads)
{
    TemporaryDirectory dir;
    WhisperShape shape = testmodels::microShape();
    const auto tensors = checkpointTensors(shape, &hubName);
    writeFile(dir / "single/model.safetensors", safetensors(tensors));
    // The teacher's heads of a distilled model: only the one inside this model stays.
    writeFile(dir / "single/generation_config.json", R"({"alignment_heads": [[7, 0], [1, 3], [12, 18]]})");
    const std::size_t half = tensors.size() / 2;
    writeFile(dir / "sharded/model-00001-of-00002.safetensors", safetensors({tensors.begin(), tensors.begin() + half}));
    writeFile(dir / "sharded/model-00002-of-00002.safetensors", safetensors({tensors.begin() + half, tensors.end()}));
    nlohmann::json index = {{"metadata", {{"total_size", 0}}}, {"weight_map", nlohmann::json::object()}};
    for (std::size_t i = 0; i < tensors.size(); ++i) {
        index["weight_map"][tensors[i].name] = i < half ? "model-00001-of-00002.safetensors" : "model-00002-of-00002.safetensors";
    }
    writeFile(dir / "sharded/model.safetensors.index.json", index.dump());
    std::filesystem::copy_file(dir / "single/generation_config.json", dir / "sharded/generation_config.json");
    EXPECT_EQ(SafetensorsCheckpoint::partNames(dir / "sharded/model.safetensors.index.json"),
        (std::vector<std::string> {"model-00001-of-00002.safetensors", "model-00002-of-00002.safetensors"}));

    CheckpointConverter::Options options;
    options.audioHeads = options.textHeads = 4;
    CheckpointConverter single(dir / "single/model.safetensors", options);
    CheckpointConverter sharded(dir / "sharded/model.safetensors.index.json", options);
    EXPECT_EQ(single.shape().alignmentHeads, (std::vector<std::pair<int, int>> {{1, 3}}));
    std::vector<double> fractions;
    single.write(dir / "from-single");
    sharded.write(dir / "from-sharded", [&](double fraction) { fractions.push_back(fraction); });
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    ASSERT_FALSE(fractions.empty());
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
    for (const char* model : {WhisperModelSet::encoderFolderName, WhisperModelSet::decoderFolderName}) {
        EXPECT_EQ(readFile(dir / "from-single" / model / "weights/weight.bin"), readFile(dir / "from-sharded" / model / "weights/weight.bin"));
        EXPECT_EQ(readFile(dir / "from-single" / model / "model.json"), readFile(dir / "from-sharded" / model / "model.json"));
    }

    // An index may only name files beside it, and every tensor it places must be there.
    auto indexError = [&](const nlohmann::json& edited) -> std::string {
        writeFile(dir / "sharded/model.safetensors.index.json", edited.dump());
        try {
            SafetensorsCheckpoint checkpoint(dir / "sharded/model.safetensors.index.json");
        } catch (const SafetensorsError& error) {
            return error.what();
        }
        return "opened";
    };
    EXPECT_THAT(indexError(with(index, "weight_map", {{"x", "../model.safetensors"}})), HasSubstr("not beside the index"));
    EXPECT_THAT(indexError({{"weight_map", {{"model.decoder.absent.weight", "model-00001-of-00002.safetensors"}}}}),
        HasSubstr("model-00001-of-00002.safetensors: tensor \"model.decoder.absent.weight\""));
    EXPECT_THAT(indexError({{"weight_map", {{"x", "missing.safetensors"}}}}), HasSubstr("missing.safetensors: cannot be opened"));
    EXPECT_THAT(indexError(nlohmann::json::array()), HasSubstr("has no \"weight_map\""));
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
    // Integers take more bytes than the halves they replace, so they get bytes of their own.
    const auto blobSize = (std::filesystem::file_size(folder / "weights/weight.bin") + 3) / 4 * 4;
    std::filesystem::resize_file(folder / "weights/weight.bin", blobSize + 4 * shape.width);
    editDescription(folder, [&](nlohmann::json& root) {
        for (auto& t : root["tensors"]) {
            if (t["name"] == "final_norm.weight") {
                t["dataType"] = "int32";
                t["offset"] = blobSize;
            }
        }
    });
    EXPECT_THAT(loadError(folder), HasSubstr("must be stored as float16 or float32"));

    // 2^32 + 32 is not 32.
    folder = fresh("wide");
    editDescription(folder, [](nlohmann::json& root) { root["parameters"]["width"] = (1ull << 32) + 32; });
    EXPECT_THAT(loadError(folder), HasSubstr("parameter \"width\" is 4294967328, outside the range of an integer"));

    WhisperShape encoderShape = shape;
    WhisperModelSet::writeAudioEncoder(dir / "encoder", encoderShape, MultiArrayDataType::float32, randomWhisperWeights(2));
    editDescription(dir / "encoder", [](nlohmann::json& root) { root["outputs"][0]["shape"] = {1, 32, 1, 11}; });
    EXPECT_THAT(loadError(dir / "encoder"), HasSubstr("output \"encoder_output_embeds\""));
    // The most mel frames a shape holds still halve without overflow.
    editDescription(dir / "encoder", [](nlohmann::json& root) { root["inputs"][0]["shape"][3] = 2147483647; });
    EXPECT_THAT(loadError(dir / "encoder"), HasSubstr("shaped [1, 32, 1, 1073741824]"));
}

// From the chosen position on, every step's logits pick the end token, whatever the tokens and
// the audio before; the positions before it decode as the plain random weights do.
TEST(WhisperModelSet, WindowsEndAtTheChosenPosition)
{
    TemporaryDirectory dir;
    WhisperShape shape = testmodels::microShape();
    shape.width = 64;
    shape.textLayers = 4;
    constexpr int end = 9, endToken = 31;
    for (const auto storage : {MultiArrayDataType::float16, MultiArrayDataType::float32}) {
        const auto plain = dir / (std::string("plain") + std::string(dataTypeName(storage)));
        const auto ending = dir / (std::string("ending") + std::string(dataTypeName(storage)));
        WhisperModelSet::writeTextDecoder(plain, shape, storage, randomWhisperWeights(3));
        WhisperModelSet::writeTextDecoder(ending, shape, storage, endingWindowsAt(randomWhisperWeights(3), end, endToken, shape.vocabularySize));
        const reference::Dimensions d {shape.melCount, shape.vocabularySize, shape.width, shape.textHeads, shape.textLayers};
        for (unsigned seed : {1u, 2u}) {
            std::mt19937 generator(seed);
            std::uniform_real_distribution<float> uniform(-2.0f, 2.0f);
            std::vector<float> encoded(static_cast<std::size_t>(shape.width * shape.audioFrames()));
            for (float& v : encoded) {
                v = uniform(generator);
            }
            std::vector<int> tokens;
            for (int i = 0; i < end + 6; ++i) {
                tokens.push_back(static_cast<int>(generator() % static_cast<unsigned>(shape.vocabularySize)));
            }
            const auto endingPass = reference::decoder(reference::readWeights(ending), d, shape.alignmentHeads, encoded,
                shape.audioFrames(), tokens, false);
            const auto plainPass = reference::decoder(reference::readWeights(plain), d, shape.alignmentHeads, encoded,
                shape.audioFrames(), tokens, false);
            for (std::size_t p = 0; p < tokens.size(); ++p) {
                const auto& logits = endingPass.logits[p];
                const int best = static_cast<int>(std::max_element(logits.begin(), logits.end()) - logits.begin());
                if (p >= static_cast<std::size_t>(end)) {
                    EXPECT_EQ(best, endToken) << "position " << p;
                } else {
                    EXPECT_EQ(logits, plainPass.logits[p]) << "position " << p;
                }
            }
        }
    }
}
