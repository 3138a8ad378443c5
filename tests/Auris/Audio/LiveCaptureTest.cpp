#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "platform/audio/FakeAudioCapture.hpp"
#include "platform/audio/PulseAudioCapture.hpp"

#include "Auris/Audio/LogCapture.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

using namespace auris;
using platform::AudioCaptureFormat;
using platform::AudioInputDevice;
using platform::FakeAudioCapture;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

AudioInputDevice device(std::uint32_t id, std::string name, AudioCaptureFormat format, bool isDefault = false)
{
    return {id, name, "Input " + name, isDefault, format};
}

// Collects what the buffer callback receives on the capture thread.
struct Received {
    std::mutex mutex;
    std::vector<std::size_t> sizes;

    AudioBufferCallback callback()
    {
        return [this](const std::vector<float>& buffer) {
            std::lock_guard lock(mutex);
            sizes.push_back(buffer.size());
        };
    }
    std::size_t total()
    {
        std::lock_guard lock(mutex);
        std::size_t sum = 0;
        for (auto size : sizes) {
            sum += size;
        }
        return sum;
    }
};

WhisperError::Kind errorKind(const std::function<void()>& action, std::string* message = nullptr)
{
    try {
        action();
    } catch (const WhisperError& error) {
        if (message) {
            *message = error.what();
        }
        return error.kind();
    }
    ADD_FAILURE() << "no WhisperError was thrown";
    return WhisperError::Kind::decodingFailed;
}

double risingCrossingsPerSecond(const std::vector<float>& samples, std::size_t from)
{
    std::size_t crossings = 0;
    for (std::size_t i = from + 1; i < samples.size(); ++i) {
        crossings += samples[i - 1] < 0 && samples[i] >= 0;
    }
    return static_cast<double>(crossings) * 16000.0 / static_cast<double>(samples.size() - from);
}

} // namespace

TEST(LiveCapture, StereoAt48kBecomesMonoAt16kInTenthSecondBuffers)
{
    const AudioCaptureFormat stereo {48000, 2};
    auto fake = std::make_shared<FakeAudioCapture>(std::vector {device(3, "usb", stereo, true)});
    AudioProcessor processor(fake);
    Received received;
    processor.startRecordingLive(std::nullopt, received.callback());

    fake->push(FakeAudioCapture::tone(stereo, 440, 48000, 0.5f));
    ASSERT_TRUE(fake->waitUntilDelivered());

    const auto samples = processor.audioSamples();
    // The converter's filter may hold back a few frames, never more.
    EXPECT_NEAR(static_cast<double>(samples.size()), 16000.0, 64.0);
    EXPECT_EQ(received.total(), samples.size());
    // One energy entry per 0.1 s of audio, whatever the device's rate.
    EXPECT_EQ(processor.relativeEnergy().size(), 10u);
    for (auto size : received.sizes) {
        EXPECT_NEAR(static_cast<double>(size), 1600.0, 64.0);
    }
    EXPECT_NEAR(risingCrossingsPerSecond(samples, 1600), 440.0, 6.0);
    EXPECT_NEAR(processor.audioEnergy().back().max, 0.5f, 0.02f);

    // A device already at the engine's format is taken sample for sample.
    const AudioCaptureFormat engine {16000, 1};
    fake->setDevices({device(4, "headset", engine, true)});
    processor.startRecordingLive();
    EXPECT_TRUE(processor.audioSamples().empty());
    const auto tone = FakeAudioCapture::tone(engine, 300, 4000, 0.25f);
    fake->push(tone);
    ASSERT_TRUE(fake->waitUntilDelivered());
    // 4000 frames make two whole 0.1 s blocks; the rest waits for more audio.
    EXPECT_EQ(processor.audioSamples(), std::vector<float>(tone.begin(), tone.begin() + 3200));
}

TEST(LiveCapture, BufferIntakeMeasuresEnergyAgainstRecentQuietestBuffer)
{
    testsupport::LogCapture log;
    AudioProcessor processor(std::make_shared<FakeAudioCapture>());
    EXPECT_TRUE(processor.relativeEnergy().empty());
    EXPECT_EQ(processor.maxBufferLength(), 480000);
    EXPECT_EQ(processor.minBufferLength(), 1600);
    EXPECT_EQ(processor.relativeEnergyWindow(), 20);

    const std::vector<float> quiet(1600, 0.01f);
    const std::vector<float> loud(1600, 1.0f);
    processor.processBuffer(quiet);
    processor.processBuffer(quiet);
    processor.processBuffer(loud);
    const std::vector<float> middle(1600, 0.1f);
    processor.processBuffer(middle);
    auto energies = processor.relativeEnergy();
    ASSERT_EQ(energies.size(), 4u);
    EXPECT_EQ(energies[0], 0.0f); // nothing to compare the first buffer with
    EXPECT_EQ(energies[1], 0.0f);
    EXPECT_FLOAT_EQ(energies[2], 1.0f);
    EXPECT_NEAR(energies[3], 0.5f, 1e-5f); // 20 dB above a reference 40 dB down
    const auto last = processor.audioEnergy().back();
    EXPECT_NEAR(last.avg, 0.1f, 1e-6f);
    EXPECT_EQ(last.max, 0.1f);
    EXPECT_EQ(last.min, 0.1f);

    // Once twenty loud buffers follow, the quieter ones are out of reach and loud is the new floor.
    for (int i = 0; i < 21; ++i) {
        processor.processBuffer(loud);
    }
    EXPECT_EQ(processor.relativeEnergy().back(), 0.0f);

    // 25 buffers of 1600 samples crossed one multiple of 32000.
    const auto paced = log.startingWith("Current audio size: ");
    ASSERT_EQ(paced.size(), 1u);
    EXPECT_EQ(paced[0], "Current audio size: 32000 samples, most recent buffer: 1600 samples, "
                        "most recent energy: (rel: 1.0, avg: 1.0, max: 1.0, min: 1.0)");
    processor.setRelativeEnergyWindow(0);
    processor.processBuffer(std::vector<float>(64000, 0.5f));
    EXPECT_EQ(log.startingWith("Current audio size: ").size(), 1u);

    // Purging keeps the newest samples and leaves the energies alone.
    processor.purgeAudioSamples(32000);
    auto samples = processor.audioSamples();
    ASSERT_EQ(samples.size(), 32000u);
    EXPECT_EQ(samples.front(), 0.5f);
    processor.purgeAudioSamples(100000);
    EXPECT_EQ(processor.audioSamples().size(), 32000u);
    EXPECT_EQ(processor.relativeEnergy().size(), 26u);
}

