#include "WhisperReference.hpp"
#include "WhisperTestModels.hpp"

#include "platform/ml/Model.hpp"
#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/programs/kernels/MelFilterBank.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

using namespace ml;
using testsupport::TemporaryDirectory;
using ::testing::HasSubstr;

namespace {

std::vector<float> tone(int samples, double hertz, double amplitude)
{
    std::vector<float> audio(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        audio[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * hertz * i / 16000.0));
    }
    return audio;
}

MultiArray runMel(const std::shared_ptr<Model>& model, const std::vector<float>& audio)
{
    DictionaryFeatureProvider input;
    input.set("audio", MultiArray::fromValues<float>({static_cast<int>(audio.size())}, audio));
    return *model->prediction(input).featureValue("melspectrogram_features");
}

void expectClose(const std::vector<float>& actual, const std::vector<float>& expected, float tolerance, const char* what)
{
    ASSERT_EQ(actual.size(), expected.size()) << what;
    float worst = 0;
    std::size_t worstAt = 0;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const float error = std::abs(actual[i] - expected[i]) / std::max(1.0f, std::abs(expected[i]));
        if (!(error <= worst)) {
            worst = error;
            worstAt = i;
        }
    }
    EXPECT_LE(worst, tolerance) << what << ": element " << worstAt << " is " << actual[worstAt] << ", expected "
                                << expected[worstAt];
}

// The micro shape with two heads of the real width over `audioSamples` of audio.
WhisperShape realHeads(int audioSamples, std::vector<std::pair<int, int>> alignmentHeads)
{
    WhisperShape shape = testmodels::microShape();
    shape.audioSamples = audioSamples;
    shape.width = 128;
    shape.textHeads = 2;
    shape.alignmentHeads = std::move(alignmentHeads);
    return shape;
}

reference::Dimensions dimensions(const WhisperShape& shape)
{
    return {shape.melCount, shape.vocabularySize, shape.width, shape.audioHeads, shape.audioLayers};
}

// Drives a decoder model the way the engine does: one token per step, the step's keys and values
// copied into the caches at its position, masks moved along.
class CacheDriver {
public:
    enum class Layout { packed, paddedRows, positionMajor };

    CacheDriver(std::shared_ptr<Model> model, MultiArray encoderOutput, Layout layout = Layout::packed)
        : model_(std::move(model))
        , encoderOutput_(std::move(encoderOutput))
    {
        const auto& shape = model_->modelDescription().input("key_cache")->shape;
        width_ = shape[1];
        length_ = shape[3];
        std::vector<int> strides = packedStrides({1, width_, 1, length_});
        if (layout == Layout::paddedRows) {
            strides = {width_ * (length_ + 8), length_ + 8, length_ + 8, 1};
        } else if (layout == Layout::positionMajor) {
            strides = {width_ * length_, 1, 1, width_};
        }
        keyCache_ = MultiArray({1, width_, 1, length_}, MultiArrayDataType::float16, strides);
        valueCache_ = MultiArray({1, width_, 1, length_}, MultiArrayDataType::float16, strides);
        updateMask_ = MultiArray({1, length_}, MultiArrayDataType::int32);
        paddingMask_ = MultiArray({1, length_}, MultiArrayDataType::float16);
        paddingMask_.fill(-10000);
        paddingMask_.setValue({0, 0}, 0);
        updateMask_.setValue({0, 0}, 1);
    }

    DictionaryFeatureProvider step(int token)
    {
        auto output = model_->prediction(input(token));
        keep(output);
        return output;
    }

    // The next step's inputs, for a caller that runs the step.
    DictionaryFeatureProvider input(int token) const
    {
        DictionaryFeatureProvider input;
        input.set("input_ids", MultiArray::fromValues<std::int32_t>({1}, std::vector<std::int32_t> {token}));
        input.set("cache_length", MultiArray::fromValues<std::int32_t>({1}, std::vector<std::int32_t> {position_}));
        input.set("key_cache", keyCache_);
        input.set("value_cache", valueCache_);
        input.set("kv_cache_update_mask", updateMask_);
        input.set("encoder_output_embeds", encoderOutput_);
        input.set("decoder_key_padding_mask", paddingMask_);
        return input;
    }

