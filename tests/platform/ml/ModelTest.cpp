#include "platform/ml/Model.hpp"
#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"

#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <sys/stat.h>

using namespace ml;
using testsupport::TemporaryDirectory;
using ::testing::HasSubstr;

namespace {

ModelDescription scaleDescription(std::vector<int> shape)
{
    ModelDescription description;
    description.inputs.push_back({"x", MultiArrayDataType::float32, shape});
    description.outputs.push_back({"y", MultiArrayDataType::float32, shape});
    description.metadata["author"] = "tests";
    return description;
}

std::filesystem::path writeScaleModel(const TemporaryDirectory& dir, MultiArrayDataType storage)
{
    ModelFolderWriter writer("scale", {{"factor", 2.0}}, scaleDescription({2, 2}));
    writer.addTensor("bias", {2, 2}, {0.5f, -1.0f, 0.0f, 10.0f}, storage);
    const auto folder = dir / "Scale.mlmodelc";
    writer.write(folder);
    return folder;
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

// A scale model folder with its good files kept, to be broken and mended again.
struct ScaleModel {
    TemporaryDirectory dir;
    std::filesystem::path folder = writeScaleModel(dir, MultiArrayDataType::float32);
    std::filesystem::path description = folder / "model.json";
    std::filesystem::path weights = folder / "weights/weight.bin";
    std::string good = testsupport::readFile(description);
    std::string blob = testsupport::readFile(weights);

    // The load error once the first `from` of the good description reads `to`.
    std::string loadErrorAfterEdit(const std::string& from, const std::string& to) const
    {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        testsupport::writeFile(description, text);
        return loadError(folder);
    }
};

} // namespace

TEST(Model, LoadsAFolderAndPredicts)
{
    TemporaryDirectory dir;
    for (auto storage : {MultiArrayDataType::float32, MultiArrayDataType::float16}) {
        auto model = Model::load(writeScaleModel(dir, storage), {ComputeUnits::cpuOnly});
        EXPECT_EQ(model->modelDescription().metadata.at("author"), "tests");
        EXPECT_EQ(model->modelDescription().input("x")->shape, (std::vector<int> {2, 2}));
        EXPECT_EQ(model->modelDescription().output("missing"), nullptr);

        DictionaryFeatureProvider input;
        input.set("x", MultiArray::fromValues<float>({2, 2}, std::vector<float> {1, 2, 3, 4}));
        auto output = model->prediction(input);
        ASSERT_TRUE(output.featureValue("y"));
        EXPECT_EQ(output.featureValue("y")->toFloats(), (std::vector<float> {2.5f, 3.0f, 6.0f, 18.0f}));
    }
}

TEST(Model, PredictionChecksInputs)
{
    TemporaryDirectory dir;
    auto model = Model::load(writeScaleModel(dir, MultiArrayDataType::float32));
    DictionaryFeatureProvider missing;
    EXPECT_THAT([&] { model->prediction(missing); }, ::testing::ThrowsMessage<ModelError>(HasSubstr("input \"x\" is missing")));

    DictionaryFeatureProvider wrongType;
    wrongType.set("x", MultiArray({2, 2}, MultiArrayDataType::float16));
    EXPECT_THAT([&] { model->prediction(wrongType); }, ::testing::ThrowsMessage<ModelError>(HasSubstr("must be float32")));

    DictionaryFeatureProvider wrongShape;
    wrongShape.set("x", MultiArray({4}, MultiArrayDataType::float32));
    EXPECT_THAT([&] { model->prediction(wrongShape); }, ::testing::ThrowsMessage<ModelError>(HasSubstr("has shape [4]")));
}

TEST(Model, FlexibleShapesFollowTheirConstraint)
{
    FeatureDescription feature {"ids", MultiArrayDataType::int32, {1, 64}};
    EXPECT_TRUE(feature.accepts({1, 64}));
    EXPECT_FALSE(feature.accepts({1, 32}));
    feature.shapeConstraint = ShapeConstraint {ShapeConstraint::Type::enumerated, {{1, 32}, {1, 128}}, {}};
    EXPECT_TRUE(feature.accepts({1, 128}));
    EXPECT_FALSE(feature.accepts({1, 100}));
    feature.shapeConstraint = ShapeConstraint {ShapeConstraint::Type::range, {}, {{1, 1}, {1, 512}}};
    EXPECT_TRUE(feature.accepts({1, 512}));
    EXPECT_FALSE(feature.accepts({1, 513}));
    EXPECT_FALSE(feature.accepts({2, 10}));
    feature.shapeConstraint = ShapeConstraint {ShapeConstraint::Type::range, {}, {{1, 1}, {1, -1}}};
    EXPECT_TRUE(feature.accepts({1, 100000}));
    feature.shapeConstraint = ShapeConstraint {ShapeConstraint::Type::unspecified, {}, {}};
    EXPECT_TRUE(feature.accepts({7, 9}));
    EXPECT_FALSE(feature.accepts({7}));
}

TEST(Model, CorruptFoldersAreRejectedWithTheirFileNamed)
{
    const ScaleModel model;
    const auto& [dir, folder, description, weights, good, blob] = model;

    EXPECT_THAT(loadError(dir / "Nothing.mlmodelc"), HasSubstr("model folder is missing"));

    // What the weights must hold is known from the description alone, whatever the file holds.
    EXPECT_EQ(ModelFolder::declaredWeightBytes(folder), 16u);
    std::filesystem::remove(weights);
    EXPECT_EQ(ModelFolder::declaredWeightBytes(folder), 16u);
    EXPECT_THAT(loadError(folder), HasSubstr("weights/weight.bin: file is missing"));

    testsupport::writeFile(weights, blob.substr(0, 8));
    EXPECT_THAT(loadError(folder), HasSubstr("past the end of the weights"));
    testsupport::writeFile(weights, blob);

    testsupport::writeFile(description, good.substr(0, good.size() / 2));
    EXPECT_THAT(loadError(folder), HasSubstr("model.json: is not valid JSON"));

    auto edited = [&](const std::string& from, const std::string& to) { return model.loadErrorAfterEdit(from, to); };
    EXPECT_THAT(edited("\"float32\"", "\"float8\""), HasSubstr("unknown element type \"float8\""));
    EXPECT_THAT(edited("\"program\": \"scale\"", "\"program\": \"nope\""), HasSubstr("unknown program \"nope\""));
    EXPECT_THAT(edited("\"program\": \"scale\"", "\"program\": 3"), HasSubstr("no \"program\" text"));
    EXPECT_THAT(edited("\"offset\": 0", "\"offset\": 2"), HasSubstr("not aligned"));
    EXPECT_THAT(edited("\"offset\": 0", "\"offset\": 18446744073709551552"), HasSubstr("past the end"));
    EXPECT_EQ(ModelFolder::declaredWeightBytes(folder), 18446744073709551552u + 16);
    EXPECT_THAT(edited("\"offset\": 0", "\"offset\": 18446744073709551612"), HasSubstr("past the end"));
    EXPECT_EQ(ModelFolder::declaredWeightBytes(folder), std::numeric_limits<std::uint64_t>::max());
    EXPECT_THAT(edited("\"offset\": 0", "\"offset\": -4"), HasSubstr("has no offset"));
    EXPECT_THAT(edited("\"name\": \"bias\"", "\"name\": \"other\""), HasSubstr("tensor \"bias\" is missing"));
    EXPECT_THAT(edited("\"factor\": 2.0", "\"factor\": \"two\""), HasSubstr("parameter \"factor\""));
    EXPECT_THAT(edited("\"format\": \"parlino.mlmodelc\"", "\"format\": \"x\""), HasSubstr("model.json"));
    EXPECT_THAT(edited("\"formatVersion\": 1", "\"formatVersion\": 99"), HasSubstr("unsupported format version"));
    EXPECT_THAT(edited("\"shape\": [\n        2,\n        2\n      ]", "\"shape\": [2, -2]"), HasSubstr("invalid dimension"));

    std::filesystem::remove(description);
    EXPECT_THAT(loadError(folder), HasSubstr("model.json: file is missing"));
    EXPECT_THROW(ModelFolder::declaredWeightBytes(folder), ModelError);
}

TEST(Model, HostileDescriptionsAreRefusedWithoutCrashingOrBlocking)
{
    const ScaleModel model;
    const auto& [dir, folder, description, weights, good, blob] = model;
    auto edited = [&](const std::string& from, const std::string& to) { return model.loadErrorAfterEdit(from, to); };

    // Nesting deep enough to overflow the stack of any recursive walk.
    const std::string deep = std::string(20000, '[') + std::string(20000, ']');
    EXPECT_THAT(edited("\"factor\": 2.0", "\"factor\": 2.0, \"deep\": " + deep), HasSubstr("nested more than 512 levels deep"));
    EXPECT_THAT(edited("\"author\": \"tests\"", "\"author\": " + deep), HasSubstr("nested more than 512 levels deep"));
    EXPECT_THAT(edited("\"tensors\": [", "\"tensors\": [" + deep + ","), HasSubstr("nested more than 512 levels deep"));

    // Sizes past int are refused, not cut to 32 bits.
    EXPECT_THAT(edited("\"formatVersion\": 1", "\"formatVersion\": 4294967297"), HasSubstr("unsupported format version"));
    EXPECT_THAT(edited("\"shape\": [\n        2,\n        2\n      ]", "\"shape\": [4294967298, 2]"), HasSubstr("invalid dimension"));
    // A zero-sized tensor whose other dimensions overflow the strides.
    EXPECT_THAT(edited("\"tensors\": [", "\"tensors\": [{\"name\": \"empty\", \"dataType\": \"float32\", \"offset\": 0, "
                                          "\"shape\": [0, 2147483647, 2147483647, 2147483647]},"),
        HasSubstr("tensor \"empty\" has a shape too large to address"));
    // Names given twice and bytes shared between tensors.
    EXPECT_THAT(edited("\"inputs\": [", "\"inputs\": [{\"name\": \"x\", \"dataType\": \"float32\", \"shape\": [2, 2]},"),
        HasSubstr("input \"x\" is listed twice"));
    EXPECT_THAT(edited("\"program\": \"scale\"", "\"program\": \"scale\", \"program\": \"other\""),
        HasSubstr("holds the key \"program\" twice"));
    EXPECT_THAT(edited("\"tensors\": [", "\"tensors\": [{\"name\": \"alias\", \"dataType\": \"float32\", \"offset\": 8, "
                                          "\"shape\": [2]},"),
        HasSubstr("tensors \"bias\" and \"alias\" overlap"));
    testsupport::writeFile(description, good);

    // A description past the cap is refused before it is read.
    std::filesystem::resize_file(description, ModelFolder::maximumDescriptionSize + 1);
    EXPECT_THAT(loadError(folder), HasSubstr("model.json: is larger than the 67108864 bytes a description may hold"));

    // FIFOs in the files' places would block a plain open until a writer came.
    std::filesystem::remove(description);
    ASSERT_EQ(::mkfifo(description.c_str(), 0600), 0);
    EXPECT_THAT(loadError(folder), HasSubstr("model.json: is not a regular file"));
    std::filesystem::remove(description);
    testsupport::writeFile(description, good);
    std::filesystem::remove(weights);
    ASSERT_EQ(::mkfifo(weights.c_str(), 0600), 0);
    EXPECT_THAT(loadError(folder), HasSubstr("weight.bin: is not a regular file"));
    std::filesystem::remove(weights);
    testsupport::writeFile(weights, blob);
    EXPECT_EQ(loadError(folder), "loaded");
}
