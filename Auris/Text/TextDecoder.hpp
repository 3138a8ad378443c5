#pragma once

#include "Auris/Filters/LanguageLogitsFilter.hpp"
#include "Auris/Text/ProgressQueue.hpp"
#include "Auris/Text/TextDecoding.hpp"
#include "Auris/Text/TokenLoop.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace auris {

// Runs the text-decoder model ("TextDecoder.mlmodelc") token by token over one window.
// Several windows may be decoded at once; each call keeps its own loop state, and windows decoded
// on different threads at the same time take their decoder steps together: the work of a window's
// step after its prediction (filters, sampling, cache, progress) then runs on the model's threads.
class TextDecoder : public TextDecoding, public WhisperMLModel {
public:
    static constexpr const char* modelFileName = "TextDecoder.mlmodelc";
    // Most tokens a window's list holds before the end token, prompt included.
    static constexpr int maxTokenCount = TokenLoop::maxTokenCount;

    // Progress callbacks run on a worker of the decoder's own, one after another.
    TextDecoder();
    // Progress callbacks run where `progressQueue` puts them.
    explicit TextDecoder(std::shared_ptr<ProgressQueue> progressQueue);
    ~TextDecoder() override;

    std::shared_ptr<const WhisperTokenizer> tokenizer() const override;
    void setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer) override;
    std::shared_ptr<WhisperMLModel> prefillData() const override;
    void setPrefillData(std::shared_ptr<WhisperMLModel> prefillData) override;
    bool isModelMultilingual() const override;
    void setIsModelMultilingual(bool isModelMultilingual) override;

    bool supportsWordTimestamps() const override;
    std::optional<int> logitsSize() const override;
    std::optional<int> kvCacheEmbedDim() const override;
    std::optional<int> kvCacheMaxSequenceLength() const override;
    std::optional<int> windowSize() const override;
    std::optional<int> embedSize() const override;

    // Drops the decoder and prefill models and the cached language filter.
    void unloadModel() override;

    std::optional<LogitsPrediction> predictLogits(const ml::MultiArray& inputIds, const ml::MultiArray& cacheLength,
        const ml::MultiArray& keyCache, const ml::MultiArray& valueCache, const ml::MultiArray& kvCacheUpdateMask,
        const ml::MultiArray& encoderOutputEmbeds, const ml::MultiArray& decoderKeyPaddingMask,
        std::stop_token stopToken = {}) override;

    DecodingResult decodeText(const ml::MultiArray& encoderOutput, DecodingInputs decoderInputs,
        TokenSampling& sampler, const DecodingOptions& options, ProgressCallback callback = {},
        std::stop_token stopToken = {}) override;

    // Runs on inputs of its own, so the caller's prefilled cache and masks stay as they are.
    DecodingResult detectLanguage(const ml::MultiArray& encoderOutput, DecodingInputs decoderInputs,
        TokenSampling& sampler, const DecodingOptions& options, float temperature,
        std::stop_token stopToken = {}) override;

    // Early-stop flags of the running windows, by window id; entries live for one decode call.
    class EarlyStopTable {
    public:
        void insert(const std::string& windowId);
        // Sets the flag only while the window is still running.
        void requestStop(const std::string& windowId);
        bool shouldStop(const std::string& windowId) const;
        // False when the window had no entry.
        bool remove(const std::string& windowId);
        std::size_t count() const;

    private:
        mutable std::mutex mutex_;
        std::map<std::string, bool> flags_;
    };
    const EarlyStopTable& shouldEarlyStop() const { return *shouldEarlyStop_; }

private:
    enum class StepOutcome { continues, endsWindow };

    // The token loop's steps as a series the decoder model runs, together with the windows other
    // threads decode at the time.
    class WindowSteps;

    // The token loop's stages, in the order one window runs them.
    TokenLoop setUpLoop(const ml::MultiArray& encoderOutput, DecodingInputs decoderInputs, TokenSampling& sampler,
        const DecodingOptions& options, ProgressCallback callback, std::stop_token stopToken);
    void runTokenLoop(TokenLoop& loop);
    void writeStepInput(TokenLoop& loop, int tokenIndex) const;
    StepOutcome finishStep(TokenLoop& loop, int tokenIndex, const LogitsPrediction& prediction) const;
    void postProgress(const TokenLoop& loop, int tokenIndex) const;

    std::shared_ptr<const LanguageLogitsFilter> languageFilter(const std::set<int>& languageTokens, int logitsDim);

    mutable std::mutex fieldsMutex_;
    std::shared_ptr<const WhisperTokenizer> tokenizer_;
    std::shared_ptr<WhisperMLModel> prefillData_;
    bool isModelMultilingual_ = false;
    std::shared_ptr<const LanguageLogitsFilter> languageLogitsFilter_;

    std::shared_ptr<EarlyStopTable> shouldEarlyStop_ = std::make_shared<EarlyStopTable>();
    std::shared_ptr<ProgressQueue> progressQueue_;
};

} // namespace auris
