#include "platform/ml/programs/WhisperTextDecoderProgram.hpp"

#include "platform/ml/programs/ProgramSupport.hpp"
#include "platform/ml/programs/kernels/AttentionKernels.hpp"
#include "platform/ml/programs/kernels/MatrixKernels.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <span>

namespace ml {
using namespace programSupport;

namespace {

using Stage = DecoderSchedule::Stage;
constexpr std::size_t loopsPerLayer = DecoderSchedule::loopsPerLayer;
constexpr std::size_t alignmentRanges = DecoderSchedule::alignmentRanges;
constexpr std::size_t sourceRanges = DecoderSchedule::sourceRanges;

std::size_t paddedToLine(std::size_t floats)
{
    return (floats + 15) / 16 * 16;
}

// How far the product and attention kernels ask for memory ahead of their reads.
constexpr std::size_t coldStartBytes = 16 << 10;

const std::uint16_t* halfData(const MultiArray& array)
{
    return static_cast<const std::uint16_t*>(array.dataPointer());
}

} // namespace

// One decoder step of several windows: every product loop reads its weights once for all of them,
// while attention runs per window over its own cache and its own encoder output. A window's values
// are computed exactly as they are when it steps alone.
struct WhisperTextDecoderProgram::StepRun {
    struct alignas(64) Count {
        // Only rises through a step: layer l's share takes it to l + 1 shares.
        std::atomic<std::size_t> value {0};
    };
    // A product of one loop for every window: window w reads input + w * inputStride and writes
    // output + w * outputStride (and adds it to residual + w * width).
    struct Product {
        const LinearWeights* layer;
        const float* input;
        std::size_t inputStride;
        float* output;
        std::size_t outputStride;
        bool gelu = false;
        float* residual = nullptr;
    };
    struct Window {
        std::uint16_t* keyOut = nullptr;
        std::uint16_t* valueOut = nullptr;
        std::size_t keyRowStride = 0, keyColumnStride = 0, valueRowStride = 0, valueColumnStride = 0;
        std::size_t scoresAt = 0;
        // Chunks of the window's cross-attention scores done, and the layers whose softmax is.
        Count scored, softmaxed;
    };

    StepRun(const WhisperTextDecoderProgram& program, std::span<WindowStep> steps);
    void run();
    std::vector<DictionaryFeatureProvider> results();

