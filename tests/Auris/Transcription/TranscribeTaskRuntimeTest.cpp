#include "Auris/Transcription/TranscribeFixtures.hpp"
#include "Auris/support/LoudnessModels.hpp"

#include <gtest/gtest.h>

using namespace auris;
using namespace testsupport;

namespace {

// One word per loud stretch (its word chosen by loudness), then the timestamp where the last
// stretch ends.
class LoudStretchDecoderProgram : public ml::Program {
public:
    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        std::vector<int> tokens;
        const auto stretches = loudness::stretches(inputs);
        for (const auto& stretch : stretches) {
            tokens.push_back(ids::space);
            tokens.push_back(loudness::wordFor(stretch));
        }
        if (!stretches.empty()) tokens.push_back(timestamp(stretches.back().end));
        return loudness::scriptedStep(inputs, tokens);
    }
};

} // namespace

TEST(TranscribeTaskRuntime, SixtySecondsOfGeneratedAudioThroughLoadedModels)
{
    TemporaryDirectory dir;
    auto featureExtractor = std::make_shared<FeatureExtractor>();
    auto audioEncoder = std::make_shared<AudioEncoder>();
    loudness::loadFrontEnd(dir, *featureExtractor, *audioEncoder);
    auto textDecoder = std::make_shared<TextDecoder>(std::make_shared<InlineProgressQueue>());
    textDecoder->loadModel(loudness::writeModel<LoudStretchDecoderProgram>(
                               dir, TextDecoder::modelFileName, "test.loudStretch", loudness::decoderDescription(16)),
        ml::ComputeUnits::cpuOnly, false);
    textDecoder->setTokenizer(makeSmallTokenizer());
    textDecoder->setIsModelMultilingual(true);

    TranscribeTask task(TranscriptionTimings {}, nullptr, audioEncoder, featureExtractor,
        std::make_shared<SegmentSeeker>(), textDecoder, textDecoder->tokenizer());

    std::vector<float> audio(60 * 16000, 0.0f);
    addTone(audio, 2, 4, 0.1f);
    addTone(audio, 10, 12, 0.3f);
    addTone(audio, 40, 41, 0.6f);
    addTone(audio, 55, 58, 0.1f);
    const auto result = task.runTranscription(audio);

    EXPECT_EQ(result.text, "a b c a");
    ASSERT_EQ(result.segments.size(), 2u);
    EXPECT_FLOAT_EQ(result.segments[0].start, 0);
    EXPECT_FLOAT_EQ(result.segments[0].end, 12);
    EXPECT_FLOAT_EQ(result.segments[1].start, 30);
    EXPECT_FLOAT_EQ(result.segments[1].end, 58);
    EXPECT_EQ(result.language, "en");
    EXPECT_EQ(result.timings.totalDecodingWindows, 2);
    EXPECT_EQ(result.timings.totalEncodingRuns, 2);
    EXPECT_EQ(task.progress()->completedUnitCount(), 960000);
}
