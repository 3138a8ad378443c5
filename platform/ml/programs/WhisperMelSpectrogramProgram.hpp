#pragma once

#include "platform/ml/Program.hpp"
#include "platform/ml/programs/kernels/BufferPool.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <memory>
#include <vector>

namespace ml {

// "audio" float32 [N] -> "melspectrogram_features" [1, melCount, 1, N / 160]: the Whisper log-mel
// front end (400-point periodic Hann window, hop 160, reflect-padded centred frames, power
// spectrum, Slaney mel filters, log10 clamped to 8 below the maximum, then (x + 4) / 4).
class WhisperMelSpectrogramProgram : public Program {
public:
    static constexpr const char* name = "whisper.melSpectrogram";
    explicit WhisperMelSpectrogramProgram(const ProgramContext& context);
    DictionaryFeatureProvider predict(const FeatureProvider& inputs) const override;

private:
    int melCount_ = 0;
    int sampleCount_ = 0;
    int frameCount_ = 0;
    MultiArrayDataType outputType_ = MultiArrayDataType::float32;
    std::vector<float> filters_;
    std::vector<float> basis_;
    std::unique_ptr<ThreadPool> pool_;
    std::shared_ptr<BufferPool> buffers_;
    std::shared_ptr<ComputeGate> gate_;
};

} // namespace ml
