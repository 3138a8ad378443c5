#include "app/recorder/AudioPreprocessor.hpp"

#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/AudioFileWriter.hpp"
#include "platform/system/ScratchFolder.hpp"

#include <QUuid>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace parlino {

namespace {

using Clock = std::chrono::steady_clock;

constexpr float twoPi = 6.2831855f;
constexpr std::string_view scratchPrefix = "preprocessed_";
constexpr std::string_view scratchExtension = ".wav";
constexpr std::size_t uuidLength = 36;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return std::string(text) + "s";
}

// Removes the output file unless the run succeeded.
class OutputFile {
public:
    explicit OutputFile(std::filesystem::path path)
        : path_(std::move(path))
    {
    }
    ~OutputFile()
    {
        if (!kept_) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // A new scratch file of a name of its own in `folder`.
    static OutputFile createIn(const std::filesystem::path& folder)
    {
        return OutputFile(platform::ScratchFolder(folder).createFile(std::string(scratchPrefix)
            + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString() + std::string(scratchExtension)));
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path keep()
    {
        kept_ = true;
        return path_;
    }

private:
    std::filesystem::path path_;
    bool kept_ = false;
};

// The first-order RC high-pass, carried from one block of a stream to the next.
class HighPass {
public:
    HighPass(float cutoffFrequency, double sampleRate, int channelCount)
        : previousInput_(static_cast<std::size_t>(channelCount))
        , previousOutput_(static_cast<std::size_t>(channelCount))
    {
        const float rc = 1.0f / (cutoffFrequency * twoPi);
        const float dt = 1.0f / static_cast<float>(sampleRate);
        alpha_ = rc / (rc + dt);
    }

    void apply(platform::PCMBuffer& block)
    {
        for (int c = 0; c < block.format().channelCount; ++c) {
            const auto samples = block.channel(c);
            if (samples.empty()) {
                continue;
            }
            auto& previousInput = previousInput_[static_cast<std::size_t>(c)];
            auto& previousOutput = previousOutput_[static_cast<std::size_t>(c)];
            std::size_t first = 0;
            if (!started_) {
                // The stream's first sample passes as it is and starts the filter.
                previousInput = samples[0];
                previousOutput = samples[0];
                first = 1;
            }
            for (std::size_t i = first; i < samples.size(); ++i) {
                const float x = samples[i];
                previousOutput = alpha_ * (previousOutput + x - previousInput);
                previousInput = x;
                samples[i] = previousOutput;
            }
        }
        started_ = started_ || block.frameLength() > 0;
    }

private:
    float alpha_ = 0;
    std::vector<float> previousInput_;
    std::vector<float> previousOutput_;
    bool started_ = false;
};

float peakOf(const platform::PCMBuffer& buffer)
{
    float peak = 0;
    for (int c = 0; c < buffer.format().channelCount; ++c) {
        for (const float sample : buffer.channel(c)) {
            peak = std::max(peak, std::abs(sample));
        }
    }
    return peak;
}

void scale(platform::PCMBuffer& buffer, float gain)
{
    for (int c = 0; c < buffer.format().channelCount; ++c) {
        for (float& sample : buffer.channel(c)) {
            sample *= gain;
        }
    }
}

// Time spent in one stage over all blocks.
struct Stopwatch {
    Clock::duration spent {};
    template <typename Work>
    void time(Work work)
    {
        const auto start = Clock::now();
        work();
        spent += Clock::now() - start;
    }
    double seconds() const { return std::chrono::duration<double>(spent).count(); }
};

// The recording block by block, from its first frame each time it is gone through.
struct Recording {
    platform::AudioFormat format;
    std::int64_t frameCount = 0;
    std::function<void(const std::function<void(platform::PCMBuffer&)>&)> eachBlock;
};

// What the second pass converts with: the mono output format, a block of it, the converter, and
// the length the whole recording converts to.
struct Conversion {
    platform::AudioFormat outputFormat;
    platform::PCMBuffer outputBlock;
    platform::AudioConverter converter;
    std::int64_t capacity = 0;

    static std::optional<Conversion> make(const Recording& recording, double targetRate, const ConsoleLog& log)
    {
        const platform::AudioFormat& inputFormat = recording.format;
        const auto outputFormat = platform::AudioFormat::standard(targetRate, 1);
        if (!outputFormat) {
            log("  ❌ Failed to create output format");
            return std::nullopt;
        }
        const auto blockCapacity = static_cast<std::uint32_t>(
            std::ceil(AudioPreprocessor::blockFrames * targetRate / inputFormat.sampleRate) + 256);
        auto outputBlock = platform::PCMBuffer::make(*outputFormat, blockCapacity);
        if (!outputBlock) {
            log("  ❌ Failed to create output buffer");
            return std::nullopt;
        }
        auto converter = platform::AudioConverter::make(inputFormat, *outputFormat);
        if (!converter) {
            log("  ❌ Failed to create converter");
            return std::nullopt;
        }
        const auto capacity = static_cast<std::int64_t>(
            std::trunc(static_cast<double>(recording.frameCount) * targetRate / inputFormat.sampleRate));
        return Conversion {*outputFormat, std::move(*outputBlock), std::move(*converter), capacity};
    }
};

// Time spent in each stage, over both passes.
struct StageTimes {
    Stopwatch filtering;
    Stopwatch normalizing;
    Stopwatch converting;
    Stopwatch writing;
};

// The first pass: the gain that brings the filtered audio's peak to the target, 1 for silence.
float normalizingGain(const Recording& recording, bool noiseSuppression, StageTimes& times)
{
    HighPass highPass(AudioPreprocessor::highPassCutoff, recording.format.sampleRate, recording.format.channelCount);
    float peak = 0;
    recording.eachBlock([&](platform::PCMBuffer& block) {
        if (noiseSuppression) {
            times.filtering.time([&] { highPass.apply(block); });
        }
        times.normalizing.time([&] { peak = std::max(peak, peakOf(block)); });
    });
    if (peak > AudioPreprocessor::silenceThreshold) {
        return std::pow(10.0f, AudioPreprocessor::normalizationTargetDB / 20.0f) / peak;
    }
    return 1;
}

platform::AudioFileSettings monoPCM(double sampleRate)
{
    platform::AudioFileSettings settings;
    settings.formatID = platform::AudioFileSettings::FormatID::linearPCM;
    settings.sampleRate = sampleRate;
    settings.channelCount = 1;
    return settings;
}

void logStages(const StageTimes& times, bool noiseSuppression, bool volumeNormalization, std::int64_t read,
    std::int64_t written, const ConsoleLog& log)
{
    if (noiseSuppression) {
        log("  ✅ Noise suppression applied (80Hz high-pass filter) in " + seconds(times.filtering.seconds()));
    }
    if (volumeNormalization) {
        log("  ✅ Volume normalized (-3dB peak target) in " + seconds(times.normalizing.seconds()));
    }
    log("  ✅ Converted: " + std::to_string(read) + " → " + std::to_string(written) + " frames in "
        + seconds(times.converting.seconds()));
}

void logTotals(const StageTimes& times, bool resample16kHz, Clock::time_point totalStart, Clock::time_point loadStart,
    const ConsoleLog& log)
{
    log("  • Write: " + seconds(times.writing.seconds()));
    log(std::string("  • Resampling: ") + (resample16kHz ? "✅ (16kHz)" : "⏭️ (original)"));
    log("  ✅ Preprocessing complete - NO FRAGMENTATION!");
    log("  📊 Total time breakdown:");
    log("     - Load: " + seconds(secondsSince(loadStart) - times.filtering.seconds() - times.normalizing.seconds()
        - times.converting.seconds() - times.writing.seconds()));
    log("     - Convert: " + seconds(times.converting.seconds()));
    log("     - Write: " + seconds(times.writing.seconds()));
    log("     - TOTAL: " + seconds(secondsSince(totalStart)));
}

// Two passes over the recording, so that what it holds does not grow with its length: the first
// finds the peak of the filtered audio (when the volume is normalised), the second filters, scales,
// converts and writes.
std::optional<std::filesystem::path> preprocess(const Recording& recording, Clock::time_point totalStart,
    Clock::time_point loadStart, bool noiseSuppression, bool volumeNormalization, bool resample16kHz,
    const std::filesystem::path& outputFolder, const ConsoleLog& log)
{
    const platform::AudioFormat inputFormat = recording.format;
    const double targetRate = resample16kHz ? AudioPreprocessor::targetSampleRate : inputFormat.sampleRate;
    auto conversion = Conversion::make(recording, targetRate, log);
    if (!conversion) {
        return std::nullopt;
    }
    const platform::AudioFormat& outputFormat = conversion->outputFormat;
    const std::int64_t capacity = conversion->capacity;
    platform::PCMBuffer& outputBlock = conversion->outputBlock;
    platform::AudioConverter& converter = conversion->converter;

    StageTimes times;
    const float gain = volumeNormalization ? normalizingGain(recording, noiseSuppression, times) : 1.0f;
    log("  ✅ Loaded entire file: " + std::to_string(recording.frameCount) + " frames in " + seconds(secondsSince(loadStart)));

    OutputFile output = OutputFile::createIn(outputFolder);
    platform::AudioFileWriter writer(output.path(), monoPCM(targetRate));
    std::int64_t written = 0;
    // Appends the converted frames, never past the length the whole recording converts to.
    const auto put = [&] {
        const auto room = static_cast<std::uint32_t>(std::clamp<std::int64_t>(capacity - written, 0, outputBlock.frameLength()));
        outputBlock.setFrameLength(room);
        times.writing.time([&] { writer.write(outputBlock); });
        written += room;
        outputBlock.setFrameLength(0);
    };
    // The converter's own failures are told as such; reading ones end the preprocessing too.
    std::optional<std::string> conversionError;
    const auto convert = [&](const auto& work) {
        if (conversionError) {
            return;
        }
        times.converting.time([&] {
            try {
                work();
            } catch (const std::exception& error) {
                conversionError = error.what();
            }
        });
        if (!conversionError) {
            put();
        }
    };
    HighPass highPass(AudioPreprocessor::highPassCutoff, inputFormat.sampleRate, inputFormat.channelCount);
    std::int64_t read = 0;
    recording.eachBlock([&](platform::PCMBuffer& block) {
        read += block.frameLength();
        if (noiseSuppression) {
            times.filtering.time([&] { highPass.apply(block); });
        }
        if (gain != 1) {
            times.normalizing.time([&] { scale(block, gain); });
        }
        convert([&] {
            if (inputFormat == outputFormat) {
                // Already one channel at the target rate: the conversion is a copy.
                std::copy_n(block.channelData(0), block.frameLength(), outputBlock.channelData(0));
                outputBlock.setFrameLength(block.frameLength());
            } else {
                converter.convert(block, outputBlock);
            }
        });
    });
    if (inputFormat != outputFormat) {
        convert([&] { converter.flush(outputBlock); });
    }
    if (conversionError) {
        log("  ❌ Conversion error: " + *conversionError);
        return std::nullopt;
    }
    logStages(times, noiseSuppression, volumeNormalization, read, written, log);
    times.writing.time([&] { writer.close(); });

    logTotals(times, resample16kHz, totalStart, loadStart, log);
    return output.keep();
}

} // namespace

std::optional<std::filesystem::path> AudioPreprocessor::preprocessAudio(const std::filesystem::path& input,
    bool noiseSuppression, bool volumeNormalization, bool resample16kHz, const std::filesystem::path& outputFolder,
    const ConsoleLog& log)
{
    try {
        const auto totalStart = Clock::now();
        log("  🔧 Starting audio preprocessing...");
        const auto loadStart = Clock::now();
        platform::AudioFile file(input);
        auto block = platform::PCMBuffer::make(file.processingFormat(), blockFrames);
        if (!block) {
            log("  ❌ Failed to create input buffer");
            return std::nullopt;
        }
        const Recording recording {file.processingFormat(), file.length(), [&](const auto& use) {
                                       file.setFramePosition(0);
                                       for (file.read(*block, blockFrames); block->frameLength() > 0;
                                            file.read(*block, blockFrames)) {
                                           use(*block);
                                       }
                                   }};
        return preprocess(recording, totalStart, loadStart, noiseSuppression, volumeNormalization, resample16kHz,
            outputFolder, log);
    } catch (const std::exception& error) {
        log(std::string("  ❌ Preprocessing error: ") + error.what());
        return std::nullopt;
    }
}

std::optional<std::filesystem::path> AudioPreprocessor::preprocessAudio(platform::PCMBuffer recording,
    bool noiseSuppression, bool volumeNormalization, bool resample16kHz, const std::filesystem::path& outputFolder,
    const ConsoleLog& log)
{
    try {
        const auto start = Clock::now();
        log("  🔧 Starting audio preprocessing...");
        auto block = platform::PCMBuffer::make(recording.format(), blockFrames);
        if (!block) {
            log("  ❌ Failed to create input buffer");
            return std::nullopt;
        }
        // Copies of its stretches, so that filtering a block leaves the recording as it is for the next pass.
        const Recording inMemory {recording.format(), recording.frameLength(), [&](const auto& use) {
                                      for (std::uint32_t at = 0; at < recording.frameLength(); at += blockFrames) {
                                          const std::uint32_t count = std::min(blockFrames, recording.frameLength() - at);
                                          for (int c = 0; c < recording.format().channelCount; ++c) {
                                              std::copy_n(recording.channelData(c) + at, count, block->channelData(c));
                                          }
                                          block->setFrameLength(count);
                                          use(*block);
                                      }
                                  }};
        return preprocess(inMemory, start, start, noiseSuppression, volumeNormalization, resample16kHz, outputFolder, log);
    } catch (const std::exception& error) {
        log(std::string("  ❌ Preprocessing error: ") + error.what());
        return std::nullopt;
    }
}

bool AudioPreprocessor::isScratchName(std::string_view name)
{
    if (name.size() != scratchPrefix.size() + uuidLength + scratchExtension.size() || !name.starts_with(scratchPrefix)
        || !name.ends_with(scratchExtension)) {
        return false;
    }
    const std::string_view uuid = name.substr(scratchPrefix.size(), uuidLength);
    for (std::size_t index = 0; index < uuid.size(); ++index) {
        const bool dash = index == 8 || index == 13 || index == 18 || index == 23;
        const char c = uuid[index];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

void AudioPreprocessor::applyHighPassFilter(platform::PCMBuffer& buffer, float cutoffFrequency)
{
    HighPass(cutoffFrequency, buffer.format().sampleRate, buffer.format().channelCount).apply(buffer);
}

void AudioPreprocessor::normalizeVolume(platform::PCMBuffer& buffer, float targetDB)
{
    const float peak = peakOf(buffer);
    if (!(peak > silenceThreshold)) {
        return;
    }
    scale(buffer, std::pow(10.0f, targetDB / 20.0f) / peak);
}

} // namespace parlino
