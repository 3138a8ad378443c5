#include "Auris/Core/WhisperError.hpp"
#include "Auris/Engine/EngineFixtures.hpp"
#include "support/AudioFixtures.hpp"

#include <gtest/gtest.h>

using namespace auris;
using namespace testsupport;

namespace {

std::string failureOf(Auris& engine, const std::vector<float>& audio)
{
    try {
        engine.detectLangauge(audio);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no failure";
}

} // namespace

TEST(AurisLanguageDetection, LoadsFirstAndJudgesOnePaddedWindow)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    ASSERT_EQ(engine->modelState(), ModelState::unloaded);

    const auto detected = engine->detectLangauge(std::vector<float>(100, 0.25f));
    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    EXPECT_EQ(detected.language, "de");
    ASSERT_TRUE(detected.langProbs.contains("de"));
    // Log-probabilities: German is certain.
    EXPECT_NEAR(detected.langProbs.at("de"), 0.0f, 1e-3);

    // Longer audio is judged on its first 30 s; an empty list is a window of silence.
    engine->detectLangauge(std::vector<float>(700000, 0.25f));
    engine->detectLangauge({});
    const auto windows = fixture.mel->windows();
    ASSERT_EQ(windows.size(), 3u);
    EXPECT_EQ(windows[0].nonZeroSamples, 100u);
    EXPECT_EQ(windows[1].nonZeroSamples, 480000u);
    EXPECT_EQ(windows[2].nonZeroSamples, 0u);

    // The file form loads and converts first.
    const auto file = fixture.dir / "speech.wav";
    writeAudioFile(file, 16000, {sine(300, 16000, 16000)});
    EXPECT_EQ(engine->detectLanguage(file.string()).language, "de");
    EXPECT_THROW(engine->detectLanguage((fixture.dir / "missing.wav").string()), WhisperError);
}

TEST(AurisLanguageDetection, ChecksRunInTheirOrder)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    engine->loadModels();
    const std::vector<float> audio(16000, 0.25f);

    // English-only is reported before the missing tokenizer, and before any audio is looked at.
    engine->setTokenizer(nullptr);
    engine->textDecoder()->setIsModelMultilingual(false);
    EXPECT_EQ(failureOf(*engine, audio), "Language detection not supported for this model");
    EXPECT_TRUE(fixture.mel->windows().empty());
    engine->textDecoder()->setIsModelMultilingual(true);
    EXPECT_EQ(failureOf(*engine, audio), "Tokenizer is unavailable");
    engine->setTokenizer(makeSmallTokenizer());

    fixture.mel->giveNothing = true;
    EXPECT_EQ(failureOf(*engine, audio), "Mel output is nil");
    fixture.mel->giveNothing = false;
    fixture.encoder->giveNothing = true;
    EXPECT_EQ(failureOf(*engine, audio), "Encoder output is nil");
    fixture.encoder->giveNothing = false;

    // Whatever breaks inside the decoder's language step surfaces as one message.
    fixture.script->logitsFor = [](int, const DecoderStep&) -> std::vector<float> {
        throw std::runtime_error("decoder broke");
    };
    try {
        engine->detectLangauge(audio);
        FAIL() << "the decoder step failed";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::decodingFailed);
        EXPECT_STREQ(error.what(), "Language detection failed");
    }
}
