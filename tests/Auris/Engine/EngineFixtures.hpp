#pragma once

#include "Auris/Audio/AudioProcessing.hpp"
#include "Auris/Engine/Auris.hpp"
#include "Auris/Features/AudioEncoding.hpp"
#include "Auris/Features/FeatureExtracting.hpp"
#include "Auris/Segments/SegmentSeeker.hpp"
#include "Auris/Transcription/TranscribeFixtures.hpp"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace testsupport {

// A mel stage that is also a model wrapper. Loads are recorded, not performed, with the engine
// state seen at that moment; each window reports its first sample and its voiced length.
class RecordingMelStage : public auris::FeatureExtracting, public auris::WhisperMLModel {
public:
    struct Load {
        std::filesystem::path path;
        ml::ComputeUnits units;
        bool prewarm;
        std::optional<auris::ModelState> engineState;
    };
    struct Window {
        float firstSample;
        std::size_t nonZeroSamples;
    };

    // Set once the engine exists; reads its state during a load.
    std::function<auris::ModelState()> engineState;
    std::function<void(float firstSample)> onWindow;
    std::atomic<bool> giveNothing {false};
    std::atomic<int> unloads {0};

    void loadModel(const std::filesystem::path& path, ml::ComputeUnits units, bool prewarm) override
    {
        std::optional<auris::ModelState> state;
        if (engineState) state = engineState();
        std::lock_guard lock(mutex_);
        loads_.push_back({path, units, prewarm, state});
    }
    void unloadModel() override { ++unloads; }

    std::optional<int> melCount() const override { return 2; }
    std::optional<ml::MultiArray> logMelSpectrogram(const ml::MultiArray& audio, std::stop_token) override
    {
        const auto samples = audio.toFloats();
        const float first = samples.at(0);
        {
            std::lock_guard lock(mutex_);
            windows_.push_back({first,
                static_cast<std::size_t>(std::count_if(samples.begin(), samples.end(), [](float v) { return v != 0; }))});
        }
        if (onWindow) onWindow(first);
        if (giveNothing) return std::nullopt;
        return ml::MultiArray({1, 2, 1, 4}, ml::MultiArrayDataType::float16);
    }

    std::vector<Load> loads() const
    {
        std::lock_guard lock(mutex_);
        return loads_;
    }
    std::vector<Window> windows() const
    {
        std::lock_guard lock(mutex_);
        return windows_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Load> loads_;
    std::vector<Window> windows_;
};

// Embeddings of the scripted decoder's shape, or nothing when asked.
class FixedAudioEncoder : public auris::AudioEncoding {
public:
    explicit FixedAudioEncoder(const DecoderScript& script)
        : shape_ {1, script.embedSize, 1, script.windowSize}
    {
    }
    std::optional<int> size = 384;
    std::atomic<bool> giveNothing {false};

    std::optional<int> embedSize() const override { return size; }
    std::optional<ml::MultiArray> encodeFeatures(const ml::MultiArray&, std::stop_token) override
    {
        if (giveNothing) return std::nullopt;
        return ml::MultiArray(shape_, ml::MultiArrayDataType::float16);
    }

private:
    std::vector<int> shape_;
};

// The real seeker, telling a hook once each window is placed (on the thread that ran it).
class HookedSegmentSeeker : public auris::SegmentSeeker {
public:
    std::function<void()> afterSeek;

    std::pair<int, std::optional<std::vector<auris::TranscriptionSegment>>> findSeekPointAndSegments(
        const auris::DecodingResult& result, const auris::DecodingOptions& options, int allSegmentsCount,
        int currentSeek, int segmentSize, int sampleRate, int timeToken, int specialToken,
        const auris::WhisperTokenizer& tokenizer) const override
    {
        auto found = SegmentSeeker::findSeekPointAndSegments(
            result, options, allSegmentsCount, currentSeek, segmentSize, sampleRate, timeToken, specialToken, tokenizer);
        if (afterSeek) afterSeek();
        return found;
    }
};

// Counts stop requests of live capture.
class StoppableAudioProcessor : public auris::AudioProcessing {
public:
    std::atomic<int> stops {0};
    std::vector<float> audioSamples() const override { return {}; }
    void purgeAudioSamples(int) override {}
    std::vector<float> relativeEnergy() const override { return {}; }
    int relativeEnergyWindow() const override { return 20; }
    void setRelativeEnergyWindow(int) override {}
    void startRecordingLive(std::optional<std::uint32_t>, auris::AudioBufferCallback) override {}
    void pauseRecording() override {}
    void stopRecording() override { ++stops; }
    void resumeRecordingLive(std::optional<std::uint32_t>, auris::AudioBufferCallback) override {}
};

// Every decode of a window writes " a" from 0 to 1 s; a language step answers German.
inline void scriptOneWordPerWindow(DecoderScript& script)
{
    script.vocabulary = timestampVocabulary;
    script.logitsFor = [](int, const DecoderStep& step) {
        if (step.cacheLength == 0) return certain(ids::de);
        static const std::vector<int> tokens {ids::space, ids::a, timestamp(1)};
        const std::size_t position = static_cast<std::size_t>(step.cacheLength - 3);
        return certain(position < tokens.size() ? tokens[position] : ids::end);
    };
}

// A model folder of scripted models (mel and encoder bundles are empty: their fakes only record
// the load) and the engine configuration that uses it with the small tokenizer.
struct EngineFixture {
    TemporaryDirectory dir;
    std::shared_ptr<DecoderScript> script = std::make_shared<DecoderScript>();
    std::shared_ptr<PrefillScript> prefillScript = std::make_shared<PrefillScript>();
    std::shared_ptr<RecordingMelStage> mel = std::make_shared<RecordingMelStage>();
    std::shared_ptr<FixedAudioEncoder> encoder;
    std::shared_ptr<auris::TextDecoder> decoder
        = std::make_shared<auris::TextDecoder>(std::make_shared<InlineProgressQueue>());
    std::shared_ptr<HookedSegmentSeeker> seeker = std::make_shared<HookedSegmentSeeker>();
    std::atomic<int> tokenizerLoads {0};

    explicit EngineFixture(bool withPrefill = true)
    {
        scriptOneWordPerWindow(*script);
        std::filesystem::create_directories(dir / auris::Auris::melBundleName);
        std::filesystem::create_directories(dir / auris::Auris::audioEncoderBundleName);
        writeScriptedDecoder(dir, script);
        if (withPrefill) writeScriptedPrefill(dir, prefillScript);
        encoder = std::make_shared<FixedAudioEncoder>(*script);
    }

    auris::AurisConfig config()
    {
        return auris::AurisConfig {
            .modelFolder = dir.path().string(),
            .featureExtractor = mel,
            .audioEncoder = encoder,
            .textDecoder = decoder,
            .segmentSeeker = seeker,
            .verbose = false,
            .load = false,
            .download = false,
            .tokenizerLoader =
                [this](auris::ModelVariant, const std::optional<std::filesystem::path>&, bool) {
                    ++tokenizerLoads;
                    return makeSmallTokenizer();
                },
        };
    }

    std::unique_ptr<auris::Auris> engine() { return std::make_unique<auris::Auris>(config()); }
};

// A constant signal of `seconds` length whose first sample (the value) tells the arrays apart.
inline std::vector<float> taggedAudio(float tag, double seconds)
{
    return std::vector<float>(static_cast<std::size_t>(seconds * 16000), tag);
}

} // namespace testsupport
