#pragma once

#include "Auris/Features/AudioEncoding.hpp"
#include "Auris/Features/FeatureExtracting.hpp"
#include "Auris/Segments/SegmentSeeker.hpp"
#include "Auris/Text/DecoderFixtures.hpp"
#include "Auris/Transcription/TranscribeTask.hpp"
#include "Auris/Utilities/Signposts.hpp"
#include "Auris/support/SignpostRecording.hpp"

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// The scripted vocabulary reaches the 30.00 s timestamp.
constexpr int timestampVocabulary = ids::timeBegin + 1501;

inline int timestamp(double seconds) { return ids::timeBegin + static_cast<int>(std::lround(seconds * 50)); }

// Scores under which `token` is the only possible draw even at temperature 1 with top-k sampling.
inline std::vector<float> certain(int token)
{
    std::vector<float> scores(timestampVocabulary, 0.0f);
    scores[static_cast<std::size_t>(token)] = 40.0f;
    return scores;
}

// Samples with their index plus one, so a window's first value tells where it began.
inline std::vector<float> rampAudio(int count)
{
    std::vector<float> samples(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) samples[static_cast<std::size_t>(i)] = static_cast<float>(i + 1);
    return samples;
}

// A 440 Hz tone of `amplitude` over [from, to) seconds, silence elsewhere.
inline void addTone(std::vector<float>& samples, double from, double to, float amplitude)
{
    const auto begin = static_cast<std::size_t>(from * 16000);
    const auto end = std::min(samples.size(), static_cast<std::size_t>(to * 16000));
    for (std::size_t i = begin; i < end; ++i) {
        samples[i] = amplitude * static_cast<float>(std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / 16000.0));
    }
}

// What the mel stage saw of one window.
struct WindowSeen {
    float firstSample = 0;
    std::size_t nonZeroSamples = 0;
};

class FakeFeatureExtractor : public auris::FeatureExtracting {
public:
    std::vector<WindowSeen> windows;
    std::function<void()> onRun;
    bool giveNothing = false;

    std::optional<int> melCount() const override { return 2; }
    std::optional<ml::MultiArray> logMelSpectrogram(const ml::MultiArray& audio, std::stop_token) override
    {
        const auto samples = audio.toFloats();
        windows.push_back({samples.at(0),
            static_cast<std::size_t>(std::count_if(samples.begin(), samples.end(), [](float v) { return v != 0; }))});
        if (onRun) onRun();
        if (giveNothing) return std::nullopt;
        return ml::MultiArray({1, 2, 1, 4}, ml::MultiArrayDataType::float16);
    }
};

// Gives embeddings of the scripted decoder's shape.
class FakeAudioEncoder : public auris::AudioEncoding {
public:
    explicit FakeAudioEncoder(const DecoderScript& script)
        : shape_ {1, script.embedSize, 1, script.windowSize}
    {
    }
    int runs = 0;
    std::function<void()> onRun;
    bool giveNothing = false;

    std::optional<int> embedSize() const override { return shape_[1]; }
    std::optional<ml::MultiArray> encodeFeatures(const ml::MultiArray&, std::stop_token) override
    {
        ++runs;
        if (onRun) onRun();
        if (giveNothing) return std::nullopt;
        return ml::MultiArray(shape_, ml::MultiArrayDataType::float16);
    }

private:
    std::vector<int> shape_;
};

// Answers with the real seeker unless a test scripts the seek point or the word step.
class ScriptedSegmentSeeker : public auris::SegmentSeeker {
public:
    struct WordCall {
        int seek;
        float lastSpeechTimestamp;
        std::string prepend;
        std::string append;
        std::size_t segmentCount;
    };
    mutable std::vector<int> seeks; // currentSeek of every call
    std::function<int(int currentSeek, int segmentSize)> seekPoint;
    // Windows passed over as silence: no segments.
    std::function<bool(int currentSeek)> silent;
    std::function<std::vector<auris::TranscriptionSegment>(std::vector<auris::TranscriptionSegment>)> words;
    mutable std::vector<WordCall> wordCalls;
    std::function<void()> onSeek;

