#pragma once

#include "platform/ml/Program.hpp"
#include "platform/ml/programs/TransformerWeights.hpp"
#include "platform/ml/programs/kernels/BufferPool.hpp"
#include "platform/ml/programs/kernels/Gemm.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ml {

class ModelFolder;

// "melspectrogram_features" [1, melCount, 1, F] -> "encoder_output_embeds" [1, width, 1, ceil(F / 2)]:
// two convolutions (kernel 3; the second with stride 2) each followed by GELU, learned or
// sinusoidal positions from "positional_embedding", pre-norm transformer blocks, a final norm.
class WhisperAudioEncoderProgram : public Program {
public:
    static constexpr const char* name = "whisper.audioEncoder";
    explicit WhisperAudioEncoderProgram(const ProgramContext& context);
    DictionaryFeatureProvider predict(const FeatureProvider& inputs) const override;

private:
    // The second factor of a product as the folder stores it, packed for the micro-kernels once at
    // load; the portable set packs it for each product instead (kept, its float32 copy would
    // double the weights' memory).
    struct ProductWeights {
        std::vector<GemmOperand> parts;
        std::vector<int> columns;
        int depth = 0;
        std::optional<PackedOperand> packed;
    };

    struct Block {
        NormWeights attentionNorm;
        AttentionWeights attention;
        NormWeights mlpNorm;
        MlpWeights mlp;
        ProductWeights projections; // query, key and value side by side
        ProductWeights output;
        ProductWeights expand;
        ProductWeights contract;
    };

    // A kernel-3 convolution with its weights in window order, [output][tap][channel].
    struct Convolution {
        ProductWeights weights;
        std::vector<float> floatWeights;
        std::vector<std::uint16_t> halfWeights;
        std::vector<float> bias;
        int channels = 0;
    };
    void keepPacked(ProductWeights& weights) const;
    // The weights' packed panels: the kept ones, or packed into `scratch` now.
    const PackedOperand& packed(const ProductWeights& weights, std::optional<PackedOperand>& scratch) const;
    static Convolution convolution(const ModelFolder& folder, const std::string& prefix, int outputs, int inputs);

    // The convolution with GELU (and the positions added, when given) as one matrix product:
    // `input` is frame-major with a zero frame before its first; output frame t sees input frames
    // t * stride - 1 to t * stride + 1. Finished rows go through `norm` into `normed` when given.
    void convolve(const Convolution& layer, const float* input, std::size_t stride, std::size_t outputFrames, float* output,
        const float* positions, const NormWeights* norm, float* normed) const;
    // x: [frames][width], updated in place; `normed` holds the block's attention norm of x on entry
    // and `nextNorm` of the new x on return.
    void runBlock(const Block& block, float* x, float* normed, const NormWeights& nextNorm) const;
    // Layer norm of rows [begin, end) of x into `normed`.
    void normRows(const NormWeights& norm, const float* x, float* normed, int begin, int end) const;

    int melCount_ = 0;
    int width_ = 0;
    int heads_ = 0;
    int inputFrames_ = 0;
    int frames_ = 0;
    MultiArrayDataType outputType_ = MultiArrayDataType::float32;
    Convolution conv1_; // [width][3][melCount]
    Convolution conv2_; // [width][3][width]
    std::vector<float> positions_;
    std::vector<Block> blocks_;
    NormWeights finalNorm_;
    std::unique_ptr<ThreadPool> pool_;
    std::shared_ptr<BufferPool> buffers_;
    std::shared_ptr<ComputeGate> gate_;
};

} // namespace ml
