#include "platform/audio/AudioCaptureWorker.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <numeric>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// Collects what a worker delivers; waits are bounded.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<AudioCaptureBlock> blocks;
    std::vector<std::string> failures;

    AudioCaptureSource::BlockCallback onBlock()
    {
        return [this](const AudioCaptureBlock& block) {
            std::lock_guard lock(mutex);
            blocks.push_back(block);
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

    bool waitForFailure()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return !failures.empty(); });
    }

    std::vector<float> samples()
    {
        std::lock_guard lock(mutex);
        std::vector<float> all;
        for (const auto& block : blocks) {
            all.insert(all.end(), block.samples.begin(), block.samples.end());
        }
        return all;
    }

    std::size_t blockCount()
    {
        std::lock_guard lock(mutex);
        return blocks.size();
    }
};

std::vector<float> ramp(std::size_t count, float first = 0)
{
    std::vector<float> values(count);
    std::iota(values.begin(), values.end(), first);
    return values;
}

const AudioCaptureFormat stereo {8000, 2};

} // namespace

TEST(AudioCaptureWorker, CutsAudioHandedInAnyPiecesIntoWholeBlocksInOrder)
{
    Recorder recorder;
    AudioCaptureWorker worker(stereo, 3, 1000, recorder.onBlock(), recorder.onFailure());

    // 23 frames of stereo, handed in by byte counts that split frames and even single floats.
    const auto input = ramp(46, 1);
    const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
    std::size_t offset = 0;
    for (std::size_t piece : {5u, 1u, 30u, 7u, 64u, 77u}) {
        worker.append(bytes + offset, piece);
        offset += piece;
    }
    worker.append(bytes + offset, input.size() * sizeof(float) - offset);
    worker.appendSilence(3 * 2 * sizeof(float));
    ASSERT_TRUE(worker.waitUntilDelivered(10s));

    // 26 frames make 8 whole blocks; the 2 left over wait for more.
    ASSERT_EQ(recorder.blockCount(), 8u);
    for (const auto& block : recorder.blocks) {
        EXPECT_EQ(block.format, stereo);
        EXPECT_EQ(block.frameCount(), 3u);
    }
    auto expected = input;
    expected.insert(expected.end(), 2, 0.0f);
    EXPECT_EQ(recorder.samples(), expected);
    EXPECT_TRUE(worker.isRunning());
    EXPECT_EQ(worker.droppedFrames(), 0u);
}

TEST(AudioCaptureWorker, PauseHoldsDeliveryAndOverflowDropsNewAudio)
{
    Recorder recorder;
    AudioCaptureWorker worker(stereo, 2, 4, recorder.onBlock(), recorder.onFailure());
    worker.setPaused(true);
    worker.append(ramp(8));
    worker.append(ramp(4, 100)); // beyond four waiting frames
    ASSERT_TRUE(worker.waitUntilDelivered(10s));
    EXPECT_EQ(recorder.blockCount(), 0u);
    EXPECT_EQ(worker.droppedFrames(), 2u);

    worker.setPaused(false);
    ASSERT_TRUE(worker.waitUntilDelivered(10s));
    EXPECT_EQ(recorder.samples(), ramp(8));

    worker.append(ramp(4, 50));
    ASSERT_TRUE(worker.waitUntilDelivered(10s));
    EXPECT_EQ(recorder.blockCount(), 3u);
}

TEST(AudioCaptureWorker, FailureDeliversWholeBlocksThenReportsOnceAndEnds)
{
    for (bool paused : {false, true}) {
        Recorder recorder;
        AudioCaptureWorker worker(stereo, 2, 100, recorder.onBlock(), recorder.onFailure());
        worker.setPaused(paused);
        worker.append(ramp(10)); // two whole blocks and half of one
        worker.fail("device unplugged");
        worker.fail("second report");
        worker.append(ramp(8));
        EXPECT_FALSE(worker.isRunning());
        ASSERT_TRUE(recorder.waitForFailure());
        ASSERT_TRUE(worker.waitUntilDelivered(10s));
        EXPECT_EQ(recorder.samples(), ramp(8)) << "paused " << paused;
        EXPECT_EQ(recorder.failures, std::vector<std::string> {"device unplugged"});
    }
}

TEST(AudioCaptureWorker, StopFromACallbackEndsDeliveryWithoutWaitingForItself)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
    int delivered = 0;
    // Released, and so signalling, when the worker thread lets go of its callbacks as it ends.
    std::shared_ptr<void> endSignal(nullptr, [&](void*) {
        std::lock_guard lock(mutex);
        ended = true;
        changed.notify_all();
    });

    AudioCaptureWorker* self = nullptr;
    auto worker = std::make_unique<AudioCaptureWorker>(
        stereo, 1, 100,
        [&, endSignal](const AudioCaptureBlock&) {
            ++delivered;
            self->stop();
        },
        nullptr);
    self = worker.get();
    endSignal.reset();
    worker->append(ramp(10));

    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return ended; }));
    EXPECT_EQ(delivered, 1);
    EXPECT_FALSE(worker->isRunning());
}
