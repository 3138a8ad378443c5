#include "Auris/Utilities/CompressionRatio.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"
#include "Auris/Utilities/SystemFacts.hpp"
#include "Auris/Utilities/TextFormatting.hpp"
#include "platform/ml/ComputeUnits.hpp"
#include "platform/system/NumberText.hpp"
#include "platform/system/SystemInfo.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace auris;

TEST(CompressionRatio, RepetitiveTextCompressesWellAndVariedTextDoesNot)
{
    const std::vector<int> repeated(100, 50257);
    EXPECT_GT(compressionRatio(repeated), 10.0f);

    std::vector<int> varied;
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i) {
        varied.push_back(static_cast<int>(random() % 51865));
    }
    EXPECT_LT(compressionRatio(varied), 1.6f);

    // Around the decoder's fallback threshold of 2.4: a phrase said four times crosses it,
    // the same phrase said once does not.
    const std::vector<int> phrase {314, 1101, 257, 1332, 286, 262, 1080, 13, 921, 1234, 4321, 99};
    std::vector<int> looped;
    for (int i = 0; i < 4; ++i) {
        looped.insert(looped.end(), phrase.begin(), phrase.end());
    }
    EXPECT_GT(compressionRatio(looped), 2.4f);
    EXPECT_LT(compressionRatio(phrase), 2.4f);

    EXPECT_EQ(compressionRatio(std::string()), std::numeric_limits<float>::infinity());
    EXPECT_GT(compressionRatio(std::string(200, 'a')), 10.0f);
    EXPECT_TRUE(std::isfinite(compressionRatio(std::vector<int> {})));
}

TEST(TextFormatting, TimingLineMatchesTheReportColumns)
{
    EXPECT_EQ(formatTimingLine(0.5, 10, 2000), "  500.00 ms /     10 runs (   50.00 ms/run) 25.00%");
    EXPECT_EQ(formatTimingLine(0.0123, 0, 100), "   12.30 ms /      0 runs (    0.00 ms/run) 12.30%");
}

TEST(TextFormatting, NumbersPrintAsTheLogTextsShowThem)
{
    using platform::numberText;
    EXPECT_EQ(numberText(1.0), "1.0");
    EXPECT_EQ(numberText(30.0), "30.0");
    EXPECT_EQ(numberText(0.1), "0.1");
    EXPECT_EQ(numberText(0.1f), "0.1");
    EXPECT_EQ(numberText(2.3f), "2.3");
    EXPECT_EQ(numberText(-0.25), "-0.25");
    EXPECT_EQ(numberText(0.0), "0.0");
    EXPECT_EQ(numberText(1e-05), "1e-05");
    EXPECT_EQ(numberText(1e16), "1e+16");
    EXPECT_EQ(numberText(1e15), "1000000000000000.0");
    EXPECT_EQ(numberText(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(numberText(std::nan("")), "nan");
}

TEST(TextFormatting, ResolvesPaths)
{
    EXPECT_EQ(resolveAbsolutePath("/a/b"), "/a/b");
    EXPECT_TRUE(resolveAbsolutePath("~/x").ends_with("/x"));
    EXPECT_TRUE(resolveAbsolutePath("~/x").starts_with("/"));
    EXPECT_EQ(resolveAbsolutePath("rel"), (std::filesystem::current_path() / "rel").string());
}

TEST(MultiArrayUtilities, MakesFillsAndReadsDimensions)
{
    auto mask = makeMultiArray({1, 5}, ml::MultiArrayDataType::float16, -10000);
    EXPECT_EQ(mask.dataType(), ml::MultiArrayDataType::float16);
    EXPECT_EQ(mask.toFloats(), std::vector<float>(5, -10000));
    auto ids = makeMultiArray({1}, ml::MultiArrayDataType::int32, 0);
    EXPECT_EQ(ids.data<std::int32_t>()[0], 0);

    EXPECT_FALSE(makeIOSurfaceMultiArray({}));
    auto cache = makeIOSurfaceMultiArray({1, 384, 1, 448});
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->dataType(), ml::MultiArrayDataType::float16);
    EXPECT_EQ(cache->shape(), (std::vector<int> {1, 384, 1, 448}));

    auto logits = makeMultiArray({1, 1, 6}, ml::MultiArrayDataType::float32, 1);
    fillMultiArrayRange(logits, 2, 4, -INFINITY);
    EXPECT_EQ(logits.toFloats(), (std::vector<float> {1, 1, -INFINITY, -INFINITY, 1, 1}));
    fillMultiArrayRange(logits, 3, 3, 0);
    fillMultiArrayRange(logits, 5, 100, 9); // clamped, never written past the end
    EXPECT_EQ(logits.toFloats().back(), 9);

    EXPECT_FALSE(modelOutputDimension(nullptr, "logits", 2));
}

TEST(SystemFacts, ProcessorTextsKeepTheToolsNewline)
{
    const std::string cpuinfo = "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
                                "model name\t: Intel(R) Xeon(R) CPU @ 2.20GHz\nphysical id\t: 0\ncore id\t\t: 0\n\n"
                                "processor\t: 1\nvendor_id\t: GenuineIntel\nphysical id\t: 0\ncore id\t\t: 0\n";
    using platform::SystemInfo;
    EXPECT_EQ(SystemInfo::sysctlText("machdep.cpu.brand_string", cpuinfo), "Intel(R) Xeon(R) CPU @ 2.20GHz\n");
    EXPECT_EQ(SystemInfo::sysctlText("machdep.cpu.vendor", cpuinfo), "GenuineIntel\n");
    EXPECT_EQ(SystemInfo::sysctlText("machdep.cpu.family", cpuinfo), "6\n");
    EXPECT_EQ(SystemInfo::sysctlText("machdep.cpu.thread_count", cpuinfo), "2\n");
    EXPECT_EQ(SystemInfo::sysctlText("machdep.cpu.core_count", cpuinfo), "1\n");
    EXPECT_EQ(SystemInfo::sysctlText("no.such.key", cpuinfo), "");
    EXPECT_FALSE(SystemInfo::machineName().empty());
    EXPECT_EQ(&SystemFacts::processor(), &SystemFacts::processor());

    EXPECT_EQ(ml::description(ml::ComputeUnits::cpuAndNeuralEngine), "cpuAndNeuralEngine");
    EXPECT_EQ(ml::description(static_cast<ml::ComputeUnits>(9)), "unknown");
}