    // Moves on past a step: its keys and values into the caches, the masks along.
    void keep(const DictionaryFeatureProvider& output)
    {
        const MultiArray keys = *output.featureValue("key_cache_updates");
        const MultiArray values = *output.featureValue("value_cache_updates");
        for (int e = 0; e < width_; ++e) {
            keyCache_.setValue({0, e, 0, position_}, keys.value({0, e, 0, 0}));
            valueCache_.setValue({0, e, 0, position_}, values.value({0, e, 0, 0}));
        }
        if (position_ + 1 < length_) {
            paddingMask_.setValue({0, position_ + 1}, 0);
            updateMask_.setValue({0, position_}, 0);
            updateMask_.setValue({0, position_ + 1}, 1);
        }
        ++position_;
    }

    const MultiArray& keyCache() const { return keyCache_; }
    const MultiArray& valueCache() const { return valueCache_; }

    // Hides a cached position from the steps that follow, as a caller's padding mask may.
    void mask(int position) { paddingMask_.setValue({0, position}, -10000); }

private:
    std::shared_ptr<Model> model_;
    MultiArray encoderOutput_;
    MultiArray keyCache_, valueCache_, updateMask_, paddingMask_;
    int width_ = 0;
    int length_ = 0;
    int position_ = 0;
};

std::vector<float> randomValues(std::size_t count, unsigned seed, float scale)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-scale, scale);
    std::vector<float> values(count);
    for (float& v : values) {
        v = uniform(generator);
    }
    return values;
}

} // namespace

TEST(WhisperMelSpectrogram, FilterBankFollowsTheSlaneyScale)
{
    for (int melCount : {80, 128}) {
        const auto filters = MelFilterBank::filters(melCount);
        const auto expected = reference::melFilters(melCount);
        ASSERT_EQ(filters.size(), expected.size());
        for (std::size_t i = 0; i < filters.size(); ++i) {
            ASSERT_NEAR(filters[i], expected[i], 1e-6 + 1e-5 * std::abs(expected[i])) << "mel " << melCount << " cell " << i;
        }
        // Bands climb the spectrum: each one peaks no lower than the one before.
        int previousPeak = 0;
        for (int m = 0; m < melCount; ++m) {
            const auto* row = &filters[static_cast<std::size_t>(m) * MelFilterBank::binCount];
            const int peak = static_cast<int>(std::max_element(row, row + MelFilterBank::binCount) - row);
            EXPECT_GE(peak, previousPeak);
            previousPeak = peak;
        }
    }
}

