#include "LibraryFixture.hpp"

#include "app/library/AudioPlayerManager.hpp"
#include "platform/audio/MP4Duration.hpp"
#include "platform/audio/PulseAudioCapture.hpp"

#include "support/PulseAudioTestServer.hpp"

#include <QSignalSpy>

#include <gmock/gmock.h>

#include <cmath>
#include <mutex>

using namespace parlino;
using namespace librarytest;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr std::uint32_t monitorRate = 16000;

// What the server's output plays, heard through its monitor: where sound starts and ends.
class SinkListener {
public:
    explicit SinkListener(const std::string& server)
        : capture_(platform::PulseAudioCaptureOptions {server})
    {
        platform::AudioCaptureRequest request;
        request.deviceName = "parlino_test_output.monitor";
        request.sampleRate = monitorRate;
        request.channelCount = 1;
        request.framesPerBlock = monitorRate / 50;
        capture_.start(request, [this](const platform::AudioCaptureBlock& block) {
            std::lock_guard lock(mutex_);
            for (const float sample : block.samples) {
                if (std::abs(sample) > 0.05f) {
                    firstLoud_ = firstLoud_.value_or(frames_);
                    lastLoud_ = frames_;
                }
                ++frames_;
            }
        });
    }

    // Seconds from the first loud sample to the last.
    double soundSeconds() const
    {
        std::lock_guard lock(mutex_);
        return firstLoud_ ? static_cast<double>(lastLoud_ - *firstLoud_ + 1) / monitorRate : 0;
    }

    // Sound was heard and has been quiet for `seconds` since.
    bool quietFor(double seconds) const
    {
        std::lock_guard lock(mutex_);
        return firstLoud_ && static_cast<double>(frames_ - lastLoud_) / monitorRate >= seconds;
    }

    bool heardSound() const { return soundSeconds() > 0; }

private:
    platform::PulseAudioCapture capture_;
    mutable std::mutex mutex_;
    std::size_t frames_ = 0;
    std::optional<std::size_t> firstLoud_;
    std::size_t lastLoud_ = 0;
};

class AudioPlayerManagerTest : public LibraryFixture {
protected:
    void SetUp() override
    {
        std::string whyNot;
        server_ = testsupport::PulseAudioTestServer::start(whyNot);
        if (!server_) {
            GTEST_SKIP() << "No private sound server: " << whyNot;
        }
    }

    Recording recordingOf(const std::filesystem::path& audio, double duration)
    {
        Recording recording;
        recording.id = QUuid::createUuid();
        recording.audioURL = audio;
        recording.title = QStringLiteral("Tone");
        recording.duration = duration;
        return recording;
    }

    std::unique_ptr<testsupport::PulseAudioTestServer> server_;
};

} // namespace

TEST_F(AudioPlayerManagerTest, PlaysARecordingToTheEndThroughTheSoundServer)
{
    const auto tone = root() / "tone.m4a";
    writeAudio(tone, 1.0);
    SinkListener sink(server_->address());
    AudioPlayerManager player(platform::SoundServerOptions {server_->address()});
    QSignalSpy finished(&player, &AudioPlayback::finished);
    QSignalSpy decodeErrors(&player, &AudioPlayback::decodeError);
    QSignalSpy failures(&player, &AudioPlayback::playbackFailed);

    CapturedConsole console;
    player.play(recordingOf(tone, 1.0));
    EXPECT_TRUE(player.isPlaying());
    EXPECT_EQ(player.currentRecording()->audioURL, tone);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return finished.count() > 0 || !failures.isEmpty(); }));
    ASSERT_TRUE(failures.isEmpty()) << failures.front().front().toString().toStdString();
    // Finished means heard: by now nearly all of the second has come out of the output.
    EXPECT_GT(sink.soundSeconds(), 0.75);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.currentTime(), 0);
    EXPECT_NEAR(player.duration(), 1.0, 0.1);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return sink.quietFor(0.3); }));
    EXPECT_NEAR(sink.soundSeconds(), 1.0, 0.15);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(decodeErrors.isEmpty());
    EXPECT_TRUE(contains(console.lines(), "⏹️ Playback finished"));
}

