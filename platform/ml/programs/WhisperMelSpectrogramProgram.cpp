#include "platform/ml/programs/WhisperMelSpectrogramProgram.hpp"

#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/programs/ProgramSupport.hpp"
#include "platform/ml/programs/kernels/MatrixKernels.hpp"
#include "platform/ml/programs/kernels/MelFilterBank.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ml {

using namespace programSupport;

namespace {
constexpr int padding = MelFilterBank::fftSize / 2;
constexpr std::size_t framesPerTask = 64;
} // namespace

WhisperMelSpectrogramProgram::WhisperMelSpectrogramProgram(const ProgramContext& context)
{
    const ModelFolder& folder = context.folder;
    melCount_ = boundedParameter(folder, "melCount", 1, 512);
    const auto& audio = requireInput(folder, "audio", {MultiArrayDataType::float32}, {anySize});
    sampleCount_ = audio.shape[0];
    // Reflection needs more samples than the padding on each side.
    if (sampleCount_ <= padding || sampleCount_ < MelFilterBank::hopLength) {
        failFolder(folder, "input \"audio\" is too short for the mel front end");
    }
    frameCount_ = sampleCount_ / MelFilterBank::hopLength;
    const auto& output = requireOutput(folder, "melspectrogram_features",
        {MultiArrayDataType::float32, MultiArrayDataType::float16}, {1, melCount_, 1, frameCount_});
    outputType_ = output.dataType;
    filters_ = MelFilterBank::filters(melCount_);
    basis_ = MelFilterBank::windowedFourierBasis();
    pool_ = std::make_unique<ThreadPool>(context.threadCount);
}

DictionaryFeatureProvider WhisperMelSpectrogramProgram::predict(const FeatureProvider& inputs) const
{
    constexpr int n = MelFilterBank::fftSize;
    constexpr int bins = MelFilterBank::binCount;
    constexpr int hop = MelFilterBank::hopLength;

    std::vector<float> padded(static_cast<std::size_t>(sampleCount_) + 2 * padding);
    readFloats(*inputs.featureValue("audio"), padded.data() + padding);
    float* samples = padded.data() + padding;
    for (int i = 1; i <= padding; ++i) {
        samples[-i] = samples[i];
        samples[sampleCount_ - 1 + i] = samples[sampleCount_ - 1 - i];
    }

    // The windowed DFT of all frames as one matrix product, then power and mel energies.
    const int frames = frameCount_;
    std::vector<float> frameMatrix(static_cast<std::size_t>(frames) * n);
    pool_->parallelFor(static_cast<std::size_t>(frames), framesPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            const float* start = padded.data() + f * hop;
            std::copy(start, start + n, frameMatrix.data() + f * n);
        }
    });
    std::vector<float> spectrum(static_cast<std::size_t>(frames) * 2 * bins);
    multiply(frames, 2 * bins, n, 1.0f, frameMatrix.data(), n, basis_.data(), 2 * bins, 0.0f, spectrum.data(), 2 * bins);
    std::vector<float> power(static_cast<std::size_t>(frames) * bins);
    pool_->parallelFor(power.size(), framesPerTask * bins, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const float re = spectrum[2 * i];
            const float im = spectrum[2 * i + 1];
            power[i] = re * re + im * im;
        }
    });
    // energies[m][frame] = sum over bins of filters[m][bin] * power[frame][bin]
    std::vector<float> energies(static_cast<std::size_t>(melCount_) * static_cast<std::size_t>(frames));
    multiplyTransposed(melCount_, frames, bins, 1.0f, filters_.data(), bins, power.data(), bins, 0.0f, energies.data(), frames);

    float maximum = -std::numeric_limits<float>::infinity();
    for (float& e : energies) {
        e = std::log10(std::max(e, 1e-10f));
        maximum = std::max(maximum, e);
    }
    const float floor = maximum - 8.0f;
    for (float& e : energies) {
        e = (std::max(e, floor) + 4.0f) / 4.0f;
    }

    MultiArray output({1, melCount_, 1, frames}, outputType_);
    writeFloats(output, energies.data());
    DictionaryFeatureProvider result;
    result.set("melspectrogram_features", output);
    return result;
}

} // namespace ml