    std::pair<int, std::optional<std::vector<auris::TranscriptionSegment>>> findSeekPointAndSegments(
        const auris::DecodingResult& result, const auris::DecodingOptions& options, int allSegmentsCount,
        int currentSeek, int segmentSize, int sampleRate, int timeToken, int specialToken,
        const auris::WhisperTokenizer& tokenizer) const override
    {
        seeks.push_back(currentSeek);
        if (onSeek) onSeek();
        auto found = SegmentSeeker::findSeekPointAndSegments(
            result, options, allSegmentsCount, currentSeek, segmentSize, sampleRate, timeToken, specialToken, tokenizer);
        if (seekPoint) found.first = seekPoint(currentSeek, segmentSize);
        if (silent && silent(currentSeek)) found.second.reset();
        return found;
    }

    std::vector<auris::TranscriptionSegment> addWordTimestamps(std::vector<auris::TranscriptionSegment> segments,
        const ml::MultiArray&, const auris::WhisperTokenizer&, int seek, int, std::string_view prepend,
        std::string_view append, float lastSpeechTimestamp, const auris::DecodingOptions&,
        const auris::TranscriptionTimings&) const override
    {
        wordCalls.push_back({seek, lastSpeechTimestamp, std::string(prepend), std::string(append), segments.size()});
        return words ? words(std::move(segments)) : segments;
    }
};

// Scripts the decoder by attempt: every decode starts at the prefilled position 3, and the n-th
// decode of a run samples `tokensFor(n)` and then the end token. Detection steps (position 0) answer `language`.
inline void scriptAttempts(DecoderScript& script, std::function<std::vector<int>(int attempt)> tokensFor,
    int language = ids::de)
{
    auto attempt = std::make_shared<int>(-1);
    script.logitsFor = [attempt, tokensFor = std::move(tokensFor), language](int, const DecoderStep& step) {
        if (step.cacheLength == 0) return certain(language);
        const int position = step.cacheLength - 3;
        if (position == 0) ++*attempt;
        const auto tokens = tokensFor(*attempt);
        return certain(position < static_cast<int>(tokens.size()) ? tokens[static_cast<std::size_t>(position)] : ids::end);
    };
}

// A task over the scripted decoder (with its prefill model), fake mel and encoder stages and the seeker above.
struct TaskFixture {
    DecoderFixture decoderFixture;
    std::shared_ptr<FakeFeatureExtractor> mel = std::make_shared<FakeFeatureExtractor>();
    std::shared_ptr<FakeAudioEncoder> encoder;
    std::shared_ptr<ScriptedSegmentSeeker> seeker = std::make_shared<ScriptedSegmentSeeker>();
    std::shared_ptr<hub::Progress> progress = std::make_shared<hub::Progress>();
    std::unique_ptr<auris::TranscribeTask> task;

    explicit TaskFixture(bool alignment = false, bool multilingual = true)
    {
        decoderFixture.script->vocabulary = timestampVocabulary;
        decoderFixture.script->alignment = alignment;
        decoderFixture.load(true, multilingual);
        encoder = std::make_shared<FakeAudioEncoder>(*decoderFixture.script);
        // The fixture owns the decoder; the task only borrows it.
        std::shared_ptr<auris::TextDecoding> decoder(std::shared_ptr<void> {}, &decoderFixture.decoder);
        task = std::make_unique<auris::TranscribeTask>(
            auris::TranscriptionTimings {}, progress, encoder, mel, seeker, decoder, decoderFixture.decoder.tokenizer());
    }

    DecoderScript& script() { return *decoderFixture.script; }

    // The recorded decoder steps that began a decode.
    std::vector<DecoderStep> firstSteps()
    {
        std::vector<DecoderStep> first;
        for (const auto& step : script().recorded()) {
            if (step.cacheLength == 3) first.push_back(step);
        }
        return first;
    }
};

} // namespace testsupport
