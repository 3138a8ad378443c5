#include "Auris/Transcription/TranscribeFixtures.hpp"
#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

using namespace auris;
using namespace testsupport;

namespace {

std::vector<std::string> startingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
        [&](const std::string& line) { return line.starts_with(prefix); });
    return found;
}

// Options under which no decode is ever confident enough.
DecodingOptions neverConfident()
{
    DecodingOptions options;
    options.logProbThreshold = 1.0f;
    return options;
}

struct Run {
    TranscriptionResult result;
    std::vector<std::string> lines;
};

Run transcribe(TaskFixture& fixture, const DecodingOptions& options)
{
    CapturedLog log(Logging::LogLevel::debug);
    auto result = fixture.task->runTranscription(rampAudio(2 * 16000), options);
    return {std::move(result), log.lines()};
}

} // namespace

TEST(TemperatureFallback, AFallbackAtEveryTemperatureRunsTheLadderAndKeepsTheHottestAttempt)
{
    TaskFixture fixture;
    scriptAttempts(fixture.script(), [](int attempt) {
        return std::vector<int> {ids::space, attempt < 5 ? ids::a : ids::b, timestamp(1)};
    });
    SignpostRecording signposts;
    const auto run = transcribe(fixture, neverConfident());

    EXPECT_EQ(startingWith(run.lines, "Decoding Temperature: "),
        (std::vector<std::string> {"Decoding Temperature: 0.0", "Decoding Temperature: 0.2", "Decoding Temperature: 0.4",
            "Decoding Temperature: 0.6", "Decoding Temperature: 0.8", "Decoding Temperature: 1.0"}));
    EXPECT_EQ(startingWith(run.lines, "Fallback #"),
        (std::vector<std::string> {"Fallback #1.0 (logProbThreshold)", "Fallback #2.0 (logProbThreshold)",
            "Fallback #3.0 (logProbThreshold)", "Fallback #4.0 (logProbThreshold)", "Fallback #5.0 (logProbThreshold)",
            "Fallback #6.0 (logProbThreshold)"}));
    EXPECT_EQ(fixture.task->timings().totalDecodingFallbacks, 5);
    EXPECT_GT(fixture.task->timings().decodingFallback, 0);
    EXPECT_EQ(fixture.task->timings().totalDecodingLoops, 6 * 4);

    ASSERT_EQ(run.result.segments.size(), 1u);
    EXPECT_EQ(run.result.segments[0].temperature, 1.0f);
    EXPECT_EQ(run.result.text, "b");

    // Every attempt starts from the same prefilled state.
    const auto first = fixture.firstSteps();
    ASSERT_EQ(first.size(), 6u);
    for (const auto& step : first) {
        EXPECT_EQ(step.inputId, first[0].inputId);
        EXPECT_EQ(step.updateMask, first[0].updateMask);
        EXPECT_EQ(step.paddingMask, first[0].paddingMask);
    }
    EXPECT_EQ(signposts.names(),
        (std::vector<std::string> {"begin TranscribeAudio", "begin Decode", "end Decode", "end TranscribeAudio"}));
}

