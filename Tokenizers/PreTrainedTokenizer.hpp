#pragma once

#include "Tokenizers/Decoder.hpp"
#include "Tokenizers/Normalizer.hpp"
#include "Tokenizers/PostProcessor.hpp"
#include "Tokenizers/PreTokenizer.hpp"
#include "Tokenizers/Tokenizer.hpp"
#include "Tokenizers/TokenizingModel.hpp"

#include <map>
#include <memory>
#include <set>

namespace tokenizers {

// Class name (without "Fast") to the model kind it builds. Built once; read-only afterwards.
const std::map<std::string, PreTrainedTokenizerModelFactory, std::less<>>& tokenizerClassTable();

// The tokenizer assembled from "tokenizer.json" (the tokenizer data) and "tokenizer_config.json"
// (the tokenizer configuration): normalizer, pre-tokenizer, model, post-processor and decoder.
// Immutable once built, so one instance may serve several threads.
class PreTrainedTokenizer : public Tokenizer {
public:
    // Throws TokenizerError: missingTokenizerClassInConfig, unsupportedTokenizer(name), the model's
    // errors, or configuration(message) for a stage that cannot be built.
    PreTrainedTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData);
    ~PreTrainedTokenizer() override;

    std::vector<std::string> tokenize(const std::string& text) const override;
    std::vector<int> encode(const std::string& text) const override;
    std::string decode(const std::vector<int>& tokens) const override;

    std::optional<int> convertTokenToId(const std::string& token) const override;
    std::optional<int> knownTokenId(const std::string& token) const override;
    std::optional<std::string> convertIdToToken(int id) const override;

    std::optional<std::string> bosToken() const override { return model_->bosToken(); }
    std::optional<int> bosTokenId() const override { return model_->bosTokenId(); }
    std::optional<std::string> eosToken() const override { return model_->eosToken(); }
    std::optional<int> eosTokenId() const override { return model_->eosTokenId(); }
    std::optional<std::string> unknownToken() const override { return model_->unknownToken(); }
    std::optional<int> unknownTokenId() const override { return model_->unknownTokenId(); }

    // The pre-tokenizer's pieces, or the text itself when there is none.
    std::vector<std::string> preTokenize(const std::string& text) const;
    // Removes the blank before punctuation and contractions of decoded text, when enabled.
    std::string cleanUp(const std::string& text) const;

    const TokenizingModel& model() const { return *model_; }
    const std::set<std::string>& addedTokens() const { return addedTokens_; }
    const std::map<std::string, int>& specialTokens() const { return specialTokens_; }
    bool cleanUpTokenizationSpaces() const { return cleanUpTokenizationSpaces_; }

private:
    std::unique_ptr<TokenizingModel> model_;
    std::set<std::string> addedTokens_;
    std::map<std::string, int> specialTokens_;
    std::unique_ptr<PreTokenizer> preTokenizer_;
    std::unique_ptr<Normalizer> normalizer_;
    std::unique_ptr<PostProcessor> postProcessor_;
    std::unique_ptr<Decoder> decoder_;
    bool cleanUpTokenizationSpaces_ = true;
};

} // namespace tokenizers
