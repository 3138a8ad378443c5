#pragma once

// Generated test audio: tones, seeded noise, silence, files written through the audio layer, and
// speech from the espeak-ng command. Header-only so that only suites linking the audio layer use it.

#include "platform/audio/AudioFileWriter.hpp"
#include "platform/audio/PCMBuffer.hpp"

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

inline std::vector<float> sine(double frequency, double sampleRate, std::size_t count, float amplitude = 0.5f, double phase = 0)
{
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate + phase));
    }
    return samples;
}

// Uniform noise in [-amplitude, amplitude] from a fixed seed.
inline std::vector<float> noise(std::size_t count, float amplitude, std::uint32_t seed = 1)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-amplitude, amplitude);
    std::vector<float> samples(count);
    for (auto& sample : samples) {
        sample = distribution(generator);
    }
    return samples;
}

inline std::vector<float> concatenate(std::initializer_list<std::vector<float>> parts)
{
    std::vector<float> joined;
    for (const auto& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

// Power of one frequency in the samples (Goertzel), normalised by the sample count.
inline double tonePower(const std::vector<float>& samples, double sampleRate, double frequency)
{
    const double omega = 2 * std::numbers::pi * frequency / sampleRate;
    std::complex<double> sum = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        sum += static_cast<double>(samples[i]) * std::polar(1.0, -omega * static_cast<double>(i));
    }
    return std::norm(sum) / static_cast<double>(samples.size() * samples.size());
}

// The frequency among `candidates` with the most power.
inline double strongestFrequency(const std::vector<float>& samples, double sampleRate, const std::vector<double>& candidates)
{
    double best = candidates.front();
    double bestPower = -1;
    for (double frequency : candidates) {
        const double power = tonePower(samples, sampleRate, frequency);
        if (power > bestPower) {
            best = frequency;
            bestPower = power;
        }
    }
    return best;
}

inline platform::PCMBuffer makeBuffer(double sampleRate, const std::vector<std::vector<float>>& channels)
{
    const auto format = platform::AudioFormat::standard(sampleRate, static_cast<int>(channels.size()));
    if (!format) {
        throw std::invalid_argument("bad test format");
    }
    auto buffer = platform::PCMBuffer::make(*format, static_cast<std::uint32_t>(channels.front().size()));
    for (std::size_t c = 0; c < channels.size(); ++c) {
        std::copy(channels[c].begin(), channels[c].end(), buffer->channelData(static_cast<int>(c)));
    }
    buffer->setFrameLength(static_cast<std::uint32_t>(channels.front().size()));
    return std::move(*buffer);
}

inline std::vector<float> channelSamples(const platform::PCMBuffer& buffer, int channel = 0)
{
    const auto samples = buffer.channel(channel);
    return {samples.begin(), samples.end()};
}

// Writes a WAV (32-bit float) or, for ".m4a", an AAC file with one plane per channel.
inline void writeAudioFile(const std::filesystem::path& path, double sampleRate, const std::vector<std::vector<float>>& channels)
{
    platform::AudioFileSettings settings;
    settings.formatID = path.extension() == ".m4a" ? platform::AudioFileSettings::FormatID::mpeg4AAC
                                                   : platform::AudioFileSettings::FormatID::linearPCM;
    settings.sampleRate = sampleRate;
    settings.channelCount = static_cast<int>(channels.size());
    platform::AudioFileWriter writer(path, settings);
    writer.write(makeBuffer(sampleRate, channels));
    writer.close();
}

inline bool commandExists(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Speech of the text as a WAV file made by espeak-ng; absent when the command is missing or fails.
inline std::optional<std::filesystem::path> speak(const std::string& text, const std::filesystem::path& path)
{
    if (!commandExists("espeak-ng")) {
        return std::nullopt;
    }
    const std::string command = "espeak-ng -v en -s 150 -w '" + path.string() + "' '" + text + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(path)) {
        return std::nullopt;
    }
    return path;
}

} // namespace testsupport
