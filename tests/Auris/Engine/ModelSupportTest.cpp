#include "Auris/Engine/ModelSupport.hpp"
#include "Auris/Utilities/Logging.hpp"

#include <gtest/gtest.h>

using namespace auris;

TEST(ModelSupport, DisabledListsFollowTheDeviceName)
{
    EXPECT_EQ(modelSupport("iPhone12,1", "").disabled.size(), 14u);
    EXPECT_EQ(modelSupport("Watch7,1", "").disabled.size(), 14u);
    EXPECT_EQ(modelSupport("iPhone13,2", "").disabled.size(), 8u);
    EXPECT_EQ(modelSupport("iPhone16,1", "").disabled.size(), 4u);
    EXPECT_EQ(modelSupport("iPhone10,3", "").disabled, std::vector<std::string> {""});
    EXPECT_EQ(modelSupport("arm64", "Apple M1 Pro").disabled.size(), 6u);
    EXPECT_TRUE(modelSupport("arm64", "Apple M2").disabled.empty());
    EXPECT_EQ(modelSupport("x86_64").disabled, std::vector<std::string> {""});
    for (const char* name : {"", "x86_64", "iPhone12,1", "arm64"}) {
        EXPECT_EQ(modelSupport(name, "").defaultModel, "openai_whisper-base");
    }
}

TEST(ModelSupport, VariantFromVocabularyAndEncoderWidths)
{
    std::vector<std::string> lines;
    Logging::shared().setLogLevel(Logging::LogLevel::error);
    Logging::shared().setLoggingCallback([&](const std::string& line) { lines.push_back(line); });

    EXPECT_EQ(detectModelVariant(51865, 1280), ModelVariant::largev2);
    EXPECT_EQ(detectModelVariant(51866, 384), ModelVariant::largev3);
    EXPECT_EQ(detectModelVariant(51864, 1280), ModelVariant::baseEn);
    EXPECT_EQ(detectModelVariant(51864, 384), ModelVariant::tinyEn);
    EXPECT_EQ(detectModelVariant(51865, 1000), ModelVariant::base);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(detectModelVariant(50000, 512), ModelVariant::base);
    EXPECT_EQ(lines, std::vector<std::string> {"Unrecognized vocabulary size: 50000, defaulting to base variant"});

    Logging::shared().setLoggingCallback(nullptr);
    Logging::shared().setLogLevel(Logging::LogLevel::none);

    EXPECT_EQ(tokenizerRepositoryName(ModelVariant::tinyEn), "openai/whisper-tiny.en");
    EXPECT_EQ(tokenizerRepositoryName(ModelVariant::largev3), "openai/whisper-large-v3");
}

TEST(ModelSupport, ModelNamesLeadToTheirOriginalCheckpoints)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases {
        {"tiny", "openai/whisper-tiny"},
        {"openai_whisper-base.en", "openai/whisper-base.en"},
        {"whisper-medium", "openai/whisper-medium"},
        {"openai/whisper-large-v2", "openai/whisper-large-v2"},
        {"large-v3", "openai/whisper-large-v3"},
        {"openai_whisper-large-v3_turbo", "openai/whisper-large-v3-turbo"},
        {"large-v3-turbo", "openai/whisper-large-v3-turbo"},
        {"distil-whisper_distil-large-v3", "distil-whisper/distil-large-v3"},
        {"distil-large-v3", "distil-whisper/distil-large-v3"},
        // Quantised folders and turbo builds of other sizes have no checkpoint of their own.
        {"openai_whisper-large-v3_947MB", std::nullopt},
        {"openai_whisper-large-v2_turbo", std::nullopt},
        {"distil-whisper_distil-large-v3_turbo", std::nullopt},
        {"tiny/", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [name, repository] : cases) {
        EXPECT_EQ(checkpointRepositoryName(name), repository) << name;
    }
    EXPECT_EQ(compiledModelFolderName("openai/whisper-large-v3-turbo"), "openai_whisper-large-v3-turbo");
    EXPECT_EQ(compiledModelFolderName("distil-whisper/distil-large-v3"), "distil-whisper_distil-large-v3");
}