TEST(WhisperMelSpectrogram, MatchesADirectFourierTransformAndPeaksInTheToneBand)
{
    TemporaryDirectory dir;
    for (int melCount : {80, 128}) {
        WhisperShape shape = testmodels::microShape();
        shape.melCount = melCount;
        shape.audioSamples = 8000;
        const auto folder = dir / ("Mel" + std::to_string(melCount) + ".mlmodelc");
        WhisperModelSet::writeMelSpectrogram(folder, shape, MultiArrayDataType::float32);
        auto model = testmodels::load(folder);
        EXPECT_EQ(model->modelDescription().output("melspectrogram_features")->shape, (std::vector<int> {1, melCount, 1, 50}));

        for (double hertz : {440.0, 1000.0, 3150.0, 6800.0}) {
            auto audio = tone(shape.audioSamples, hertz, 0.5);
            const auto mel = runMel(model, audio).toFloats();
            expectClose(mel, reference::logMel(audio, melCount), 3e-4f, "log-mel");

            // The loudest band of a middle frame is the one whose centre lies nearest the tone.
            const int frames = 50;
            const int frame = 25;
            int loudest = 0;
            for (int m = 1; m < melCount; ++m) {
                if (mel[static_cast<std::size_t>(m) * frames + frame] > mel[static_cast<std::size_t>(loudest) * frames + frame]) {
                    loudest = m;
                }
            }
            const auto filters = reference::melFilters(melCount);
            int nearest = 0;
            double best = 0;
            for (int m = 0; m < melCount; ++m) {
                const double response = filters[static_cast<std::size_t>(m) * 201 + static_cast<int>(std::lround(hertz / 40.0))];
                if (response > best) {
                    best = response;
                    nearest = m;
                }
            }
            EXPECT_NEAR(loudest, nearest, 1) << hertz << " Hz with " << melCount << " bands";
        }

        // Silence sits at the floor: log10(1e-10) = -10, mapped to (-10 + 4) / 4.
        const auto silent = runMel(model, std::vector<float>(static_cast<std::size_t>(shape.audioSamples), 0.0f)).toFloats();
        for (float v : silent) {
            ASSERT_FLOAT_EQ(v, -1.5f);
        }
        // The dynamic range is clamped to 8 decades below the loudest cell.
        auto loud = tone(shape.audioSamples, 1000.0, 1.0);
        const auto clamped = runMel(model, loud).toFloats();
        const float top = *std::max_element(clamped.begin(), clamped.end());
        EXPECT_NEAR(*std::min_element(clamped.begin(), clamped.end()), top - 2.0f, 1e-5f);
    }
}

TEST(WhisperMelSpectrogram, HalfOutputAndTheFullWindow)
{
    TemporaryDirectory dir;
    WhisperShape shape = testmodels::microShape();
    shape.audioSamples = 480000;
    shape.melCount = 80;
    WhisperModelSet::writeMelSpectrogram(dir / "Mel.mlmodelc", shape, MultiArrayDataType::float16);
    auto model = testmodels::load(dir / "Mel.mlmodelc");
    const auto audio = tone(shape.audioSamples, 2000.0, 0.3);
    const MultiArray mel = runMel(model, audio);
    ASSERT_EQ(mel.shape(), (std::vector<int> {1, 80, 1, 3000}));
    EXPECT_EQ(mel.dataType(), MultiArrayDataType::float16);
    // Check a few frames against the reference on a prefix that covers them (frames only see
    // 200 samples on each side).
    const std::vector<float> prefix(audio.begin(), audio.begin() + 16000);
    const auto expected = reference::logMel(prefix, 80);
    for (int m = 0; m < 80; ++m) {
        for (int t : {0, 10, 50, 90}) {
            EXPECT_NEAR(mel.value({0, m, 0, t}), expected[static_cast<std::size_t>(m) * 100 + t], 3e-3) << m << "," << t;
        }
    }
}

TEST(WhisperAudioEncoder, MatchesThePlainReference)
{
    TemporaryDirectory dir;
    const WhisperShape shape = testmodels::microShape();
    for (auto storage : {MultiArrayDataType::float32, MultiArrayDataType::float16}) {
        const auto folder = dir / (std::string("Encoder") + std::string(dataTypeName(storage)) + ".mlmodelc");
        WhisperModelSet::writeAudioEncoder(folder, shape, storage, randomWhisperWeights(7));
        auto model = testmodels::load(folder);
        const auto weights = reference::readWeights(folder);

        auto mel = randomValues(static_cast<std::size_t>(shape.melCount * shape.melFrames()), 11, 1.5f);
        if (storage == MultiArrayDataType::float16) {
            for (float& v : mel) {
                v = reference::roundToHalf(v);
            }
        }
        MultiArray input({1, shape.melCount, 1, shape.melFrames()}, storage);
        for (std::size_t i = 0; i < mel.size(); ++i) {
            input.setLinear(i, mel[i]);
        }
        DictionaryFeatureProvider features;
        features.set("melspectrogram_features", input);
        const MultiArray output = *model->prediction(features).featureValue("encoder_output_embeds");
        ASSERT_EQ(output.shape(), (std::vector<int> {1, shape.width, 1, shape.audioFrames()}));
        EXPECT_EQ(output.dataType(), storage);
        const auto expected = reference::encoder(weights, dimensions(shape), mel, shape.melFrames());
        expectClose(output.toFloats(), expected, storage == MultiArrayDataType::float32 ? 2e-5f : 4e-3f, "encoder output");
    }
}

