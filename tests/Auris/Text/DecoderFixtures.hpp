#pragma once

#include "Auris/Text/FakeTokenizer.hpp"
#include "Auris/Text/ProgressQueue.hpp"
#include "Auris/Text/TextDecoder.hpp"
#include "Auris/Text/TextDecoderContextPrefill.hpp"
#include "Auris/Text/WhisperTokenizerWrapper.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/Program.hpp"

#include "support/TemporaryDirectory.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace testsupport {

// Token ids of the small test vocabulary: text 0-5 (1 is the bare space), control tokens 6-15,
// timestamps 16-23.
namespace ids {
constexpr int a = 0, space = 1, b = 2, c = 3, d = 4, e = 5;
constexpr int end = 6, sot = 7, en = 8, de = 9, sk = 10, translate = 11, transcribe = 12, startOfPrevious = 13,
              noSpeech = 14, noTimestamps = 15, timeBegin = 16;
constexpr int vocabulary = 24;
} // namespace ids

inline std::shared_ptr<const auris::WhisperTokenizer> makeSmallTokenizer(bool withLanguages = true)
{
    std::map<int, std::string> vocabulary {{ids::a, "a"}, {ids::space, " "}, {ids::b, "b"}, {ids::c, "c"},
        {ids::d, "d"}, {ids::e, "e"}, {ids::end, "<|endoftext|>"}, {ids::sot, "<|startoftranscript|>"},
        {ids::translate, "<|translate|>"}, {ids::transcribe, "<|transcribe|>"},
        {ids::startOfPrevious, "<|startofprev|>"}, {ids::noSpeech, "<|nospeech|>"},
        {ids::noTimestamps, "<|notimestamps|>"}};
    if (withLanguages) {
        vocabulary[ids::en] = "<|en|>";
        vocabulary[ids::de] = "<|de|>";
        vocabulary[ids::sk] = "<|sk|>";
    }
    for (int i = 0; ids::timeBegin + i < ids::vocabulary; ++i) {
        vocabulary[ids::timeBegin + i] = "<|time" + std::to_string(i) + "|>";
    }
    vocabulary[ids::timeBegin] = "<|0.00|>";
    return std::make_shared<auris::WhisperTokenizerWrapper>(
        std::make_shared<FakeTokenizer>(vocabulary), [](const std::string&) { return std::nullopt; });
}

// What the scripted decoder saw at one call.
struct DecoderStep {
    int inputId = 0;
    int cacheLength = 0;
    std::vector<float> updateMask;
    std::vector<float> paddingMask;
};

// A decoder model whose answers a test writes: call n returns `logitsFor(n, step)`, key updates
// n * 8 + row, value updates the negative of that, and (when asked) alignment row n + column / 4.
struct DecoderScript {
    int embedDim = 2;
    int sequenceLength = 16;
    int windowSize = 6;
    int embedSize = 4;
    int vocabulary = ids::vocabulary;
    bool alignment = false;
    ml::MultiArrayDataType logitsType = ml::MultiArrayDataType::float32;
    std::function<std::vector<float>(int call, const DecoderStep& step)> logitsFor;

    std::mutex mutex;
    std::vector<DecoderStep> steps;

    std::vector<DecoderStep> recorded()
    {
        std::lock_guard lock(mutex);
        return steps;
    }
};

// Scores that make `token` the clear choice (log-probability about -0.001).
inline std::vector<float> favouring(int token, int vocabulary = ids::vocabulary)
{
    std::vector<float> scores(static_cast<std::size_t>(vocabulary), 0.0f);
    scores[static_cast<std::size_t>(token)] = 10.0f;
    return scores;
}

// Answers the listed tokens by call, then the end token.
inline std::function<std::vector<float>(int, const DecoderStep&)> answering(std::vector<int> tokens)
{
    return [tokens = std::move(tokens)](int call, const DecoderStep&) {
        return favouring(call < static_cast<int>(tokens.size()) ? tokens[static_cast<std::size_t>(call)] : ids::end);
    };
}

