#pragma once

#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"
#include "Auris/Filters/LogitsFiltering.hpp"
#include "Auris/Models/DecodingInputs.hpp"
#include "Auris/Sampling/TokenSampling.hpp"
#include "Auris/Text/SpecialTokens.hpp"
#include "Auris/Text/TextDecoding.hpp"
#include "Auris/Text/WhisperTokenizer.hpp"

#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace auris {

// What the steps of one window's token loop share, and the loop's rules that need no model.
struct TokenLoop {
    // Most tokens a window's list holds before the end token, prompt included.
    static constexpr int maxTokenCount = 223;
    static constexpr double secondsPerTimestamp = 0.02;

    // Which token indexes the loop visits. Steps below `firstSampledIndex` only feed the prompt.
    struct Bounds {
        int prefilledIndex = 0;
        int promptCount = 0;
        int firstSampledIndex = 0;
        int limit = 0;
    };
    // Throws WhisperError (decodingFailed) for inputs without prompt, cache length, input id or cache positions.
    static Bounds loopBounds(const DecodingInputs& inputs, int sampleLength);

    // The filter chain in the order it runs. Suppressed tokens outside `vocabulary` are logged and left out.
    static std::vector<std::unique_ptr<LogitsFiltering>> makeFilters(const DecodingOptions& options,
        const SpecialTokens& special, int promptCount, std::optional<int> vocabulary, bool isModelMultilingual);

    // Whole timestamp steps in `seconds`, truncated; none for none or not-a-number.
    static std::optional<int> timestampIndex(std::optional<float> seconds);

    // What the token sampled at one step does to the window.
    struct StepEnd {
        bool isFirstTokenLogProbTooLow = false;
        bool endsWindow = false;
    };
    // Tokens sampled while the prompt is still fed are discarded, so they neither end the window
    // nor judge its first token.
    static StepEnd stepEnd(const Bounds& bounds, int tokenIndex, bool completed, float logProb,
        std::optional<float> firstTokenLogProbThreshold, std::size_t tokenCount);

    // The finalised list from its first start-of-transcript token through its first end token.
    struct Segment {
        std::vector<int> tokens;
        std::vector<float> logProbs;
    };
    static Segment segment(const SamplingResult& finalized, const SpecialTokens& special);

    struct Language {
        std::string code;
        std::map<std::string, float> probs;
    };
    // A language token's code: its text without the special-token marks.
    static std::string languageCode(const WhisperTokenizer& tokenizer, int token);
    // The requested language, else the segment's first language token, else the default.
    static Language language(const std::optional<std::string>& requested, const std::vector<int>& segmentTokens,
        const std::vector<std::map<int, float>>& tokenLogProbs, const WhisperTokenizer& tokenizer);

    // The call's inputs.
    const ml::MultiArray& encoderOutput;
    TokenSampling& sampler;
    const DecodingOptions& options;
    TextDecoding::ProgressCallback callback;
    std::stop_token stopToken;
    std::shared_ptr<const WhisperTokenizer> tokenizer;
    SpecialTokens special;

    // The loop's state, updated step by step.
    DecodingInputs inputs;
    Bounds bounds;
    std::vector<std::unique_ptr<LogitsFiltering>> filters;
    std::vector<int> tokens;
    std::vector<float> logProbs;
    int nextToken = 0;
    TranscriptionTimings timings;
    bool isFirstTokenLogProbTooLow = false;
    bool hasAlignment = false;
    std::string windowId;
};

} // namespace auris
