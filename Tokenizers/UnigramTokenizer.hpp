#pragma once

#include "Tokenizers/StringMap.hpp"
#include "Tokenizers/TokenizingModel.hpp"
#include "Tokenizers/Trie.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tokenizers {

struct SentencePieceToken {
    std::string token;
    float score = 0;
    friend bool operator==(const SentencePieceToken&, const SentencePieceToken&) = default;
};

// Vocabularies of scored pieces: a text becomes the sequence of pieces with the highest total
// score; characters no piece covers come back one by one as themselves.
class UnigramTokenizer : public PreTrainedTokenizerModel {
public:
    // Added tokens are ignored. Throws TokenizerError::missingVocab when the vocabulary is missing or
    // not a list of lists, and TokenizerError::malformedVocab for a malformed entry or an unknown id
    // that is missing or names no piece.
    UnigramTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData, const AddedTokens& addedTokens);
    UnigramTokenizer(const UnigramTokenizer&) = delete;
    UnigramTokenizer& operator=(const UnigramTokenizer&) = delete;

    std::vector<std::string> tokenize(const std::string& text) const override;
    std::optional<int> convertTokenToId(const std::string& token) const override;
    std::optional<std::string> convertIdToToken(int id) const override;

    std::optional<std::string> bosToken() const override { return bosToken_; }
    std::optional<int> bosTokenId() const override { return bosTokenId_; }
    std::optional<std::string> eosToken() const override { return eosToken_; }
    std::optional<int> eosTokenId() const override { return eosTokenId_; }
    std::optional<std::string> unknownToken() const override { return unknownPiece_.token; }
    std::optional<int> unknownTokenId() const override { return unknownTokenId_; }

    const std::vector<SentencePieceToken>& vocab() const { return vocab_; }
    const SentencePieceToken& unknownPiece() const { return unknownPiece_; }
    float minScore() const { return minScore_; }

private:
    // Characters are keyed by their canonical spelling.
    using CharacterTrie = Trie<std::string>;

    std::optional<int> idOf(const std::string& token) const;

    std::vector<SentencePieceToken> vocab_;
    SentencePieceToken unknownPiece_;
    std::optional<int> unknownTokenId_;
    float minScore_ = 999.0f;
    StringMap<int> tokensToIds_;
    std::optional<std::string> bosToken_ = " ";
    std::optional<int> bosTokenId_;
    std::optional<std::string> eosToken_;
    std::optional<int> eosTokenId_;
    CharacterTrie trie_;
};

} // namespace tokenizers
