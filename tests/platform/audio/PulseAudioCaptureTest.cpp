#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/FakeAudioCapture.hpp"
#include "platform/audio/PulseAudioCapture.hpp"

#include "support/PulseAudioTestServer.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testsupport::PulseAudioTestServer;

namespace {

struct Capture {
    std::mutex mutex;
    std::condition_variable changed;
    AudioCaptureFormat format;
    std::vector<float> samples;
    std::size_t blocks = 0;
    std::size_t wrongBlocks = 0;
    std::size_t framesPerBlock = 0;
    std::vector<std::string> failures;

    AudioCaptureSource::BlockCallback onBlock()
    {
        return [this](const AudioCaptureBlock& block) {
            std::lock_guard lock(mutex);
            if (block.format != format || block.frameCount() != framesPerBlock) {
                ++wrongBlocks;
            }
            ++blocks;
            samples.insert(samples.end(), block.samples.begin(), block.samples.end());
            changed.notify_all();
        };
    }

    AudioCaptureSource::FailureCallback onFailure()
    {
        return [this](const std::string& message) {
            std::lock_guard lock(mutex);
            failures.push_back(message);
            changed.notify_all();
        };
    }

    bool waitForFrames(std::size_t frames)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [&] { return samples.size() >= frames * format.channelCount; });
    }

    std::size_t blockCount()
    {
        std::lock_guard lock(mutex);
        return blocks;
    }
};

// Frequency of one channel from its rising zero crossings over the first `frames` frames.
double frequency(const std::vector<float>& samples, AudioCaptureFormat format, std::size_t channel, std::size_t frames)
{
    std::size_t crossings = 0;
    for (std::size_t frame = 1; frame < frames; ++frame) {
        const float before = samples[(frame - 1) * format.channelCount + channel];
        const float now = samples[frame * format.channelCount + channel];
        crossings += before < 0 && now >= 0;
    }
    return static_cast<double>(crossings) * format.sampleRate / static_cast<double>(frames);
}

float peak(const std::vector<float>& samples)
{
    float largest = 0;
    for (float sample : samples) {
        largest = std::max(largest, std::abs(sample));
    }
    return largest;
}

// A tone of 440 Hz on the left and 1000 Hz on the right, so that a swap or a mix-up shows.
std::vector<float> twoTones(std::uint32_t sampleRate, std::size_t frames)
{
    std::vector<float> samples;
    const auto left = FakeAudioCapture::tone({sampleRate, 1}, 440, frames);
    const auto right = FakeAudioCapture::tone({sampleRate, 1}, 1000, frames);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        samples.push_back(left[frame]);
        samples.push_back(right[frame]);
    }
    return samples;
}

// Feeds the server's microphone on a thread of its own while a test waits for the blocks.
class Feeder {
public:
    Feeder(PulseAudioTestServer& server, std::vector<float> samples)
        : thread_([&server, samples = std::move(samples), this] { server.feed(samples, 30s, &cancel_); })
    {
    }
    ~Feeder()
    {
        cancel_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> cancel_ {false};
    std::thread thread_;
};

} // namespace

TEST(PulseAudioCapture, WithoutASoundServerListsNothingAndRefusesToStart)
{
    testsupport::TemporaryDirectory directory;
    PulseAudioCapture capture({"unix:" + (directory / "no-server-here").string(), "Parlino tests", 5s});
    EXPECT_TRUE(capture.inputDevices().empty());

    try {
        capture.start({}, [](const AudioCaptureBlock&) {});
        ADD_FAILURE() << "capture started without a server";
    } catch (const AudioCaptureError& error) {
        EXPECT_THAT(error.what(), HasSubstr("Cannot connect to the sound server"));
    }
    EXPECT_FALSE(capture.isCapturing());
    EXPECT_THROW(capture.resume(), AudioCaptureError);
    capture.pause();
    capture.stop();

    // A bad request is refused before any connection is tried.
    try {
        capture.start({std::nullopt, 0}, nullptr);
        ADD_FAILURE() << "a zero sample rate was accepted";
    } catch (const AudioCaptureError& error) {
        EXPECT_THAT(error.what(), HasSubstr("sample rate"));
    }
}

