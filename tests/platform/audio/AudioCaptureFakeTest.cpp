#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/FakeAudioCapture.hpp"
#include "platform/audio/FileAudioCapture.hpp"
#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace platform;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

namespace {

struct Collected {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<float> samples;
    std::vector<std::size_t> blockFrames;
    std::vector<std::string> failures;

    AudioCaptureSource::BlockCallback onBlock()
    {
        return [this](const AudioCaptureBlock& block) {
            std::lock_guard lock(mutex);
            samples.insert(samples.end(), block.samples.begin(), block.samples.end());
            blockFrames.push_back(block.frameCount());
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
};

std::vector<AudioInputDevice> twoMicrophones()
{
    return {{7, "usb-mic", "USB Microphone", false, {44100, 1}}, {3, "built-in", "Built-in Audio", true, {48000, 2}}};
}

std::string startError(AudioCaptureSource& source, const AudioCaptureRequest& request)
{
    try {
        source.start(request, nullptr);
    } catch (const AudioCaptureError& error) {
        return error.what();
    }
    return "started";
}

} // namespace

TEST(AudioCaptureFake, ChoosesTheDeviceAndFormatAndRejectsBadRequestsWithoutStopping)
{
    FakeAudioCapture capture(twoMicrophones());
    EXPECT_EQ(capture.inputDevices(), twoMicrophones());

    EXPECT_EQ(capture.start({}, nullptr), (AudioCaptureFormat {48000, 2}));
    EXPECT_EQ(capture.start({"usb-mic"}, nullptr), (AudioCaptureFormat {44100, 1}));
    EXPECT_EQ(capture.start({"usb-mic", 16000, 2}, nullptr), (AudioCaptureFormat {16000, 2}));
    EXPECT_EQ(capture.lastRequest()->sampleRate, 16000u);
    ASSERT_TRUE(capture.isCapturing());

    // Requests no device could take are refused before the running stream is touched.
    EXPECT_THAT(startError(capture, {std::nullopt, 0}), HasSubstr("sample rate: 0"));
    EXPECT_THAT(startError(capture, {std::nullopt, std::nullopt, 0}), HasSubstr("channel count: 0"));
    EXPECT_THAT(startError(capture, {std::nullopt, std::nullopt, 33}), HasSubstr("channel count: 33"));
    EXPECT_THAT(startError(capture, {std::nullopt, 16000, 1, std::size_t {1} << 40}), HasSubstr("block too long"));
    EXPECT_THAT(startError(capture, {""}), HasSubstr("name is empty"));
    EXPECT_TRUE(capture.isCapturing());

    EXPECT_EQ(startError(capture, {"headset"}), "No input device named \"headset\"");
    EXPECT_FALSE(capture.isCapturing());

    capture.setDevices({{1, "usb-mic", "USB Microphone", false, {44100, 1}}});
    EXPECT_EQ(startError(capture, {}), "There is no default input device");

    capture.setDevices({{1, "odd", "Odd Device", true, {0, 2}}});
    EXPECT_THAT(startError(capture, {}), HasSubstr("unsupported format"));
    EXPECT_EQ(capture.start({std::nullopt, 8000}, nullptr), (AudioCaptureFormat {8000, 2}));
}

TEST(AudioCaptureFake, DeliversScriptedAudioInTenthOfASecondBlocks)
{
    FakeAudioCapture capture(twoMicrophones());
    const AudioCaptureFormat format {48000, 2};
    const auto first = FakeAudioCapture::tone(format, 440, 7000);
    const auto second = FakeAudioCapture::tone(format, 1000, 5000, 0.25f);
    capture.push(first); // waits for the start

    Collected collected;
    ASSERT_EQ(capture.start({}, collected.onBlock()), format);
    capture.push(second);
    ASSERT_TRUE(capture.waitUntilDelivered());

    // 12000 frames: two whole blocks of 4800, the rest waiting for more audio.
    EXPECT_EQ(collected.blockFrames, (std::vector<std::size_t> {4800, 4800}));
    auto expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    expected.resize(9600 * 2);
    EXPECT_EQ(collected.samples, expected);
    EXPECT_NEAR(collected.samples[2 * 27], 0.5f * std::sin(2 * M_PI * 440 * 27 / 48000.0), 1e-6);
}

TEST(AudioCaptureFake, ReplacingPausingResumingAndStoppingAStream)
{
    FakeAudioCapture capture(twoMicrophones());
    const AudioCaptureRequest request {std::nullopt, 16000, 1, 4};

    Collected first;
    Collected second;
    capture.start(request, first.onBlock());
    capture.push(std::vector<float>(4, 1.0f));
    ASSERT_TRUE(capture.waitUntilDelivered());

    // A new start stops the running stream first: nothing reaches the old callback afterwards.
    capture.start(request, second.onBlock());
    EXPECT_EQ(capture.startCount(), 2);
    capture.push(std::vector<float>(8, 2.0f));
    ASSERT_TRUE(capture.waitUntilDelivered());
    EXPECT_EQ(first.samples, std::vector<float>(4, 1.0f));
    EXPECT_EQ(second.samples, std::vector<float>(8, 2.0f));

    capture.stop();
    capture.stop();
    EXPECT_FALSE(capture.isCapturing());
    capture.pause();
    try {
        capture.resume();
        ADD_FAILURE() << "resumed a stopped stream";
    } catch (const AudioCaptureError& error) {
        EXPECT_STREQ(error.what(), "There is no capture stream to resume");
    }
    EXPECT_EQ(second.samples.size(), 8u);
}

TEST(AudioCaptureFake, InjectedFailuresReachTheCaller)
{
    FakeAudioCapture capture(twoMicrophones());
    const AudioCaptureRequest request {std::nullopt, 16000, 1, 4};
    Collected collected;
    capture.start(request, collected.onBlock(), collected.onFailure());

    capture.failNextStart("Device busy");
    EXPECT_EQ(startError(capture, request), "Device busy");
    EXPECT_FALSE(capture.isCapturing()) << "the replaced stream is stopped even when the new one fails";

    capture.start(request, collected.onBlock(), collected.onFailure());
    capture.push(std::vector<float>(10, 0.5f));
    capture.failStream("The input device stopped");
    EXPECT_FALSE(capture.isCapturing());
    {
        std::unique_lock lock(collected.mutex);
        ASSERT_TRUE(collected.changed.wait_for(lock, 10s, [&] { return !collected.failures.empty(); }));
        EXPECT_EQ(collected.samples.size(), 8u);
        EXPECT_EQ(collected.failures, std::vector<std::string> {"The input device stopped"});
    }
    EXPECT_THROW(capture.resume(), AudioCaptureError);
}

TEST(AudioCaptureFake, CallbacksMayStopOrRestartTheSource)
{
    FakeAudioCapture capture(twoMicrophones());
    const AudioCaptureRequest request {std::nullopt, 16000, 1, 2};
    Collected restarted;
    std::mutex mutex;
    std::condition_variable changed;
    int firstCalls = 0;
    capture.start(request, [&](const AudioCaptureBlock&) {
        std::lock_guard lock(mutex);
        if (++firstCalls == 1) {
            capture.start(request, restarted.onBlock());
        }
        changed.notify_all();
    });
    capture.push(std::vector<float>(2, 1.0f));
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return firstCalls == 1; }));
    }
    capture.push(std::vector<float>(6, 2.0f));
    ASSERT_TRUE(capture.waitUntilDelivered());
    EXPECT_EQ(restarted.samples, std::vector<float>(6, 2.0f));

    capture.stop();
    bool stoppedItself = false;
    capture.start(request, [&](const AudioCaptureBlock&) {
        capture.stop();
        std::lock_guard lock(mutex);
        stoppedItself = true;
        changed.notify_all();
    });
    capture.push(std::vector<float>(8, 1.0f));
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return stoppedItself; }));
    EXPECT_FALSE(capture.isCapturing());
    EXPECT_EQ(firstCalls, 1);
}

