#pragma once

#include "Auris/Audio/AudioProcessing.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Streaming/AudioStreamTranscriber.hpp"

#include <chrono>
#include <cmath>
#include <algorithm>
#include <functional>
#include <string>
#include <mutex>
#include <vector>

namespace testsupport {

// A microphone the test fills by hand: each added stretch becomes samples (a tone when loud,
// silence otherwise), one relative energy per 0.1 s, and one buffer callback.
class ScriptedMicrophone final : public auris::AudioProcessing {
public:
    void add(double seconds, float relativeEnergy)
    {
        auris::AudioBufferCallback callback;
        {
            std::lock_guard lock(mutex_);
            const auto count = static_cast<std::size_t>(std::lround(seconds * sampleRate));
            for (std::size_t i = 0; i < count; ++i) {
                const double phase = 2 * M_PI * 440.0 * static_cast<double>(samples_.size()) / sampleRate;
                samples_.push_back(relativeEnergy > 0 ? static_cast<float>(0.5 * std::sin(phase)) : 0.0f);
            }
            energies_.insert(energies_.end(), static_cast<std::size_t>(std::lround(seconds * 10)), relativeEnergy);
            callback = recording_ ? callback_ : nullptr;
        }
        if (callback) {
            callback({});
        }
    }

    void failNextStart() { failNextStart_ = true; }
    int starts() const { std::lock_guard lock(mutex_); return starts_; }
    bool isRecording() const { std::lock_guard lock(mutex_); return recording_; }

    std::vector<float> audioSamples() const override { std::lock_guard lock(mutex_); return samples_; }
    void purgeAudioSamples(int) override { }
    std::vector<float> relativeEnergy() const override { std::lock_guard lock(mutex_); return energies_; }
    int relativeEnergyWindow() const override { return 20; }
    void setRelativeEnergyWindow(int) override { }
    void startRecordingLive(std::optional<std::uint32_t>, auris::AudioBufferCallback callback) override
    {
        std::lock_guard lock(mutex_);
        if (std::exchange(failNextStart_, false)) {
            throw auris::WhisperError::microphoneUnavailable("Cannot connect to the sound server");
        }
        ++starts_;
        samples_.clear();
        energies_.clear();
        callback_ = std::move(callback);
        recording_ = true;
    }
    void pauseRecording() override { }
    void stopRecording() override
    {
        std::lock_guard lock(mutex_);
        recording_ = false;
    }
    void resumeRecordingLive(std::optional<std::uint32_t>, auris::AudioBufferCallback) override { }

private:
    mutable std::mutex mutex_;
    std::vector<float> samples_;
    std::vector<float> energies_;
    auris::AudioBufferCallback callback_;
    bool recording_ = false;
    bool failNextStart_ = false;
    int starts_ = 0;
};

// The loop's idle waits return at once; each runs the test's next step instead.
class ScriptedClock final : public auris::StreamingClock {
public:
    std::vector<std::function<void()>> steps;
    // Runs when the steps are used up, so that a loop that goes on too long still ends.
    std::function<void()> whenDone;
    int sleeps = 0;

    void sleep(std::chrono::milliseconds duration) override
    {
        durations.push_back(duration);
        const auto index = static_cast<std::size_t>(sleeps++);
        if (index < steps.size()) {
            steps[index]();
        } else if (whenDone) {
            whenDone();
        }
    }

    std::vector<std::chrono::milliseconds> durations;
};

// Every state change the transcriber reports, in order.
struct StateLog {
    std::mutex mutex;
    std::vector<std::pair<auris::AudioStreamTranscriber::State, auris::AudioStreamTranscriber::State>> changes;

    auris::AudioStreamTranscriber::StateChangeCallback callback()
    {
        return [this](const auris::AudioStreamTranscriber::State& before, const auris::AudioStreamTranscriber::State& after) {
            std::lock_guard lock(mutex);
            changes.emplace_back(before, after);
        };
    }

    auris::AudioStreamTranscriber::State last()
    {
        std::lock_guard lock(mutex);
        return changes.empty() ? auris::AudioStreamTranscriber::State {} : changes.back().second;
    }

    std::size_t count(const std::function<bool(const auris::AudioStreamTranscriber::State& before,
            const auris::AudioStreamTranscriber::State& after)>& matches)
    {
        std::lock_guard lock(mutex);
        return static_cast<std::size_t>(std::count_if(
            changes.begin(), changes.end(), [&](const auto& change) { return matches(change.first, change.second); }));
    }
};

inline std::vector<std::string> texts(const std::vector<auris::TranscriptionSegment>& segments)
{
    std::vector<std::string> found;
    for (const auto& each : segments) {
        found.push_back(each.text);
    }
    return found;
}

} // namespace testsupport