TEST(PulseAudioCapture, CapturesFromAPrivateServer)
{
    std::string whyNot;
    auto server = PulseAudioTestServer::start(whyNot);
    if (!server) {
        GTEST_SKIP() << "no PulseAudio server could be started: " << whyNot;
    }
    PulseAudioCapture capture({server->address(), "Parlino tests", 10s});

    const auto devices = capture.inputDevices();
    ASSERT_EQ(devices.size(), 1u) << "monitors of outputs are not inputs; server log:\n" << server->log();
    EXPECT_EQ(devices[0].name, "parlino_test_mic");
    EXPECT_EQ(devices[0].description, "Parlino Test Microphone");
    EXPECT_TRUE(devices[0].isDefault);
    EXPECT_EQ(devices[0].nativeFormat, (AudioCaptureFormat {48000, 2}));

    // The default device in its own format, in tenth-of-a-second blocks.
    Capture native;
    native.format = capture.start({}, native.onBlock(), native.onFailure());
    native.framesPerBlock = 4800;
    ASSERT_EQ(native.format, (AudioCaptureFormat {48000, 2}));
    EXPECT_TRUE(capture.isCapturing());
    {
        Feeder feeder(*server, twoTones(48000, 72000));
        ASSERT_TRUE(native.waitForFrames(48000)) << server->log();
    }
    {
        std::lock_guard lock(native.mutex);
        EXPECT_EQ(native.wrongBlocks, 0u);
        EXPECT_NEAR(frequency(native.samples, native.format, 0, 48000), 440, 440 * 0.02);
        EXPECT_NEAR(frequency(native.samples, native.format, 1, 48000), 1000, 1000 * 0.02);
        EXPECT_NEAR(peak(native.samples), 0.5f, 0.02f);
    }

    // A chosen device in a chosen format replaces the running stream; the server converts.
    Capture converted;
    converted.format = capture.start({"parlino_test_mic", 16000, 2, 1600}, converted.onBlock(), converted.onFailure());
    converted.framesPerBlock = 1600;
    ASSERT_EQ(converted.format, (AudioCaptureFormat {16000, 2}));
    const auto nativeBlocks = native.blockCount();
    {
        Feeder feeder(*server, twoTones(48000, 72000));
        ASSERT_TRUE(converted.waitForFrames(16000)) << server->log();
    }
    EXPECT_EQ(native.blockCount(), nativeBlocks) << "the replaced stream still delivered";
    {
        std::lock_guard lock(converted.mutex);
        EXPECT_EQ(converted.wrongBlocks, 0u);
        EXPECT_NEAR(frequency(converted.samples, converted.format, 0, 16000), 440, 440 * 0.02);
        EXPECT_NEAR(frequency(converted.samples, converted.format, 1, 16000), 1000, 1000 * 0.02);
    }

    capture.pause();
    capture.resume();
    {
        const auto before = converted.blockCount();
        Feeder feeder(*server, twoTones(48000, 24000));
        std::unique_lock lock(converted.mutex);
        EXPECT_TRUE(converted.changed.wait_for(lock, 30s, [&] { return converted.blocks > before; }))
            << "no audio after resuming";
    }

    try {
        capture.start({"no_such_microphone"}, nullptr);
        ADD_FAILURE() << "started on a missing device";
    } catch (const AudioCaptureError& error) {
        EXPECT_STREQ(error.what(), "No input device named \"no_such_microphone\"");
    }
    EXPECT_FALSE(capture.isCapturing());

    // A chosen device that goes away ends capture instead of moving it to another input.
    {
        Capture chosen;
        chosen.format = capture.start({"parlino_test_mic"}, chosen.onBlock(), chosen.onFailure());
        ASSERT_TRUE(server->control({"unload-module", "module-pipe-source"})) << server->log();
        std::unique_lock lock(chosen.mutex);
        ASSERT_TRUE(chosen.changed.wait_for(lock, 30s, [&] { return !chosen.failures.empty(); }));
        EXPECT_THAT(chosen.failures, ::testing::ElementsAre(HasSubstr("The input device stopped")));
    }
    EXPECT_FALSE(capture.isCapturing());
    EXPECT_TRUE(capture.inputDevices().empty());

    // The server going away ends capture with a reason.
    Capture orphaned;
    orphaned.format = capture.start({"parlino_test_output.monitor"}, orphaned.onBlock(), orphaned.onFailure());
    server->kill();
    {
        std::unique_lock lock(orphaned.mutex);
        ASSERT_TRUE(orphaned.changed.wait_for(lock, 30s, [&] { return !orphaned.failures.empty(); }));
        ASSERT_THAT(orphaned.failures, ::testing::SizeIs(1));
        EXPECT_THAT(orphaned.failures[0], HasSubstr("The connection to the sound server was lost"));
    }
    EXPECT_FALSE(capture.isCapturing());
    EXPECT_THROW(capture.resume(), AudioCaptureError);
    capture.stop();
    EXPECT_TRUE(capture.inputDevices().empty());
}
