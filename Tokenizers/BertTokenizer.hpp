#pragma once

#include "Tokenizers/StringMap.hpp"
#include "Tokenizers/TokenizingModel.hpp"

#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tokenizers {

// Splits text into words: diacritics removed, lower-cased, punctuation and symbols split off.
class BasicTokenizer {
public:
    std::vector<std::string> tokenize(const std::string& text) const;

    std::vector<std::string> neverSplit {"[UNK]", "[SEP]", "[PAD]", "[CLS]", "[MASK]"};
};

// Cuts one word into the longest vocabulary entries; continuation pieces carry "##".
class WordpieceTokenizer {
public:
    // The vocabulary's keys are in canonical (NFC) form.
    explicit WordpieceTokenizer(const StringMap<int>& vocab)
        : vocab(vocab)
    {
    }

    std::vector<std::string> tokenize(const std::string& word) const;

    std::string unkToken = "[UNK]";
    int maxInputCharsPerWord = 100;
    const StringMap<int>& vocab;
};

// The WordPiece vocabulary model.
class BertTokenizer : public PreTrainedTokenizerModel {
public:
    // Added tokens are not laid over the vocabulary. Throws TokenizerError::missingVocab.
    BertTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData, const AddedTokens& addedTokens);
    BertTokenizer(const std::map<std::string, int>& vocab, const std::optional<std::vector<std::string>>& merges,
        bool tokenizeChineseChars, std::optional<std::string> bosToken, std::optional<std::string> eosToken);
    BertTokenizer(const BertTokenizer&) = delete;
    BertTokenizer& operator=(const BertTokenizer&) = delete;

    std::vector<std::string> tokenize(const std::string& text) const override;
    // The token's id, else the id of "[UNK]" (absent when the vocabulary lacks it).
    std::optional<int> convertTokenToId(const std::string& token) const override;
    std::optional<std::string> convertIdToToken(int id) const override;

    std::optional<std::string> bosToken() const override { return bosToken_; }
    std::optional<int> bosTokenId() const override { return bosTokenId_; }
    std::optional<std::string> eosToken() const override { return eosToken_; }
    std::optional<int> eosTokenId() const override { return eosTokenId_; }
    std::optional<std::string> unknownToken() const override { return wordpieceTokenizer_.unkToken; }
    std::optional<int> unknownTokenId() const override { return unknownTokenId_; }

    void setBosToken(std::optional<std::string> token) { bosToken_ = std::move(token); }
    void setBosTokenId(std::optional<int> id) { bosTokenId_ = id; }
    void setEosToken(std::optional<std::string> token) { eosToken_ = std::move(token); }
    void setEosTokenId(std::optional<int> id) { eosTokenId_ = id; }

    bool tokenizeChineseChars() const { return tokenizeChineseChars_; }
    int maxLen() const { return maxLen_; }

    // A blank before and after every CJK ideograph.
    static std::string spaceOutChineseCharacters(const std::string& text);

private:
    std::optional<int> idOf(const std::optional<std::string>& token) const;

    StringMap<int> vocab_;
    std::unordered_map<int, std::string> idsToTokens_;
    BasicTokenizer basicTokenizer_;
    WordpieceTokenizer wordpieceTokenizer_ {vocab_};
    int maxLen_ = 512;
    bool tokenizeChineseChars_ = true;
    std::optional<std::string> bosToken_;
    std::optional<int> bosTokenId_;
    std::optional<std::string> eosToken_;
    std::optional<int> eosTokenId_;
    std::optional<int> unknownTokenId_;
};

} // namespace tokenizers