TEST(WhisperAudioEncoder, OddFrameCountsAndStridedInput)
{
    TemporaryDirectory dir;
    WhisperShape shape = testmodels::microShape();
    shape.audioSamples = 3360; // 21 mel frames, 11 positions
    WhisperModelSet::writeAudioEncoder(dir / "E.mlmodelc", shape, MultiArrayDataType::float32, randomWhisperWeights(3));
    auto model = testmodels::load(dir / "E.mlmodelc");
    const auto mel = randomValues(static_cast<std::size_t>(shape.melCount * 21), 5, 1.0f);
    // Rows padded to 24 elements: the program must follow the strides.
    MultiArray input({1, shape.melCount, 1, 21}, MultiArrayDataType::float32, {shape.melCount * 24, 24, 24, 1});
    for (int c = 0; c < shape.melCount; ++c) {
        for (int t = 0; t < 21; ++t) {
            input.setValue({0, c, 0, t}, mel[static_cast<std::size_t>(c) * 21 + t]);
        }
    }
    DictionaryFeatureProvider features;
    features.set("melspectrogram_features", input);
    const auto output = model->prediction(features).featureValue("encoder_output_embeds")->toFloats();
    expectClose(output, reference::encoder(reference::readWeights(dir / "E.mlmodelc"), dimensions(shape), mel, 21), 2e-5f,
        "encoder output");
}

