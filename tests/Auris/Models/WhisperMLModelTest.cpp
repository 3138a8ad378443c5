#include "Auris/Models/DecodingInputs.hpp"
#include "Auris/Models/WhisperMLModel.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"
#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"

#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

using namespace auris;
using ml::MultiArrayDataType;

namespace {

std::filesystem::path writeScaleModel(const testsupport::TemporaryDirectory& dir, const std::string& name)
{
    ml::ModelDescription description;
    description.inputs.push_back({"x", MultiArrayDataType::float32, {2}});
    description.outputs.push_back({"y", MultiArrayDataType::float32, {2}});
    ml::ModelFolderWriter writer("scale", {{"factor", 1.0}}, description);
    writer.addTensor("bias", {2}, {0, 0});
    const auto folder = dir / name;
    writer.write(folder);
    return folder;
}

class PlainModel : public WhisperMLModel { };

DecodingInputs inputsWithMasks(int length)
{
    DecodingInputs inputs;
    inputs.cacheLength = makeMultiArray({1}, MultiArrayDataType::int32, 0);
    inputs.kvCacheUpdateMask = makeMultiArray({1, length}, MultiArrayDataType::int32, 7);
    inputs.decoderKeyPaddingMask = makeMultiArray({1, length}, MultiArrayDataType::float16, 5);
    return inputs;
}

std::vector<float> values(const ml::MultiArray& array) { return array.toFloats(); }

} // namespace

TEST(WhisperMLModel, LoadingHonoursPrewarmAndKeepsTheModelOnFailure)
{
    testsupport::TemporaryDirectory dir;
    const auto folder = writeScaleModel(dir, "Scale.mlmodelc");
    PlainModel wrapper;
    EXPECT_EQ(wrapper.modelState(), ModelState::unloaded);

    wrapper.loadModel(folder, ml::ComputeUnits::cpuOnly, true);
    EXPECT_FALSE(wrapper.model());
    EXPECT_EQ(wrapper.modelState(), ModelState::unloaded);

    wrapper.loadModel(folder, ml::ComputeUnits::cpuAndGPU, false);
    ASSERT_TRUE(wrapper.model());
    EXPECT_EQ(wrapper.modelState(), ModelState::loaded);
    EXPECT_EQ(wrapper.model()->configuration().computeUnits, ml::ComputeUnits::cpuAndGPU);

    const auto before = wrapper.model();
    EXPECT_THROW(wrapper.loadModel(dir / "Missing.mlmodelc", ml::ComputeUnits::cpuOnly, false), ml::ModelError);
    EXPECT_EQ(wrapper.model(), before);

    wrapper.unloadModel();
    EXPECT_EQ(wrapper.modelState(), ModelState::unloaded);
}

TEST(DecodingInputs, ResetRestoresCacheLengthAndMasks)
{
    auto small = inputsWithMasks(5);
    small.reset(3, 5);
    EXPECT_EQ(small.cacheLength.value({0}), 2);
    EXPECT_EQ(values(small.decoderKeyPaddingMask), (std::vector<float> {0, 0, 0, -10000, -10000}));
    EXPECT_EQ(values(small.kvCacheUpdateMask), (std::vector<float> {0, 0, 1, 0, 0}));

    auto full = inputsWithMasks(224);
    full.reset(1, 224);
    EXPECT_EQ(full.cacheLength.value({0}), 0);
    std::vector<float> padding(224, -10000);
    padding[0] = 0;
    std::vector<float> update(224, 0);
    update[0] = 1;
    EXPECT_EQ(values(full.decoderKeyPaddingMask), padding);
    EXPECT_EQ(values(full.kvCacheUpdateMask), update);

    // Longer masks than the context are rewritten to their end, never past it.
    auto longer = inputsWithMasks(8);
    longer.reset(2, 5);
    EXPECT_EQ(values(longer.decoderKeyPaddingMask), (std::vector<float> {0, 0, -10000, -10000, -10000, -10000, -10000, -10000}));
    EXPECT_EQ(values(longer.kvCacheUpdateMask), (std::vector<float> {0, 1, 0, 0, 0, 0, 0, 0}));

    // Masks shorter than the context are refused before anything is written.
    auto shorter = inputsWithMasks(4);
    EXPECT_THROW(shorter.reset(1, 224), ml::MultiArrayError);
    EXPECT_EQ(values(shorter.kvCacheUpdateMask), std::vector<float>(4, 7));
    EXPECT_THROW(shorter.reset(1, -1), ml::MultiArrayError);

    // Copies share the arrays.
    auto copy = small;
    copy.reset(1, 5);
    EXPECT_EQ(small.cacheLength.value({0}), 0);
}
