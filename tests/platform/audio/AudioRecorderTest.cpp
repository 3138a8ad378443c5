#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/AudioRecorder.hpp"
#include "platform/audio/FakeAudioCapture.hpp"

#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace platform;

namespace {

// A microphone that ignores the format asked for and delivers its own, as some servers do.
class NativeFormatCapture final : public AudioCaptureSource {
public:
    explicit NativeFormatCapture(std::shared_ptr<FakeAudioCapture> fake)
        : fake_(std::move(fake))
    {
    }
    std::vector<AudioInputDevice> inputDevices() override { return fake_->inputDevices(); }
    AudioCaptureFormat start(const AudioCaptureRequest& request, BlockCallback onBlock, FailureCallback onFailure) override
    {
        AudioCaptureRequest native = request;
        native.sampleRate.reset();
        native.channelCount.reset();
        native.framesPerBlock = 0;
        return fake_->start(native, std::move(onBlock), std::move(onFailure));
    }
    void pause() override { fake_->pause(); }
    void resume() override { fake_->resume(); }
    void stop() override { fake_->stop(); }
    bool isCapturing() const override { return fake_->isCapturing(); }

private:
    std::shared_ptr<FakeAudioCapture> fake_;
};

struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> finished;
    std::vector<std::string> encodeErrors;

    AudioRecorder::Delegate delegate()
    {
        return {[this](bool successfully) {
                    std::lock_guard lock(mutex);
                    finished.push_back(successfully);
                    changed.notify_all();
                },
            [this](const std::string& message) {
                std::lock_guard lock(mutex);
                encodeErrors.push_back(message);
            }};
    }
};

const AudioFileSettings voiceMemo {AudioFileSettings::FormatID::mpeg4AAC, 16000, 1, 32000};

std::vector<AudioInputDevice> stereoMicrophone()
{
    return {{1, "mic", "Microphone", true, {48000, 2}}};
}

} // namespace

TEST(AudioRecorder, EncodesCapturedAudioInTheFileFormatAndFinishesTheFileOnStop)
{
    testsupport::TemporaryDirectory folder;
    auto fake = std::make_shared<FakeAudioCapture>(stereoMicrophone());
    Reports reports;
    const auto url = folder / "memo.m4a";
    AudioRecorder recorder(url, voiceMemo, std::make_shared<NativeFormatCapture>(fake), reports.delegate());
    recorder.setKeepsRecordedAudio(2 * 16000);
    recorder.record();
    EXPECT_TRUE(recorder.isRecording());
    EXPECT_TRUE(std::filesystem::exists(url));

    fake->push(FakeAudioCapture::tone({48000, 2}, 440, 48000));
    ASSERT_TRUE(fake->waitUntilDelivered());
    recorder.stop();
    recorder.stop();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_NEAR(static_cast<double>(recorder.framesWritten()), 16000, 200);
    // What went into the file is there in memory as well, once.
    auto kept = recorder.takeRecordedAudio();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->format(), (AudioFormat {16000, 1}));
    EXPECT_EQ(static_cast<std::int64_t>(kept->frameLength()), recorder.framesWritten());
    EXPECT_EQ(testsupport::strongestFrequency(testsupport::channelSamples(*kept), 16000, {220, 440, 880}), 440);
    EXPECT_FALSE(recorder.takeRecordedAudio());
    AudioFile file(url);
    EXPECT_EQ(file.processingFormat(), (AudioFormat {16000, 1}));
    EXPECT_NEAR(static_cast<double>(file.length()), 16000, 2100);
    auto buffer = PCMBuffer::make(file.processingFormat(), static_cast<std::uint32_t>(file.length()));
    file.read(*buffer, static_cast<std::uint32_t>(file.length()));
    EXPECT_EQ(testsupport::strongestFrequency(testsupport::channelSamples(*buffer), 16000, {220, 440, 880}), 440);
    EXPECT_EQ(reports.finished, std::vector<bool> {true});
    EXPECT_TRUE(reports.encodeErrors.empty());

    // A recording longer than the copy may be keeps only its file.
    AudioRecorder longer(folder / "long.m4a", voiceMemo, std::make_shared<NativeFormatCapture>(fake), reports.delegate());
    longer.setKeepsRecordedAudio(8000);
    longer.record();
    fake->push(FakeAudioCapture::tone({48000, 2}, 440, 48000));
    ASSERT_TRUE(fake->waitUntilDelivered());
    longer.stop();
    EXPECT_FALSE(longer.takeRecordedAudio());
    EXPECT_NEAR(static_cast<double>(AudioFile(folder / "long.m4a").length()), 16000, 2100);
}

TEST(AudioRecorder, ABrokenStreamIsReportedOnceAndAFailedStartLeavesNoFile)
{
    testsupport::TemporaryDirectory folder;
    auto fake = std::make_shared<FakeAudioCapture>(stereoMicrophone());
    {
        Reports reports;
        AudioRecorder recorder(folder / "broken.m4a", voiceMemo, fake, reports.delegate());
        recorder.record();
        fake->push(FakeAudioCapture::tone({16000, 1}, 440, 8000));
        ASSERT_TRUE(fake->waitUntilDelivered());
        fake->failStream("The input device stopped");
        {
            std::unique_lock lock(reports.mutex);
            ASSERT_TRUE(reports.changed.wait_for(lock, std::chrono::seconds(30), [&] { return !reports.finished.empty(); }));
        }
        recorder.stop();
        EXPECT_EQ(reports.finished, std::vector<bool> {false});
        // What was captured before the break is kept in a readable file.
        EXPECT_NEAR(static_cast<double>(AudioFile(folder / "broken.m4a").length()), 8000, 2100);
    }

    fake->failNextStart("Cannot connect to the sound server");
    AudioRecorder refused(folder / "refused.m4a", voiceMemo, fake);
    EXPECT_THROW(refused.record(), AudioCaptureError);
    EXPECT_FALSE(refused.isRecording());
    EXPECT_FALSE(std::filesystem::exists(folder / "refused.m4a"));
    refused.stop();

    AudioRecorder unwritable(folder / "missing-folder" / "memo.m4a", voiceMemo, fake);
    EXPECT_THROW(unwritable.record(), AudioFileError);
    EXPECT_EQ(fake->startCount(), 2);
}
