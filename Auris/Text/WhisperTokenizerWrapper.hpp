#pragma once

#include "Auris/Text/WhisperTokenizer.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace auris {

// Gives any tokenizer the speech model's view: control-token ids (with fixed fallbacks), language
// tokens and word splitting. Immutable once built; copies share the wrapped tokenizer.
class WhisperTokenizerWrapper : public WhisperTokenizer {
public:
    // Language code of a text, or none; by default the platform's script-based recogniser.
    using LanguageGuess = std::function<std::optional<std::string>(const std::string& text)>;

    explicit WhisperTokenizerWrapper(std::shared_ptr<const tokenizers::Tokenizer> tokenizer, LanguageGuess languageGuess = {});

    const std::shared_ptr<const tokenizers::Tokenizer>& tokenizer() const { return tokenizer_; }
    const SpecialTokens& specialTokens() const override { return specialTokens_; }
    const std::set<int>& allLanguageTokens() const override { return allLanguageTokens_; }

    // Per character for languages written without spaces ("zh", "ja", "th", "lo", "my", "yue"), else at spaces.
    WordSplit splitIntoWords(const std::vector<int>& tokenIds) const override;
    // Pieces that each decode to whole characters; ids left over at the end are dropped.
    WordSplit splitTokensOnUnicode(const std::vector<int>& tokens) const;
    // Pieces joined into words: a piece starts a word when it is special, begins with a blank or is
    // one punctuation character.
    WordSplit splitTokensOnSpaces(const std::vector<int>& tokens) const;

    std::vector<std::string> tokenize(const std::string& text) const override { return tokenizer_->tokenize(text); }
    std::vector<int> encode(const std::string& text) const override { return tokenizer_->encode(text); }
    std::string decode(const std::vector<int>& tokens) const override { return tokenizer_->decode(tokens); }
    std::optional<int> convertTokenToId(const std::string& token) const override
    {
        return tokenizer_->convertTokenToId(token);
    }
    std::optional<int> knownTokenId(const std::string& token) const override { return tokenizer_->knownTokenId(token); }
    std::optional<std::string> convertIdToToken(int id) const override { return tokenizer_->convertIdToToken(id); }
    std::optional<std::string> bosToken() const override { return tokenizer_->bosToken(); }
    std::optional<int> bosTokenId() const override { return tokenizer_->bosTokenId(); }
    std::optional<std::string> eosToken() const override { return tokenizer_->eosToken(); }
    std::optional<int> eosTokenId() const override { return tokenizer_->eosTokenId(); }
    std::optional<std::string> unknownToken() const override { return tokenizer_->unknownToken(); }
    std::optional<int> unknownTokenId() const override { return tokenizer_->unknownTokenId(); }

private:
    std::shared_ptr<const tokenizers::Tokenizer> tokenizer_;
    LanguageGuess languageGuess_;
    SpecialTokens specialTokens_;
    std::set<int> allLanguageTokens_;
};

} // namespace auris