TEST(WhisperTextDecoder, StepsWithTheCacheEqualAFullCausalPass)
{
    TemporaryDirectory dir;
    // Head width 64 (every real shape) and 32 take the register kernels, 12 the plain loops (with
    // rows not a multiple of 8); 200 audio positions run the vector loops over frames.
    WhisperShape real = testmodels::microShape();
    real.width = 128;
    real.textHeads = 2;
    real.alignmentHeads = {{0, 1}, {1, 0}};
    WhisperShape wide = testmodels::microShape();
    wide.audioSamples = 64000;
    wide.width = 64;
    wide.textHeads = 2;
    wide.alignmentHeads = {{1, 0}, {1, 1}, {0, 1}};
    WhisperShape narrow = testmodels::microShape();
    narrow.width = 36;
    narrow.textHeads = 3;
    narrow.audioHeads = 3;
    narrow.alignmentHeads = {{1, 2}};
    // More layers than one parallel sequence holds.
    WhisperShape deep = testmodels::microShape();
    deep.textLayers = 130;
    deep.alignmentHeads = {{129, 1}, {0, 2}, {127, 3}};
    for (const auto& [shape, storage] : {std::pair {real, MultiArrayDataType::float32}, std::pair {real, MultiArrayDataType::float16},
             std::pair {wide, MultiArrayDataType::float32}, std::pair {wide, MultiArrayDataType::float16},
             std::pair {narrow, MultiArrayDataType::float32}, std::pair {deep, MultiArrayDataType::float32}}) {
        const auto folder = dir
            / ("Decoder" + std::to_string(shape.width) + "x" + std::to_string(shape.textLayers) + std::string(dataTypeName(storage))
                + ".mlmodelc");
        WhisperModelSet::writeTextDecoder(folder, shape, storage, randomWhisperWeights(21));
        auto model = testmodels::load(folder);
        const auto weights = reference::readWeights(folder);

        auto encoded = randomValues(static_cast<std::size_t>(shape.width * shape.audioFrames()), 9, 2.0f);
        if (storage == MultiArrayDataType::float16) {
            for (float& v : encoded) {
                v = reference::roundToHalf(v);
            }
        }
        MultiArray encoderOutput({1, shape.width, 1, shape.audioFrames()}, storage);
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            encoderOutput.setLinear(i, encoded[i]);
        }
        std::vector<int> tokens;
        std::mt19937 generator(4);
        for (int i = 0; i < 20; ++i) {
            tokens.push_back(static_cast<int>(generator() % static_cast<unsigned>(shape.vocabularySize)));
        }
        reference::Dimensions d {shape.melCount, shape.vocabularySize, shape.width, shape.textHeads, shape.textLayers};
        const auto expected = reference::decoder(weights, d, shape.alignmentHeads, encoded, shape.audioFrames(), tokens,
            storage == MultiArrayDataType::float16);

        CacheDriver driver(model, encoderOutput);
        // Rounding differences grow with the layers they pass through.
        const float tolerance = storage == MultiArrayDataType::float16 ? 2e-3f : shape.textLayers > 2 ? 1e-3f : 1e-4f;
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            auto output = driver.step(tokens[i]);
            const MultiArray logits = *output.featureValue("logits");
            ASSERT_EQ(logits.shape(), (std::vector<int> {1, 1, shape.vocabularySize}));
            expectClose(logits.toFloats(), expected.logits[i], tolerance, "logits");

            const auto alignment = output.featureValue("alignment_heads_weights")->toFloats();
            ASSERT_EQ(alignment.size(), static_cast<std::size_t>(shape.audioFrames()));
            double sum = 0;
            for (float a : alignment) {
                EXPECT_GE(a, 0.0f);
                sum += a;
            }
            EXPECT_NEAR(sum, 1.0, 1e-5) << "step " << i;
            expectClose(alignment, expected.alignment[i], tolerance, "alignment");
        }
    }
}

TEST(WhisperTextDecoder, LongWindowsMatchTheFullPass)
{
    TemporaryDirectory dir;
    // 700 audio positions, past the vector kernels' blocks of frames many times over, in heads of
    // the real width.
    const WhisperShape shape = realHeads(224000, {{1, 0}, {0, 1}});
    for (auto storage : {MultiArrayDataType::float32, MultiArrayDataType::float16}) {
        const auto folder = dir / ("Long" + std::string(dataTypeName(storage)) + ".mlmodelc");
        WhisperModelSet::writeTextDecoder(folder, shape, storage, randomWhisperWeights(31));
        auto model = testmodels::load(folder);
        auto encoded = randomValues(static_cast<std::size_t>(shape.width * shape.audioFrames()), 12, 2.0f);
        if (storage == MultiArrayDataType::float16) {
            for (float& v : encoded) {
                v = reference::roundToHalf(v);
            }
        }
        MultiArray encoderOutput({1, shape.width, 1, shape.audioFrames()}, storage);
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            encoderOutput.setLinear(i, encoded[i]);
        }
        const std::vector<int> tokens {3, 17, 5, 39, 0, 22};
        reference::Dimensions d {shape.melCount, shape.vocabularySize, shape.width, shape.textHeads, shape.textLayers};
        const auto expected = reference::decoder(reference::readWeights(folder), d, shape.alignmentHeads, encoded,
            shape.audioFrames(), tokens, storage == MultiArrayDataType::float16);
        CacheDriver driver(model, encoderOutput);
        const float tolerance = storage == MultiArrayDataType::float32 ? 1e-4f : 2e-3f;
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            auto output = driver.step(tokens[i]);
            expectClose(output.featureValue("logits")->toFloats(), expected.logits[i], tolerance, "logits");
            const auto alignment = output.featureValue("alignment_heads_weights")->toFloats();
            double sum = 0;
            for (float a : alignment) {
                sum += a;
            }
            EXPECT_NEAR(sum, 1.0, 1e-5) << "step " << i;
            expectClose(alignment, expected.alignment[i], tolerance, "alignment");
        }
    }
}