TEST_F(AudioPlayerManagerTest, StopsAtOnceAndReportsNothingOfTheStoppedPlayback)
{
    const auto tone = root() / "long.m4a";
    writeAudio(tone, 3.0);
    SinkListener sink(server_->address());
    AudioPlayerManager player(platform::SoundServerOptions {server_->address()});
    QSignalSpy finished(&player, &AudioPlayback::finished);

    player.play(recordingOf(tone, 3.0));
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return sink.heardSound(); }));
    player.stop();
    EXPECT_FALSE(player.isPlaying());
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return sink.quietFor(0.3); }));
    EXPECT_LT(sink.soundSeconds(), 2.0);

    // The next playback's report is the only one that arrives.
    const auto corrupt = root() / "corrupt.m4a";
    testsupport::writeFile(corrupt, std::string(4096, '\x5a'));
    QSignalSpy decodeErrors(&player, &AudioPlayback::decodeError);
    player.play(recordingOf(corrupt, 1.0));
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !decodeErrors.isEmpty(); }));
    EXPECT_EQ(finished.count(), 0);
}

TEST_F(AudioPlayerManagerTest, ACutFilePlaysAsLongAsTheLibraryListsItAndADamagedOneGivesTheDecodeError)
{
    const auto whole = root() / "whole.m4a";
    writeAudio(whole, 2.0);
    const std::string bytes = testsupport::readFile(whole);
    const std::size_t secondFragment = bytes.find("moof", bytes.find("moof") + 4);
    ASSERT_NE(secondFragment, std::string::npos);
    // Cut inside a fragment's boxes, inside its audio data, and in the middle, as copies that broke off.
    for (const std::size_t cut : {secondFragment + 16, bytes.find("mdat", secondFragment) + 300, bytes.size() / 2}) {
        SCOPED_TRACE(cut);
        const auto file = root() / ("cut-" + std::to_string(cut) + ".m4a");
        testsupport::writeFile(file, bytes.substr(0, cut));
        const std::optional<double> listed = platform::MP4Duration::read(file);
        ASSERT_TRUE(listed);
        ASSERT_GT(*listed, 0.5);
        AudioPlayerManager player(platform::SoundServerOptions {server_->address()});
        QSignalSpy finished(&player, &AudioPlayback::finished);
        QSignalSpy decodeErrors(&player, &AudioPlayback::decodeError);
        QSignalSpy failures(&player, &AudioPlayback::playbackFailed);
        player.play(recordingOf(file, *listed));
        ASSERT_TRUE(testsupport::processEventsUntil(
            [&] { return finished.count() > 0 || !failures.isEmpty() || !decodeErrors.isEmpty(); }));
        EXPECT_TRUE(decodeErrors.isEmpty()) << decodeErrors.front().front().toString().toStdString();
        EXPECT_EQ(finished.count(), 1);
        EXPECT_NEAR(player.duration(), *listed, 1024.0 / 16000);
        EXPECT_EQ(testsupport::readFile(file), bytes.substr(0, cut));
    }

    const auto corrupt = root() / "corrupt.m4a";
    std::string scrambled = bytes;
    for (std::size_t i = 0; i < scrambled.size(); i += 7) {
        scrambled[i] = static_cast<char>(scrambled[i] ^ 0x5a);
    }
    testsupport::writeFile(corrupt, scrambled);

    AudioPlayerManager player(platform::SoundServerOptions {server_->address()});
    QSignalSpy decodeErrors(&player, &AudioPlayback::decodeError);
    QSignalSpy finished(&player, &AudioPlayback::finished);
    CapturedConsole console;
    player.play(recordingOf(corrupt, 1.0));
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !decodeErrors.isEmpty(); }));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_TRUE(finished.isEmpty());
    const QString description = decodeErrors.front().front().toString();
    EXPECT_FALSE(description.isEmpty());
    EXPECT_TRUE(contains(console.lines(), "❌ Decode error: " + description.toStdString()));

    // A file that is not there changes nothing.
    QSignalSpy failures(&player, &AudioPlayback::playbackFailed);
    CapturedConsole missing;
    player.play(recordingOf(root() / "missing.m4a", 1.0));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.currentRecording()->audioURL, corrupt);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !failures.isEmpty(); }));
    EXPECT_THAT(missing.lines(), testing::ElementsAre(StartsWith("❌ Play failed: Cannot open audio file ")));

    // Without a description the error reads as unknown.
    CapturedConsole unknown;
    player.audioPlayerDecodeErrorDidOccur(std::nullopt);
    EXPECT_EQ(unknown.lines(), std::vector<std::string> {"❌ Decode error: unknown"});
}