class ScriptedDecoderProgram : public ml::Program {
public:
    explicit ScriptedDecoderProgram(std::shared_ptr<DecoderScript> script)
        : script_(std::move(script))
    {
    }

    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        DecoderStep step;
        step.inputId = static_cast<int>(inputs.featureValue("input_ids")->value({0}));
        step.cacheLength = static_cast<int>(inputs.featureValue("cache_length")->value({0}));
        step.updateMask = inputs.featureValue("kv_cache_update_mask")->toFloats();
        step.paddingMask = inputs.featureValue("decoder_key_padding_mask")->toFloats();
        int call = 0;
        {
            std::lock_guard lock(script_->mutex);
            call = static_cast<int>(script_->steps.size());
            script_->steps.push_back(step);
        }
        const std::vector<float> scores
            = script_->logitsFor ? script_->logitsFor(call, step) : favouring(ids::end, script_->vocabulary);
        ml::MultiArray logits({1, 1, script_->vocabulary}, script_->logitsType);
        for (int i = 0; i < script_->vocabulary; ++i) {
            logits.setLinear(static_cast<std::size_t>(i), scores.at(static_cast<std::size_t>(i)));
        }
        ml::MultiArray keys({1, script_->embedDim, 1, 1}, ml::MultiArrayDataType::float16);
        ml::MultiArray values({1, script_->embedDim, 1, 1}, ml::MultiArrayDataType::float16);
        for (int row = 0; row < script_->embedDim; ++row) {
            keys.setLinear(static_cast<std::size_t>(row), call * 8 + row);
            values.setLinear(static_cast<std::size_t>(row), -(call * 8 + row));
        }
        ml::DictionaryFeatureProvider outputs;
        outputs.set("logits", logits);
        outputs.set("key_cache_updates", keys);
        outputs.set("value_cache_updates", values);
        if (script_->alignment) {
            ml::MultiArray weights({1, script_->windowSize}, ml::MultiArrayDataType::float16);
            for (int column = 0; column < script_->windowSize; ++column) {
                weights.setLinear(static_cast<std::size_t>(column), call + column / 4.0);
            }
            outputs.set("alignment_heads_weights", weights);
        }
        return outputs;
    }

private:
    std::shared_ptr<DecoderScript> script_;
};

inline std::filesystem::path writeScriptedDecoder(const TemporaryDirectory& dir, std::shared_ptr<DecoderScript> script)
{
    using ml::MultiArrayDataType;
    ml::ProgramRegistry::shared().add("test.scriptedDecoder",
        [script](const ml::ProgramContext&) { return std::make_unique<ScriptedDecoderProgram>(script); });
    const int e = script->embedDim;
    const int s = script->sequenceLength;
    ml::ModelDescription description;
    description.inputs = {{"input_ids", MultiArrayDataType::int32, {1}}, {"cache_length", MultiArrayDataType::int32, {1}},
        {"key_cache", MultiArrayDataType::float16, {1, e, 1, s}},
        {"value_cache", MultiArrayDataType::float16, {1, e, 1, s}},
        {"kv_cache_update_mask", MultiArrayDataType::int32, {1, s}},
        {"encoder_output_embeds", MultiArrayDataType::float16, {1, script->embedSize, 1, script->windowSize}},
        {"decoder_key_padding_mask", MultiArrayDataType::float16, {1, s}}};
    description.outputs = {{"logits", script->logitsType, {1, 1, script->vocabulary}},
        {"key_cache_updates", MultiArrayDataType::float16, {1, e, 1, 1}},
        {"value_cache_updates", MultiArrayDataType::float16, {1, e, 1, 1}}};
    if (script->alignment) {
        description.outputs.push_back({"alignment_heads_weights", MultiArrayDataType::float16, {1, script->windowSize}});
    }
    const auto folder = dir / auris::TextDecoder::modelFileName;
    ml::ModelFolderWriter("test.scriptedDecoder", nlohmann::json::object(), description).write(folder);
    return folder;
}

// A cache-prefill model with `positions` positions: key (row, p) = 1000 + 8 * row + p, value its negative.
struct PrefillScript {
    int embedDim = 2;
    int positions = 3;
    std::mutex mutex;
    std::vector<std::pair<int, int>> calls; // (task, language)
};