TEST(WhisperTextDecoder, FollowsNewEncoderOutputTheCallersMaskAndCacheStrides)
{
    TemporaryDirectory dir;
    const WhisperShape shape = testmodels::microShape();
    WhisperModelSet::writeTextDecoder(dir / "D.mlmodelc", shape, MultiArrayDataType::float32, randomWhisperWeights(5));
    auto model = testmodels::load(dir / "D.mlmodelc");
    const auto weights = reference::readWeights(dir / "D.mlmodelc");
    reference::Dimensions d {shape.melCount, shape.vocabularySize, shape.width, shape.textHeads, shape.textLayers};
    const std::size_t count = static_cast<std::size_t>(shape.width * shape.audioFrames());
    const std::vector<int> tokens {3, 17, 5, 9, 30, 1};

    // One array refilled in place for a second window: the cached cross-attention must not outlive it.
    const auto first = randomValues(count, 1, 1.0f);
    const auto second = randomValues(count, 2, 1.0f);
    auto encoderOutput = MultiArray::fromValues<float>({1, shape.width, 1, shape.audioFrames()}, first);
    {
        CacheDriver driver(model, encoderOutput);
        expectClose(driver.step(3).featureValue("logits")->toFloats(),
            reference::decoder(weights, d, shape.alignmentHeads, first, shape.audioFrames(), {3}, false).logits[0], 1e-4f,
            "first window");
    }
    std::copy(second.begin(), second.end(), encoderOutput.data<float>());
    {
        CacheDriver driver(model, encoderOutput);
        driver.step(3);
        const auto logits = driver.step(17).featureValue("logits")->toFloats();
        expectClose(logits,
            reference::decoder(weights, d, shape.alignmentHeads, second, shape.audioFrames(), {3, 17}, false).logits[1], 1e-4f,
            "second window");
    }

    // Position 1 masked after it was decoded: later steps no longer attend to it.
    const auto masked = reference::decoder(weights, d, shape.alignmentHeads, second, shape.audioFrames(), tokens, false, {1});
    CacheDriver maskedDriver(model, encoderOutput);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const auto logits = maskedDriver.step(tokens[i]).featureValue("logits")->toFloats();
        if (i == 1) {
            maskedDriver.mask(1);
        }
        expectClose(logits, masked.logits[i], 1e-4f, "masked");
    }

    // Caches laid out with padded rows or position-major give the same steps as packed ones.
    const auto expected = reference::decoder(weights, d, shape.alignmentHeads, second, shape.audioFrames(), tokens, false);
    for (auto layout : {CacheDriver::Layout::paddedRows, CacheDriver::Layout::positionMajor}) {
        CacheDriver driver(model, encoderOutput, layout);
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            expectClose(driver.step(tokens[i]).featureValue("logits")->toFloats(), expected.logits[i], 1e-4f, "strided caches");
        }
    }

    // A refill that differs from the kept output in a single value gets a state of its own.
    auto refill = second;
    for (const std::size_t changed : {count / 2, count - 1}) {
        refill[changed] += 4.0f;
        std::copy(refill.begin(), refill.end(), encoderOutput.data<float>());
        CacheDriver refilled(model, encoderOutput);
        expectClose(refilled.step(3).featureValue("logits")->toFloats(),
            reference::decoder(weights, d, shape.alignmentHeads, refill, shape.audioFrames(), {3}, false).logits[0], 1e-4f,
            "one value changed");
    }
}

