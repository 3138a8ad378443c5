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
constexpr std::size_t cellsPerTask = 1 << 14;
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
    gate_ = context.gate;
    buffers_ = BufferPool::create();
}

DictionaryFeatureProvider WhisperMelSpectrogramProgram::predict(const FeatureProvider& inputs) const
{
    const auto turn = ComputeGate::enter(gate_.get());
    constexpr int n = MelFilterBank::fftSize;
    constexpr int bins = MelFilterBank::binCount;
    constexpr int hop = MelFilterBank::hopLength;

    auto paddedBuffer = buffers_->floats(static_cast<std::size_t>(sampleCount_) + 2 * padding);
    float* samples = paddedBuffer.get() + padding;
    readFloats(*inputs.featureValue("audio"), samples);
    // The last index in pointer arithmetic: near int's largest count, "count - 1 + i" would overflow.
    float* last = samples + (sampleCount_ - 1);
    for (int i = 1; i <= padding; ++i) {
        samples[-i] = samples[i];
        last[i] = last[-i];
    }

    // The windowed DFT of all frames as one matrix product, then power and mel energies.
    const int frames = frameCount_;
    const std::size_t frameCount = static_cast<std::size_t>(frames);
    auto frameMatrix = buffers_->floats(frameCount * n);
    pool_->parallelFor(frameCount, framesPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            const float* start = paddedBuffer.get() + f * hop;
            std::copy(start, start + n, frameMatrix.get() + f * n);
        }
    });
    auto spectrum = buffers_->floats(frameCount * 2 * bins);
    parallelMultiply(*pool_, false, frames, 2 * bins, n, 1.0f, frameMatrix.get(), n, basis_.data(), 2 * bins, 0.0f,
        spectrum.get(), 2 * bins, {}, buffers_.get());
    auto power = buffers_->floats(frameCount * bins);
    pool_->parallelFor(frameCount * bins, framesPerTask * bins, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const float re = spectrum.get()[2 * i];
            const float im = spectrum.get()[2 * i + 1];
            power.get()[i] = re * re + im * im;
        }
    });
    // energies[m][frame] = sum over bins of filters[m][bin] * power[frame][bin]
    const std::size_t cells = static_cast<std::size_t>(melCount_) * frameCount;
    auto energyBuffer = buffers_->floats(cells);
    float* energies = energyBuffer.get();
    parallelMultiply(*pool_, true, melCount_, frames, bins, 1.0f, filters_.data(), bins, power.get(), bins, 0.0f, energies,
        frames, {}, buffers_.get());

    std::vector<float> maxima(static_cast<std::size_t>(pool_->threadCount()), -std::numeric_limits<float>::infinity());
    pool_->parallelForWithSlot(cells, cellsPerTask, [&](int slot, std::size_t begin, std::size_t end) {
        float maximum = maxima[static_cast<std::size_t>(slot)];
        for (std::size_t i = begin; i < end; ++i) {
            energies[i] = std::log10(std::max(energies[i], 1e-10f));
            maximum = std::max(maximum, energies[i]);
        }
        maxima[static_cast<std::size_t>(slot)] = maximum;
    });
    const float floor = *std::max_element(maxima.begin(), maxima.end()) - 8.0f;
    pool_->parallelFor(cells, cellsPerTask, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            energies[i] = (std::max(energies[i], floor) + 4.0f) / 4.0f;
        }
    });

    MultiArray output = buffers_->array({1, melCount_, 1, frames}, outputType_);
    writeFloats(output, energies);
    DictionaryFeatureProvider result;
    result.set("melspectrogram_features", output);
    return result;
}

} // namespace ml