    // The stages of a layer, run by the sequence's loops.
    void normInputs(std::size_t thread, const NormWeights& weights);
    // `input` is the calling thread's normed rows of the windows.
    void projections(std::size_t layer, const float* input, std::size_t stretch, std::size_t begin, std::size_t end);
    void selfAttention(std::size_t layer, std::size_t window, std::size_t head);
    void selfOutput(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void crossQuery(std::size_t layer, const float* input, std::size_t stretch, std::size_t begin, std::size_t end);
    void crossFold(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void crossScores(std::size_t layer, std::size_t window, std::size_t chunk);
    void crossMix(std::size_t layer, std::size_t window, std::size_t chunk);
    void crossValues(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void crossOutput(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void feedForwardExpand(std::size_t layer, const float* input, std::size_t stretch, std::size_t begin, std::size_t end);
    void feedForwardContract(std::size_t layer, std::size_t stretch, std::size_t begin, std::size_t end);
    void logits(const float* input, std::size_t stretch, std::size_t begin, std::size_t end);
    void sumAlignment(std::size_t window, std::size_t range);
    void compareSource(std::size_t window, std::size_t range);

    // The construction's stages.
    void setUpWindows();
    void setUpCrossAttention();
    void embed();
    void productChunks(std::size_t loop, std::span<const Product> products, std::size_t stretch, std::size_t begin,
        std::size_t end);
    void productChunks(std::size_t loop, std::initializer_list<Product> products, std::size_t stretch, std::size_t begin,
        std::size_t end)
    {
        productChunks(loop, std::span(products.begin(), products.size()), stretch, begin, end);
    }
    void countRows(std::vector<Count>& counts, std::size_t loop, std::size_t stretch, std::size_t begin, std::size_t end);
    // Runs `stage(window, chunk)` for the loop's chunks [begin, end) of a stretch, `chunks` per window.
    template<typename Stage>
    void windowChunks(std::size_t chunks, std::size_t stretch, std::size_t begin, std::size_t end, Stage&& stage)
    {
        for (std::size_t c = begin; c < end; ++c) {
            const std::size_t at = chunks * count * stretch / threads + c;
            stage(at / chunks, at % chunks);
        }
    }
    void softmaxHeads(std::size_t layer, std::size_t window);
    void prefetchCacheRows(std::size_t window, std::size_t first) const;
    void enter(int slot, std::size_t loop);
    void body(int slot, std::size_t loop, std::size_t stretch, std::size_t begin, std::size_t end);
    const float* normed(std::size_t thread) const { return normedInputs.get() + thread * count * rowStride; }
    float* layerProbabilities(std::size_t layer, std::size_t window) const
    {
        return (aligned[layer] ? probabilities[layer].get() : sharedProbabilities.get()) + window * heads * frameStride;
    }

    const WhisperTextDecoderProgram& program;
    std::span<WindowStep> steps;
    const std::size_t count;
    const std::size_t layers;
    const std::size_t width;
    const std::size_t heads;
    const std::size_t headWidth;
    const std::size_t frames;
    const std::size_t threads;
    const float scale;
    const std::size_t rowStride;
    const std::size_t frameStride;
    const std::size_t scoreChunks; // of one window
    const std::size_t mixChunks;

    std::vector<Window> windows;
    std::vector<MultiArray> keyUpdates, valueUpdates;
    // [window][width] (hidden [window][4 width]); normed inputs [thread][window][rowStride].
    std::vector<float> x, query, key, value, attended, projected, hidden;
    std::shared_ptr<float> normedInputs;
    std::shared_ptr<float> selfScores;
    // [window][head][width]: W_k,h^T q_h, then E^T p_h.
    std::shared_ptr<float> folded, mixed;
    // Self-attention of a head starts once the projections have made that head's rows (the loop
    // starts early) instead of waiting for every row: the rows made so far per head, the same for
    // every window.
    std::vector<Count> projectedRows;
    // Each step's cross-attention products per head, [layer][head].
    std::vector<std::vector<Product>> foldProducts, valueProducts;
    // Rows of folded and mixed, [window * heads + head], and of each layer's probabilities.
    std::vector<const float*> foldedRows;
    std::vector<float*> mixedRows;
    std::vector<std::vector<float*>> probabilityRows;
    // The layers with alignment heads keep their probabilities for the alignment weights; the
    // other layers' probabilities share one buffer.
    std::vector<bool> aligned;
    std::vector<std::shared_ptr<float>> probabilities; // [layer] -> [window][head][frameStride]
    std::shared_ptr<float> sharedProbabilities;
    std::shared_ptr<float> logitRows; // [window][vocabulary]
    std::shared_ptr<float> alignment; // [window][frameStride]
    std::size_t rangeFrames = 0;
    std::vector<std::uint8_t> stale;
    std::vector<std::vector<std::uint16_t>> chunks; // the step loops' chunks per stretch
};

WhisperTextDecoderProgram::StepRun::StepRun(const WhisperTextDecoderProgram& program, std::span<WindowStep> steps)
    : program(program)
    , steps(steps)
    , count(steps.size())
    , layers(program.blocks_.size())
    , width(static_cast<std::size_t>(program.width_))
    , heads(static_cast<std::size_t>(program.heads_))
    , headWidth(width / heads)
    , frames(static_cast<std::size_t>(program.audioFrames_))
    , threads(static_cast<std::size_t>(program.pool_->threadCount()))
    , scale(1.0f / std::sqrt(static_cast<float>(headWidth)))
    , rowStride(paddedToLine(width))
    , frameStride(paddedToLine(frames))
    , scoreChunks((frames + scorePanels * PanelMatrix::panelRows - 1) / (scorePanels * PanelMatrix::panelRows))
    , mixChunks((width + mixPanels * PanelMatrix::panelRows - 1) / (mixPanels * PanelMatrix::panelRows))
    , windows(count)
    , x(count * width)
    , query(count * width)
    , key(count * width)
    , value(count * width)
    , attended(count * width)
    , projected(count * width)
    , hidden(count * 4 * width)
    , projectedRows(heads)
    , foldProducts(layers)
    , valueProducts(layers)
    , probabilityRows(layers)
    , aligned(layers, false)
    , probabilities(layers)
    , stale(count, 0)
{
    setUpWindows();
    setUpCrossAttention();
    logitRows = program.buffers_->floats(count * static_cast<std::size_t>(program.vocabularySize_));
    alignment = program.buffers_->floats(program.hasAlignmentOutput_ ? count * frameStride : 0);
    rangeFrames = paddedToLine((frames + alignmentRanges - 1) / alignmentRanges);
    chunks = program.schedule_.chunks(count, {heads, scoreChunks, mixChunks});
    embed();
}

// Each window's cache updates, its caches' strides and its self-attention scores.
void WhisperTextDecoderProgram::StepRun::setUpWindows()
{
    BufferPool& buffers = *program.buffers_;
    const int cacheWidth = static_cast<int>(layers) * program.width_;
    std::size_t scores = 0;
    for (std::size_t w = 0; w < count; ++w) {
        Window& window = windows[w];
        const WindowStep& step = steps[w];
        keyUpdates.push_back(buffers.array({1, cacheWidth, 1, 1}, MultiArrayDataType::float16));
        valueUpdates.push_back(buffers.array({1, cacheWidth, 1, 1}, MultiArrayDataType::float16));
        window.keyOut = static_cast<std::uint16_t*>(keyUpdates.back().dataPointer());
        window.valueOut = static_cast<std::uint16_t*>(valueUpdates.back().dataPointer());
        window.keyRowStride = static_cast<std::size_t>(step.keyCache.strides()[1]);
        window.keyColumnStride = static_cast<std::size_t>(step.keyCache.strides()[3]);
        window.valueRowStride = static_cast<std::size_t>(step.valueCache.strides()[1]);
        window.valueColumnStride = static_cast<std::size_t>(step.valueCache.strides()[3]);
        // Each head's scores on cache lines of their own.
        window.scoresAt = scores;
        scores += heads * paddedToLine(step.cached + 1);
    }
    normedInputs = buffers.floats(threads * count * rowStride);
    selfScores = buffers.floats(scores);
}

// The per-head products, rows and probabilities of cross-attention.
void WhisperTextDecoderProgram::StepRun::setUpCrossAttention()
{
    BufferPool& buffers = *program.buffers_;
    folded = buffers.floats(count * heads * width);
    mixed = buffers.floats(count * heads * width);
    for (std::size_t l = 0; l < layers; ++l) {
        const Block& block = program.blocks_[l];
        for (std::size_t h = 0; h < heads; ++h) {
            foldProducts[l].push_back(
                {&block.crossKeyHeads[h], query.data() + h * headWidth, width, folded.get() + h * width, heads * width});
            valueProducts[l].push_back(
                {&block.crossValueHeads[h], mixed.get() + h * width, heads * width, attended.data() + h * headWidth, width});
        }
    }
    if (program.hasAlignmentOutput_) {
        for (const auto& pair : program.alignmentHeads_) {
            aligned[static_cast<std::size_t>(pair.first)] = true;
        }
    }
    sharedProbabilities = buffers.floats(count * heads * frameStride);
    for (std::size_t l = 0; l < layers; ++l) {
        if (aligned[l]) {
            probabilities[l] = buffers.floats(count * heads * frameStride);
        }
    }
    for (std::size_t row = 0; row < count * heads; ++row) {
        foldedRows.push_back(folded.get() + row * width);
        mixedRows.push_back(mixed.get() + row * width);
        for (std::size_t l = 0; l < layers; ++l) {
            probabilityRows[l].push_back(layerProbabilities(l, row / heads) + row % heads * frameStride);
        }
    }
}

void WhisperTextDecoderProgram::StepRun::embed()
{
    // From the logits' copy of the embedding: the mapped original is released, and reading it
    // would fault its pages in again on every step.
    std::vector<float> row(width);
    for (std::size_t w = 0; w < count; ++w) {
        const int token = steps[w].token;
        if (!program.stream_.readRow(layers * DecoderSchedule::productsPerLayer, 0, static_cast<std::size_t>(token), row.data())) {
            const WeightMatrix embedding = program.tokenEmbedding_.matrix();
            if (embedding.isHalf) {
                halfToFloat(embedding.halfRow(token), row.data(), width);
            } else {
                std::copy_n(embedding.floatRow(token), width, row.data());
            }
        }
        const float* position = program.positions_.data() + steps[w].cached * width;
        for (std::size_t c = 0; c < width; ++c) {
            x[w * width + c] = row[c] + position[c];
        }
    }
}

void WhisperTextDecoderProgram::StepRun::productChunks(std::size_t loop, std::span<const Product> products,
    std::size_t stretch, std::size_t begin, std::size_t end)
{
    std::array<const float*, maximumWindows> inputs {};
    std::array<float*, maximumWindows> outputs {};
    program.stream_.forChunks(loop, stretch, begin, end, [&](const ProductStream::Slice& slice, std::size_t from, std::size_t to) {
        const Product& product = products[slice.product];
        for (std::size_t w = 0; w < count; ++w) {
            inputs[w] = product.input + w * product.inputStride;
            outputs[w] = product.output + w * product.outputStride + slice.first;
        }
        const float* bias = product.layer->bias.empty() ? nullptr : product.layer->bias.data() + slice.first;
        panelProducts(slice.matrix, VectorBatch {inputs.data(), outputs.data(), count}, bias, static_cast<int>(from),
            static_cast<int>(to));
        for (std::size_t w = 0; w < count; ++w) {
            if (product.gelu) {
                gelu(outputs[w] + from, to - from);
            }
            if (product.residual) {
                axpy(1.0f, outputs[w] + from, product.residual + w * width + slice.first + from, to - from);
            }
        }
    });
}

void WhisperTextDecoderProgram::StepRun::countRows(std::vector<Count>& counts, std::size_t loop, std::size_t stretch,
    std::size_t begin, std::size_t end)
{
    program.stream_.forChunks(loop, stretch, begin, end, [&](const ProductStream::Slice& slice, std::size_t from, std::size_t to) {
        for (std::size_t r = slice.first + from; r < slice.first + to;) {
            const std::size_t h = r / headWidth;
            const std::size_t stop = std::min(slice.first + to, (h + 1) * headWidth);
            counts[h].value.fetch_add(stop - r, std::memory_order_acq_rel);
            r = stop;
        }
    });
}

void WhisperTextDecoderProgram::StepRun::normInputs(std::size_t thread, const NormWeights& weights)
{
    for (std::size_t w = 0; w < count; ++w) {
        layerNorm(x.data() + w * width, normedInputs.get() + (thread * count + w) * rowStride, width, weights.gain.data(),
            weights.bias.data(), transformerWeights::normEpsilon);
    }
}

void WhisperTextDecoderProgram::StepRun::prefetchCacheRows(std::size_t w, std::size_t first) const
{
    const Window& window = windows[w];
    if (window.keyColumnStride == 1 && window.valueColumnStride == 1) {
        prefetchChannelRows(halfData(steps[w].keyCache) + first * window.keyRowStride, window.keyRowStride, steps[w].cached,
            headWidth);
        prefetchChannelRows(halfData(steps[w].valueCache) + first * window.valueRowStride, window.valueRowStride,
            steps[w].cached, headWidth);
    }
}

void WhisperTextDecoderProgram::StepRun::projections(std::size_t l, const float* input, std::size_t stretch, std::size_t begin,
    std::size_t end)
{
    const AttentionWeights& attention = program.blocks_[l].selfAttention;
    productChunks(DecoderSchedule::productLoop(l, Stage::selfProjections),
        {{&attention.query, input, rowStride, query.data(), width}, {&attention.key, input, rowStride, key.data(), width},
            {&attention.value, input, rowStride, value.data(), width}},
        stretch, begin, end);
    countRows(projectedRows, DecoderSchedule::productLoop(l, Stage::selfProjections), stretch, begin, end);
}

void WhisperTextDecoderProgram::StepRun::selfAttention(std::size_t l, std::size_t w, std::size_t h)
{
    const Window& window = windows[w];
    const WindowStep& step = steps[w];
    const std::size_t cached = step.cached;
    const std::uint16_t* keyCache = halfData(step.keyCache);
    const std::uint16_t* valueCache = halfData(step.valueCache);
    const std::size_t first = l * width + h * headWidth;
    ThreadPool::awaitAtLeast(projectedRows[h].value, (l + 1) * 3 * headWidth);
    prefetchCacheRows(w, first);
    float* ownKey = key.data() + w * width + h * headWidth;
    float* ownValue = value.data() + w * width + h * headWidth;
    // The step sees its own key and value as the cache will hold them.
    floatToHalf(ownKey, window.keyOut + first, headWidth);
    floatToHalf(ownValue, window.valueOut + first, headWidth);
    halfToFloat(window.keyOut + first, ownKey, headWidth);
    halfToFloat(window.valueOut + first, ownValue, headWidth);

    float* scores = selfScores.get() + window.scoresAt + h * paddedToLine(cached + 1);
    attendHalfCache(query.data() + w * width + h * headWidth,
        {keyCache + first * window.keyRowStride, window.keyRowStride, window.keyColumnStride},
        {valueCache + first * window.valueRowStride, window.valueRowStride, window.valueColumnStride}, cached, headWidth,
        step.padding.data(), scale, ownKey, ownValue, scores, attended.data() + w * width + h * headWidth);
}

void WhisperTextDecoderProgram::StepRun::selfOutput(std::size_t l, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(DecoderSchedule::productLoop(l, Stage::selfOutput),
        {{&program.blocks_[l].selfAttention.output, attended.data(), width, projected.data(), width, false, x.data()}}, stretch,
        begin, end);
}

void WhisperTextDecoderProgram::StepRun::crossQuery(std::size_t l, const float* input, std::size_t stretch, std::size_t begin,
    std::size_t end)
{
    productChunks(DecoderSchedule::productLoop(l, Stage::crossQuery),
        {{&program.blocks_[l].crossAttention.query, input, rowStride, query.data(), width}}, stretch, begin, end);
}

void WhisperTextDecoderProgram::StepRun::crossFold(std::size_t l, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(DecoderSchedule::productLoop(l, Stage::crossFold), foldProducts[l], stretch, begin, end);
}

// Every head's scores over one chunk of the window's frames; the chunk that completes the window's
// scores takes their softmax.
void WhisperTextDecoderProgram::StepRun::crossScores(std::size_t l, std::size_t w, std::size_t chunk)
{
    const std::size_t from = chunk * scorePanels * PanelMatrix::panelRows;
    const std::size_t to = std::min(frames, from + scorePanels * PanelMatrix::panelRows);
    panelProducts(steps[w].cross->frames, VectorBatch {foldedRows.data() + w * heads, probabilityRows[l].data() + w * heads, heads},
        nullptr, static_cast<int>(from), static_cast<int>(to));
    if (windows[w].scored.value.fetch_add(1, std::memory_order_acq_rel) + 1 == (l + 1) * scoreChunks) {
        softmaxHeads(l, w);
    }
}

void WhisperTextDecoderProgram::StepRun::softmaxHeads(std::size_t l, std::size_t w)
{
    float* scores = layerProbabilities(l, w);
    for (std::size_t h = 0; h < heads; ++h) {
        softmax(scores + h * frameStride, frames, scale);
    }
    windows[w].softmaxed.value.store(l + 1, std::memory_order_release);
}

// Every head's mix of the frames for one chunk of the channels, once the window's softmax is done.
void WhisperTextDecoderProgram::StepRun::crossMix(std::size_t l, std::size_t w, std::size_t chunk)
{
    ThreadPool::awaitAtLeast(windows[w].softmaxed.value, l + 1);
    const std::size_t from = chunk * mixPanels * PanelMatrix::panelRows;
    const std::size_t to = std::min(width, from + mixPanels * PanelMatrix::panelRows);
    panelProducts(steps[w].cross->channels,
        VectorBatch {probabilityRows[l].data() + w * heads, mixedRows.data() + w * heads, heads}, nullptr, static_cast<int>(from),
        static_cast<int>(to));
}

void WhisperTextDecoderProgram::StepRun::crossValues(std::size_t l, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(DecoderSchedule::productLoop(l, Stage::crossValues), valueProducts[l], stretch, begin, end);
}

void WhisperTextDecoderProgram::StepRun::crossOutput(std::size_t l, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(DecoderSchedule::productLoop(l, Stage::crossOutput),
        {{&program.blocks_[l].crossAttention.output, attended.data(), width, projected.data(), width, false, x.data()}}, stretch,
        begin, end);
}

void WhisperTextDecoderProgram::StepRun::feedForwardExpand(std::size_t l, const float* input, std::size_t stretch,
    std::size_t begin, std::size_t end)
{
    productChunks(DecoderSchedule::productLoop(l, Stage::expand), {{&program.blocks_[l].mlp.expand, input, rowStride, hidden.data(), 4 * width, true}}, stretch,
        begin, end);
}

void WhisperTextDecoderProgram::StepRun::feedForwardContract(std::size_t l, std::size_t stretch, std::size_t begin,
    std::size_t end)
{
    productChunks(DecoderSchedule::productLoop(l, Stage::contract),
        {{&program.blocks_[l].mlp.contract, hidden.data(), 4 * width, projected.data(), width, false, x.data()}}, stretch, begin,
        end);
}

void WhisperTextDecoderProgram::StepRun::logits(const float* input, std::size_t stretch, std::size_t begin, std::size_t end)
{
    productChunks(layers * DecoderSchedule::productsPerLayer,
        {{&program.tokenEmbedding_, input, rowStride, logitRows.get(), static_cast<std::size_t>(program.vocabularySize_)}}, stretch,
        begin, end);
}

// Each frame adds its heads' probabilities in the order the heads are listed, whichever thread
// sums its range.
void WhisperTextDecoderProgram::StepRun::sumAlignment(std::size_t w, std::size_t range)
{
    const std::size_t from = std::min(frames, range * rangeFrames);
    const std::size_t to = std::min(frames, from + rangeFrames);
    float* sums = alignment.get() + w * frameStride;
    std::fill(sums + from, sums + to, 0.0f);
    const float listed = 1.0f / static_cast<float>(program.alignmentHeads_.size());
    for (const auto& [layer, head] : program.alignmentHeads_) {
        const std::size_t l = static_cast<std::size_t>(layer);
        const std::size_t h = static_cast<std::size_t>(head);
        const float* weights = probabilities[l].get() + (w * heads + h) * frameStride;
        axpy(listed, weights + from, sums + from, to - from);
    }
}

void WhisperTextDecoderProgram::StepRun::compareSource(std::size_t w, std::size_t range)
{
    const WindowStep& step = steps[w];
    if (!step.confirm || std::atomic_ref<std::uint8_t>(stale[w]).load(std::memory_order_relaxed) != 0) {
        return;
    }
    const std::size_t from = step.source.size * range / sourceRanges;
    const std::size_t to = step.source.size * (range + 1) / sourceRanges;
    if (std::memcmp(step.cross->source.data() + from, step.source.data + from, to - from) != 0) {
        // Another thread may set it too: both write the same value.
        std::atomic_ref<std::uint8_t>(stale[w]).store(1, std::memory_order_relaxed);
    }
}

void WhisperTextDecoderProgram::StepRun::enter(int slot, std::size_t loop)
{
    const std::size_t thread = static_cast<std::size_t>(slot);
    if (loop == layers * loopsPerLayer) {
        normInputs(thread, program.finalNorm_);
    }
    if (loop >= layers * loopsPerLayer) {
        return;
    }
    const Block& block = program.blocks_[loop / loopsPerLayer];
    switch (DecoderSchedule::layerLoop(loop).stage) {
    case Stage::selfProjections:
        normInputs(thread, block.selfAttentionNorm);
        // The cache rows of the thread's own heads, which it reads once the projections are
        // done: by then they wait in its caches.
        for (std::size_t h = heads * thread / threads; h < heads * (thread + 1) / threads; ++h) {
            for (std::size_t w = 0; w < count; ++w) {
                prefetchCacheRows(w, loop / loopsPerLayer * width + h * headWidth);
            }
        }
        break;
    case Stage::crossQuery:
        normInputs(thread, block.crossAttentionNorm);
        break;
    case Stage::expand:
        normInputs(thread, block.mlpNorm);
        break;
    default:
        break;
    }
}

void WhisperTextDecoderProgram::StepRun::body(int slot, std::size_t loop, std::size_t stretch, std::size_t begin, std::size_t end)
{
    const std::size_t thread = static_cast<std::size_t>(slot);
    // Chunks taken from the back of another thread's stretch start cold: their first lines asked
    // for all at once, as far as the kernels' own requests run ahead of their reads.
    if (stretch != thread && loop <= layers * loopsPerLayer) {
        if (const auto streamed = program.schedule_.streamLoop(loop)) {
            const auto memory = program.stream_.chunkMemory(*streamed, stretch, begin, end);
            prefetch(memory.first, std::min(memory.second, coldStartBytes));
        }
    }
    const float* input = normed(thread);
    if (loop == layers * loopsPerLayer) {
        logits(input, stretch, begin, end);
        return;
    }
    if (loop == program.schedule_.compareLoop()) {
        windowChunks(sourceRanges, stretch, begin, end, [&](std::size_t w, std::size_t range) { compareSource(w, range); });
        return;
    }
    if (program.schedule_.hasAlignmentLoop() && loop == program.schedule_.alignmentLoop()) {
        windowChunks(alignmentRanges, stretch, begin, end, [&](std::size_t w, std::size_t range) { sumAlignment(w, range); });
        return;
    }
    const std::size_t l = loop / loopsPerLayer;
    switch (DecoderSchedule::layerLoop(loop).stage) {
    case Stage::selfProjections: projections(l, input, stretch, begin, end); break;
    case Stage::selfAttention:
        windowChunks(heads, stretch, begin, end, [&](std::size_t w, std::size_t h) { selfAttention(l, w, h); });
        break;
    case Stage::selfOutput: selfOutput(l, stretch, begin, end); break;
    case Stage::crossQuery: crossQuery(l, input, stretch, begin, end); break;
    case Stage::crossFold: crossFold(l, stretch, begin, end); break;
    case Stage::crossScores:
        windowChunks(scoreChunks, stretch, begin, end, [&](std::size_t w, std::size_t chunk) { crossScores(l, w, chunk); });
        break;
    case Stage::crossMix:
        windowChunks(mixChunks, stretch, begin, end, [&](std::size_t w, std::size_t chunk) { crossMix(l, w, chunk); });
        break;
    case Stage::crossValues: crossValues(l, stretch, begin, end); break;
    case Stage::crossOutput: crossOutput(l, stretch, begin, end); break;
    case Stage::expand: feedForwardExpand(l, input, stretch, begin, end); break;
    case Stage::contract: feedForwardContract(l, stretch, begin, end); break;
    }
}

void WhisperTextDecoderProgram::StepRun::run()
{
    const std::span<const ThreadPool::Ahead> aheads = program.schedule_.aheads();
    const std::span<const std::uint8_t> early = program.schedule_.earlyLoops();
    // A sequence holds at most so many loops: many layers run in several.
    const std::size_t layersPerSequence = (ThreadPool::maximumSequenceLoops - 1) / loopsPerLayer;
    for (std::size_t first = 0; first == 0 || first < layers; first += layersPerSequence) {
        const std::size_t begin = first * loopsPerLayer;
        const std::size_t end = first + layersPerSequence >= layers ? chunks.size() : begin + layersPerSequence * loopsPerLayer;
        program.pool_->parallelForSequence(std::span(chunks).subspan(begin, end - begin),
            aheads.subspan(begin * threads, (end - begin) * threads), [&](int slot, std::size_t loop) { enter(slot, begin + loop); },
            [&](int slot, std::size_t loop, std::size_t stretch, std::size_t from, std::size_t to) {
                body(slot, begin + loop, stretch, from, to);
            },
            early.subspan(begin, end - begin));
    }
}

std::vector<DictionaryFeatureProvider> WhisperTextDecoderProgram::StepRun::results()
{
    std::vector<DictionaryFeatureProvider> results(count);
    const std::size_t vocabulary = static_cast<std::size_t>(program.vocabularySize_);
    for (std::size_t w = 0; w < count; ++w) {
        steps[w].stale = stale[w] != 0;
        // The windows' logits stay where the step wrote them, each a view of its own row.
        const int rowLength = program.vocabularySize_;
        results[w].set("logits", MultiArray(logitRows, logitRows.get() + w * vocabulary, {1, 1, rowLength},
                                     MultiArrayDataType::float32, {rowLength, rowLength, 1}));
        results[w].set("key_cache_updates", keyUpdates[w]);
        results[w].set("value_cache_updates", valueUpdates[w]);
        if (program.hasAlignmentOutput_) {
            MultiArray weights = program.buffers_->array({1, program.audioFrames_}, program.alignmentType_);
            writeFloats(weights, alignment.get() + w * frameStride);
            results[w].set("alignment_heads_weights", weights);
        }
    }
    return results;
}

std::vector<DictionaryFeatureProvider> WhisperTextDecoderProgram::step(std::span<WindowStep> windows) const
{
    StepRun run(*this, windows);
    run.run();
    return run.results();
}

} // namespace ml
