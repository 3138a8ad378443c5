// Loads ten minutes of 44.1 kHz stereo AAC into 16 kHz mono samples, the engine's first step for
// a recording, and reports how many times faster than real time that runs.

#include "Auris/Audio/AudioProcessor.hpp"
#include "platform/audio/AudioFileWriter.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <unistd.h>

namespace {

constexpr double seconds = 600;
constexpr int rate = 44100;

// Tones that come and go over quiet noise, so the encoder and resampler see varied material.
std::filesystem::path writeRecording()
{
    std::string folder = (std::filesystem::temp_directory_path() / "parlino-bench-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        std::abort();
    }
    const auto path = std::filesystem::path(folder) / "ten-minutes.m4a";
    platform::AudioFileWriter writer(path, {platform::AudioFileSettings::FormatID::mpeg4AAC, rate, 2, 128000});
    std::mt19937 random(7);
    std::normal_distribution<float> hiss(0.0f, 0.01f);
    const std::uint32_t block = rate;
    auto buffer = platform::PCMBuffer::make({double(rate), 2}, block);
    for (int second = 0; second < static_cast<int>(seconds); ++second) {
        const double pitch = 150 + 25 * (second % 9);
        for (std::uint32_t i = 0; i < block; ++i) {
            const double t = second + static_cast<double>(i) / rate;
            const float voiced = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * pitch * t) * (std::sin(3 * t) > 0 ? 1 : 0.05));
            buffer->channelData(0)[i] = voiced + hiss(random);
            buffer->channelData(1)[i] = 0.6f * voiced + hiss(random);
        }
        buffer->setFrameLength(block);
        writer.write(*buffer);
    }
    writer.close();
    return path;
}

const std::filesystem::path& recording()
{
    static const std::filesystem::path path = writeRecording();
    return path;
}

void loadAndResampleTenMinutesOfAac(benchmark::State& state)
{
    const std::string path = recording().string();
    for (auto _ : state) {
        auto buffer = auris::AudioProcessor::loadAudio(path);
        auto samples = auris::AudioProcessor::convertBufferToArray(buffer, 1024);
        benchmark::DoNotOptimize(samples.data());
    }
    // Audio seconds handled per second of wall time.
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(loadAndResampleTenMinutesOfAac)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    recording();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(recording().parent_path());
    return 0;
}