TEST(TemperatureFallback, TheLadderFollowsTheOptions)
{
    auto run = [](const DecodingOptions& options) {
        auto fixture = std::make_unique<TaskFixture>();
        scriptAttempts(fixture->script(), [](int) { return std::vector<int> {ids::space, ids::a, timestamp(1)}; });
        auto result = transcribe(*fixture, options);
        return std::make_pair(std::move(fixture), std::move(result));
    };

    // A confident first attempt is the only one.
    const auto [confident, accepted] = run(DecodingOptions {});
    EXPECT_EQ(startingWith(accepted.lines, "Decoding Temperature: "),
        (std::vector<std::string> {"Decoding Temperature: 0.0"}));
    EXPECT_TRUE(startingWith(accepted.lines, "Fallback #").empty());
    EXPECT_EQ(confident->task->timings().totalDecodingFallbacks, 0);

    DecodingOptions custom = neverConfident();
    custom.temperature = 0.5f;
    custom.temperatureIncrementOnFallback = 0.25f;
    custom.temperatureFallbackCount = 2;
    const auto [customFixture, customRun] = run(custom);
    EXPECT_FALSE(startingWith(customRun.lines, "Decoding with temperatures [0.5, 0.75, 1.0]").empty());
    EXPECT_EQ(startingWith(customRun.lines, "Decoding Temperature: ").size(), 3u);
    EXPECT_EQ(customFixture->task->timings().totalDecodingFallbacks, 2);

    // With no fallback allowed, the single attempt's fallback verdict is logged and its result kept.
    DecodingOptions single = neverConfident();
    single.temperatureFallbackCount = 0;
    const auto [singleFixture, singleRun] = run(single);
    EXPECT_EQ(startingWith(singleRun.lines, "Fallback #"), (std::vector<std::string> {"Fallback #1.0 (logProbThreshold)"}));
    EXPECT_EQ(singleRun.result.text, "a");
    EXPECT_EQ(singleFixture->task->timings().totalDecodingFallbacks, 0);
}

TEST(TemperatureFallback, LanguageDetectionPrecedesEachAttemptOnlyWhenItApplies)
{
    auto detectionSteps = [](TaskFixture& fixture) {
        const auto steps = fixture.script().recorded();
        return std::count_if(steps.begin(), steps.end(), [](const DecoderStep& step) { return step.cacheLength == 0; });
    };
    auto prefillLanguages = [](TaskFixture& fixture) {
        std::vector<int> languages;
        std::lock_guard lock(fixture.decoderFixture.prefillScript->mutex);
        for (const auto& call : fixture.decoderFixture.prefillScript->calls) languages.push_back(call.second);
        return languages;
    };
    auto script = [](TaskFixture& fixture) {
        scriptAttempts(fixture.script(), [](int) { return std::vector<int> {ids::space, ids::a, timestamp(1)}; });
    };

    // Each of the two attempts detects German and prefills the prompt with it again.
    DecodingOptions detecting = neverConfident();
    detecting.detectLanguage = true;
    detecting.temperatureFallbackCount = 1;
    TaskFixture multilingual;
    script(multilingual);
    const auto detected = transcribe(multilingual, detecting);
    EXPECT_EQ(detectionSteps(multilingual), 2);
    EXPECT_EQ(prefillLanguages(multilingual), (std::vector<int> {ids::en, ids::de, ids::de}));
    EXPECT_EQ(detected.result.language, "de");
    EXPECT_EQ(startingWith(detected.lines, "Prefill prompt updated to: ").front(),
        R"(Prefill prompt updated to: ["<|startoftranscript|>", "<|de|>", "<|transcribe|>", "<|0.00|>"])");

    // A language given by the caller is used as it is.
    DecodingOptions given = detecting;
    given.language = "sk";
    TaskFixture told;
    script(told);
    EXPECT_EQ(transcribe(told, given).result.language, "sk");
    EXPECT_EQ(detectionSteps(told), 0);
    EXPECT_EQ(prefillLanguages(told), (std::vector<int> {ids::sk}));

    // An English-only model is never asked; the language comes from the decoded tokens.
    TaskFixture englishOnly(false, false);
    script(englishOnly);
    EXPECT_EQ(transcribe(englishOnly, detecting).result.language, "en");
    EXPECT_EQ(detectionSteps(englishOnly), 0);

    // A failed detection is logged and decoding goes on; the language comes from the decoded tokens.
    TaskFixture failing;
    script(failing);
    failing.script().logitsFor = [decode = failing.script().logitsFor](int call, const DecoderStep& step) {
        if (step.cacheLength == 0) throw std::runtime_error("no logits");
        return decode(call, step);
    };
    DecodingOptions once = detecting;
    once.temperatureFallbackCount = 0;
    const auto undetected = transcribe(failing, once);
    EXPECT_EQ(startingWith(undetected.lines, "Language detection failed: ").size(), 1u);
    EXPECT_EQ(undetected.result.text, "a");
}