class ScriptedPrefillProgram : public ml::Program {
public:
    explicit ScriptedPrefillProgram(std::shared_ptr<PrefillScript> script)
        : script_(std::move(script))
    {
    }

    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        {
            std::lock_guard lock(script_->mutex);
            script_->calls.emplace_back(static_cast<int>(inputs.featureValue("task")->value({0})),
                static_cast<int>(inputs.featureValue("language")->value({0})));
        }
        ml::MultiArray keys({1, script_->embedDim, 1, script_->positions}, ml::MultiArrayDataType::float16);
        ml::MultiArray values({1, script_->embedDim, 1, script_->positions}, ml::MultiArrayDataType::float16);
        for (int row = 0; row < script_->embedDim; ++row) {
            for (int p = 0; p < script_->positions; ++p) {
                keys.setValue({0, row, 0, p}, 1000 + 8 * row + p);
                values.setValue({0, row, 0, p}, -(1000 + 8 * row + p));
            }
        }
        ml::DictionaryFeatureProvider outputs;
        outputs.set("key_cache_prefill", keys);
        outputs.set("value_cache_prefill", values);
        return outputs;
    }

private:
    std::shared_ptr<PrefillScript> script_;
};

inline std::filesystem::path writeScriptedPrefill(const TemporaryDirectory& dir, std::shared_ptr<PrefillScript> script)
{
    using ml::MultiArrayDataType;
    ml::ProgramRegistry::shared().add("test.scriptedPrefill",
        [script](const ml::ProgramContext&) { return std::make_unique<ScriptedPrefillProgram>(script); });
    ml::ModelDescription description;
    description.inputs = {{"task", MultiArrayDataType::int32, {1}}, {"language", MultiArrayDataType::int32, {1}}};
    description.outputs = {{"key_cache_prefill", MultiArrayDataType::float16, {1, script->embedDim, 1, script->positions}},
        {"value_cache_prefill", MultiArrayDataType::float16, {1, script->embedDim, 1, script->positions}}};
    const auto folder = dir / auris::TextDecoderContextPrefill::modelFileName;
    ml::ModelFolderWriter("test.scriptedPrefill", nlohmann::json::object(), description).write(folder);
    return folder;
}

// Runs each progress work item at once, on the decoding thread.
class InlineProgressQueue final : public auris::ProgressQueue {
public:
    void post(std::function<void()> workItem) override { workItem(); }
};

// A multilingual decoder with the small tokenizer, its progress delivered inline.
struct DecoderFixture {
    TemporaryDirectory dir;
    std::shared_ptr<DecoderScript> script = std::make_shared<DecoderScript>();
    std::shared_ptr<PrefillScript> prefillScript = std::make_shared<PrefillScript>();
    auris::TextDecoder decoder {std::make_shared<InlineProgressQueue>()};

    void load(bool withPrefill = true, bool multilingual = true)
    {
        decoder.loadModel(writeScriptedDecoder(dir, script), ml::ComputeUnits::cpuOnly, false);
        decoder.setTokenizer(makeSmallTokenizer());
        decoder.setIsModelMultilingual(multilingual);
        if (withPrefill) {
            prefillScript->embedDim = script->embedDim;
            auto prefill = std::make_shared<auris::TextDecoderContextPrefill>();
            prefill->loadModel(writeScriptedPrefill(dir, prefillScript), ml::ComputeUnits::cpuOnly, false);
            decoder.setPrefillData(prefill);
        }
    }

    ml::MultiArray encoderOutput() const
    {
        return ml::MultiArray({1, script->embedSize, 1, script->windowSize}, ml::MultiArrayDataType::float16);
    }

    // The inputs as the transcription task sets them up before its first window: prompt, prefill,
    // and the next position made visible and writable.
    auris::DecodingInputs windowInputs(const auris::DecodingOptions& options)
    {
        auto inputs = decoder.prefillDecoderInputs(decoder.prepareDecoderInputs({ids::sot}), options);
        const int cached = static_cast<int>(inputs.cacheLength[0]);
        inputs.kvCacheUpdateMask.setLinear(static_cast<std::size_t>(cached), 1);
        for (int i = 0; i <= cached; ++i) {
            inputs.decoderKeyPaddingMask.setLinear(static_cast<std::size_t>(i), 0);
        }
        return inputs;
    }
};

} // namespace testsupport