// Windows of their own audio (two sharing one), tokens chosen greedily from their own logits.
// Window 1 ends while the others go on, window 2 steps its first positions alone before it joins
// (a prompt already in its cache) and window 4 joins late: every batch mixes cache lengths.
TEST(WhisperTextDecoder, WindowsSteppingTogetherEqualTheirStepsAlone)
{
    TemporaryDirectory dir;
    const WhisperShape shape = realHeads(64000, {{0, 1}, {1, 0}});
    struct Plan {
        unsigned audio;
        int firstToken;
        int start; // the schedule step of its first batched step
        int alone; // steps it takes alone first
        int steps;
    };
    const std::vector<Plan> plans {{1, 3, 0, 0, 12}, {2, 8, 0, 0, 3}, {3, 21, 0, 4, 10}, {4, 30, 5, 0, 7}, {4, 17, 2, 0, 9}};
    for (auto storage : {MultiArrayDataType::float32, MultiArrayDataType::float16}) {
        const auto folder = dir / ("Together" + std::string(dataTypeName(storage)) + ".mlmodelc");
        WhisperModelSet::writeTextDecoder(folder, shape, storage, randomWhisperWeights(41));
        auto model = testmodels::load(folder);
        ASSERT_GE(model->batchCapacity(), plans.size());
        const float tolerance = storage == MultiArrayDataType::float16 ? 2e-3f : 1e-4f;
        const auto argmax = [](const DictionaryFeatureProvider& output) {
            const auto logits = output.featureValue("logits")->toFloats();
            return static_cast<int>(std::max_element(logits.begin(), logits.end()) - logits.begin());
        };
        const auto makeDrivers = [&] {
            std::vector<CacheDriver> drivers;
            for (const Plan& plan : plans) {
                const auto encoded = randomValues(static_cast<std::size_t>(shape.width * shape.audioFrames()), plan.audio, 2.0f);
                MultiArray encoderOutput({1, shape.width, 1, shape.audioFrames()}, storage);
                for (std::size_t i = 0; i < encoded.size(); ++i) {
                    encoderOutput.setLinear(i, encoded[i]);
                }
                drivers.emplace_back(model, encoderOutput);
            }
            return drivers;
        };

        // Each window alone.
        std::vector<std::vector<DictionaryFeatureProvider>> alone(plans.size());
        std::vector<std::vector<int>> tokens(plans.size());
        std::vector<CacheDriver> reference = makeDrivers();
        for (std::size_t w = 0; w < plans.size(); ++w) {
            int token = plans[w].firstToken;
            for (int i = 0; i < plans[w].alone + plans[w].steps; ++i) {
                tokens[w].push_back(token);
                alone[w].push_back(reference[w].step(token));
                token = argmax(alone[w].back());
            }
        }

        // The same windows on the schedule, every step of a schedule step in one batch.
        std::vector<CacheDriver> drivers = makeDrivers();
        std::vector<std::size_t> taken(plans.size(), 0);
        std::vector<int> next(plans.size());
        for (std::size_t w = 0; w < plans.size(); ++w) {
            next[w] = plans[w].firstToken;
            for (int i = 0; i < plans[w].alone; ++i) {
                next[w] = argmax(drivers[w].step(next[w]));
                ++taken[w];
            }
        }
        for (int t = 0;; ++t) {
            std::vector<std::size_t> active;
            std::vector<DictionaryFeatureProvider> inputs;
            for (std::size_t w = 0; w < plans.size(); ++w) {
                if (t >= plans[w].start && t < plans[w].start + plans[w].steps) {
                    active.push_back(w);
                    inputs.push_back(drivers[w].input(next[w]));
                }
            }
            if (active.empty() && t > 0) {
                break;
            }
            std::vector<const FeatureProvider*> steps;
            for (const auto& input : inputs) {
                steps.push_back(&input);
            }
            const auto outputs = model->predictions(steps);
            ASSERT_EQ(outputs.size(), active.size());
            for (std::size_t k = 0; k < active.size(); ++k) {
                const std::size_t w = active[k];
                const std::size_t i = taken[w]++;
                const std::string what = "window " + std::to_string(w) + " step " + std::to_string(i);
                EXPECT_EQ(next[w], tokens[w][i]) << what;
                const auto& expected = alone[w][i];
                for (const char* name : {"logits", "key_cache_updates", "value_cache_updates", "alignment_heads_weights"}) {
                    expectClose(outputs[k].featureValue(name)->toFloats(), expected.featureValue(name)->toFloats(), tolerance,
                        (what + " " + name).c_str());
                }
                drivers[w].keep(outputs[k]);
                next[w] = argmax(outputs[k]);
            }
        }
        for (std::size_t w = 0; w < plans.size(); ++w) {
            ASSERT_EQ(taken[w], tokens[w].size());
            expectClose(drivers[w].keyCache().toFloats(), reference[w].keyCache().toFloats(), tolerance, "key cache");
            expectClose(drivers[w].valueCache().toFloats(), reference[w].valueCache().toFloats(), tolerance, "value cache");
        }
    }
}