TEST(LiveCapture, PauseResumeAndDeviceChangesRecordFromTheDeviceAskedFor)
{
    const AudioCaptureFormat engine {16000, 1};
    auto fake = std::make_shared<FakeAudioCapture>(
        std::vector {device(1, "built_in", engine, true), device(2, "usb", engine)});
    AudioProcessor processor(fake);
    Received atStart;
    processor.startRecordingLive(1, atStart.callback());
    EXPECT_EQ(fake->lastRequest()->deviceName, "built_in");
    fake->push(std::vector<float>(1600, 0.2f));
    ASSERT_TRUE(fake->waitUntilDelivered());

    processor.pauseRecording();
    EXPECT_TRUE(fake->isPaused());
    processor.resumeRecordingLive(1);
    EXPECT_EQ(fake->startCount(), 1); // the paused stream goes on
    EXPECT_FALSE(fake->isPaused());

    processor.resumeRecordingLive(2);
    EXPECT_EQ(fake->startCount(), 2);
    EXPECT_EQ(fake->lastRequest()->deviceName, "usb");
    processor.resumeRecordingLive(1);
    EXPECT_EQ(fake->startCount(), 3);
    EXPECT_EQ(fake->lastRequest()->deviceName, "built_in");

    // Samples survive resumes, and a resume without a callback keeps the one given at start.
    fake->push(std::vector<float>(1600, 0.2f));
    ASSERT_TRUE(fake->waitUntilDelivered());
    EXPECT_EQ(processor.audioSamples().size(), 3200u);
    EXPECT_EQ(atStart.total(), 3200u);

    processor.stopRecording();
    EXPECT_FALSE(fake->isCapturing());
    EXPECT_EQ(processor.audioSamples().size(), 3200u);
    EXPECT_EQ(errorKind([&] { processor.resumeRecordingLive(1); }), WhisperError::Kind::microphoneUnavailable);

    // An unknown device is reported and the default input is used.
    testsupport::LogCapture log;
    processor.startRecordingLive(99);
    EXPECT_EQ(fake->lastRequest()->deviceName, std::nullopt);
    EXPECT_THAT(log.lines(), ::testing::Contains("Error setting Audio Unit property: no input device with id 99"));

    // A stream that breaks cannot be resumed; a new start works.
    fake->failStream("device unplugged");
    ASSERT_TRUE(fake->waitUntilDelivered());
    std::string message;
    EXPECT_EQ(errorKind([&] { processor.resumeRecordingLive(99); }, &message), WhisperError::Kind::microphoneUnavailable);
    processor.startRecordingLive();
    EXPECT_TRUE(fake->isCapturing());
}

TEST(LiveCapture, FailedStartsLeaveNothingRunning)
{
    const AudioCaptureFormat engine {16000, 1};
    auto fake = std::make_shared<FakeAudioCapture>(std::vector {device(1, "mic", engine, true)});
    AudioProcessor processor(fake);
    processor.startRecordingLive();
    fake->push(std::vector<float>(1600, 0.2f));
    ASSERT_TRUE(fake->waitUntilDelivered());

    fake->failNextStart("Cannot connect to the sound server");
    std::string message;
    EXPECT_EQ(errorKind([&] { processor.startRecordingLive(); }, &message), WhisperError::Kind::microphoneUnavailable);
    EXPECT_EQ(message, "Cannot connect to the sound server");
    EXPECT_TRUE(processor.audioSamples().empty());
    EXPECT_FALSE(fake->isCapturing());
    EXPECT_EQ(errorKind([&] { processor.resumeRecordingLive(); }), WhisperError::Kind::microphoneUnavailable);

    // Without a sound server there are no devices and capture cannot begin.
    testsupport::TemporaryDirectory directory;
    platform::PulseAudioCaptureOptions options;
    options.server = "unix:" + (directory / "no-server").string();
    options.timeout = std::chrono::seconds(5);
    auto pulse = std::make_shared<platform::PulseAudioCapture>(options);
    EXPECT_TRUE(AudioProcessor::getAudioDevices(*pulse).empty());
    AudioProcessor unplugged(pulse);
    EXPECT_EQ(errorKind([&] { unplugged.startRecordingLive(); }, &message), WhisperError::Kind::microphoneUnavailable);
    EXPECT_THAT(message, HasSubstr("sound server"));
}

TEST(LiveCapture, DeviceListShowsInputsWithChannels)
{
    AudioInputDevice unnamed = device(9, "hdmi", {48000, 2});
    unnamed.description.clear();
    AudioInputDevice outputOnly = device(5, "speaker", {48000, 0});
    FakeAudioCapture fake({device(1, "mic", {44100, 1}, true), outputOnly, unnamed});
    EXPECT_THAT(AudioProcessor::getAudioDevices(fake), ElementsAre(AudioDevice {1, "Input mic"}, AudioDevice {9, ""}));
    EXPECT_TRUE(AudioProcessor::requestRecordPermission());
}