TEST(FileAudioCapture, EveryStartHearsTheWholeFileInTheCaptureFormatBeforeItReturns)
{
    testsupport::TemporaryDirectory folder;
    const auto file = folder / "speech.wav";
    // 1.05 s: the last block is completed with silence instead of being held back.
    const auto tone = testsupport::sine(440, 22050, 23152);
    testsupport::writeAudioFile(file, 22050, {tone, tone});
    FileAudioCapture source(file);
    const auto devices = source.inputDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, FileAudioCapture::deviceName);
    EXPECT_EQ(devices[0].description, "speech.wav");
    EXPECT_TRUE(devices[0].isDefault);
    EXPECT_EQ(devices[0].nativeFormat, (AudioCaptureFormat {22050, 2}));

    for (int start = 0; start < 2; ++start) {
        Collected collected;
        AudioCaptureRequest request;
        request.sampleRate = 16000;
        request.channelCount = 1;
        EXPECT_EQ(source.start(request, collected.onBlock(), collected.onFailure()), (AudioCaptureFormat {16000, 1}));
        EXPECT_TRUE(source.isCapturing());
        {
            std::lock_guard lock(collected.mutex);
            EXPECT_EQ(collected.samples.size(), 11u * 1600u);
            EXPECT_EQ(testsupport::strongestFrequency(std::vector<float>(collected.samples.begin(), collected.samples.begin() + 16000),
                          16000, {220, 440, 880}),
                440);
            EXPECT_TRUE(collected.failures.empty());
        }
        source.stop();
        EXPECT_FALSE(source.isCapturing());
    }

    // A file that cannot be read is a machine without a microphone.
    FileAudioCapture missing(folder / "missing.wav");
    EXPECT_TRUE(missing.inputDevices().empty());
    EXPECT_THAT(startError(missing, {}), HasSubstr("default input device"));
    testsupport::writeFile(folder / "broken.wav", "RIFF not really");
    FileAudioCapture broken(folder / "broken.wav");
    EXPECT_TRUE(broken.inputDevices().empty());
    EXPECT_NE(startError(broken, {}), "started");
}