TEST(WhisperTextDecoder, RejectsInputsOutsideTheModel)
{
    TemporaryDirectory dir;
    const WhisperShape shape = testmodels::microShape();
    WhisperModelSet::writeTextDecoder(dir / "D.mlmodelc", shape, MultiArrayDataType::float16, randomWhisperWeights(5));
    auto model = testmodels::load(dir / "D.mlmodelc");
    const int cacheWidth = shape.textLayers * shape.width;
    auto inputs = [&](int token, int position) {
        DictionaryFeatureProvider input;
        input.set("input_ids", MultiArray::fromValues<std::int32_t>({1}, std::vector<std::int32_t> {token}));
        input.set("cache_length", MultiArray::fromValues<std::int32_t>({1}, std::vector<std::int32_t> {position}));
        input.set("key_cache", MultiArray({1, cacheWidth, 1, shape.cacheLength}, MultiArrayDataType::float16));
        input.set("value_cache", MultiArray({1, cacheWidth, 1, shape.cacheLength}, MultiArrayDataType::float16));
        input.set("kv_cache_update_mask", MultiArray({1, shape.cacheLength}, MultiArrayDataType::int32));
        input.set("encoder_output_embeds", MultiArray({1, shape.width, 1, shape.audioFrames()}, MultiArrayDataType::float16));
        input.set("decoder_key_padding_mask", MultiArray({1, shape.cacheLength}, MultiArrayDataType::float16));
        return input;
    };
    EXPECT_NO_THROW(model->prediction(inputs(shape.vocabularySize - 1, shape.cacheLength - 1)));
    EXPECT_THAT([&] { model->prediction(inputs(shape.vocabularySize, 0)); },
        ::testing::ThrowsMessage<ModelError>(HasSubstr("outside the vocabulary")));
    EXPECT_THAT([&] { model->prediction(inputs(-1, 0)); }, ::testing::ThrowsMessage<ModelError>(HasSubstr("input_ids")));
    EXPECT_THAT([&] { model->prediction(inputs(0, shape.cacheLength)); },
        ::testing::ThrowsMessage<ModelError>(HasSubstr("\"cache_length\" is 24")));
    EXPECT_THAT([&] { model->prediction(inputs(0, -3)); }, ::testing::ThrowsMessage<ModelError>(HasSubstr("cache_length")));

    auto wrongType = inputs(0, 0);
    wrongType.set("encoder_output_embeds", MultiArray({1, shape.width, 1, shape.audioFrames()}, MultiArrayDataType::float32));
    EXPECT_THROW(model->prediction(wrongType), ModelError);
    auto wrongShape = inputs(0, 0);
    wrongShape.set("key_cache", MultiArray({1, cacheWidth, 1, shape.cacheLength + 1}, MultiArrayDataType::float16));
    EXPECT_THROW(model->prediction(wrongShape), ModelError);
}
