#pragma once

#include "Tokenizers/StringMap.hpp"
#include "Tokenizers/TokenizingModel.hpp"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tokenizers {

struct BytePair {
    std::string a;
    std::string b;
    friend bool operator==(const BytePair&, const BytePair&) = default;
};

struct BytePairHash {
    std::size_t operator()(const BytePair& pair) const;
};

// A token setting written either as an object whose "content" is the token, or as the plain string.
std::optional<std::string> tokenSettingContent(const hub::Config& tokenizerConfig, const std::string& key);

// Byte-pair encoding: one pre-tokenized piece becomes vocabulary tokens by applying ranked merges.
class BPETokenizer : public PreTrainedTokenizerModel {
public:
    BPETokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData, const AddedTokens& addedTokens);
    ~BPETokenizer() override;

    std::vector<std::string> tokenize(const std::string& text) const override;
    void appendTokenIds(const std::string& text, std::vector<int>& ids) const override;
    // appendTokenIds of the byte-level spelling of raw bytes (each byte as its alphabet character),
    // without building that spelling.
    void appendByteLevelTokenIds(std::string_view bytes, std::vector<int>& ids) const;
    std::optional<int> convertTokenToId(const std::string& token) const override;
    std::optional<int> knownTokenId(const std::string& token) const override;
    std::optional<std::string> convertIdToToken(int id) const override;

    std::optional<std::string> bosToken() const override { return bosToken_; }
    std::optional<int> bosTokenId() const override { return bosTokenId_; }
    std::optional<std::string> eosToken() const override { return eosToken_; }
    std::optional<int> eosTokenId() const override { return eosTokenId_; }
    std::optional<std::string> unknownToken() const override { return unknownToken_; }
    std::optional<int> unknownTokenId() const override { return unknownTokenId_; }

    // The merged symbols of one piece, joined by single blanks.
    std::string bpeMerge(const std::string& token) const;
    // "<0xC3>"-style tokens for every UTF-8 byte of a symbol outside the vocabulary.
    static std::vector<std::string> byteFallbackTokens(std::string_view symbol);
    // The pair's 0-based position in the merges list (the later one when listed twice).
    std::optional<int> bpeRank(const BytePair& pair) const;

private:
    struct Symbol {
        int id;
        std::uint32_t begin;
        std::uint32_t end;
    };
    class MergeTable;

    static constexpr std::size_t shortWord = 32;
    static constexpr int notInVocabulary = -1;
    static constexpr int holdsBlank = -2;

    int internSymbol(const std::string& text);
    int symbolId(std::string_view text) const;
    void splitIntoSymbols(std::string_view piece, std::vector<Symbol>& word) const;
    void mergeSymbols(std::vector<Symbol>& word) const;
    void mergeShortWord(std::vector<Symbol>& word) const;
    void mergeLongWord(std::vector<Symbol>& word) const;
    // The merged symbols of a piece, in a buffer owned by the calling thread.
    const std::vector<Symbol>& mergedSymbols(std::string_view piece) const;
    template<typename Emit, typename EmitBytes>
    void forEachToken(std::string_view symbolText, const Emit& emit, const EmitBytes& emitBytes) const;

    std::unique_ptr<MergeTable> merges_;
    StringMap<int> symbolIds_;
    std::vector<int> symbolVocabularyIds_; // per symbol: its id, notInVocabulary or holdsBlank
    std::vector<int> characterSymbols_;    // symbol id of each code point of the byte-level alphabet range
    std::array<int, 256> byteSymbols_;     // symbol id of each byte's alphabet character
    std::array<std::optional<int>, 256> byteTokenIds_; // ids of "<0x00>" ... "<0xFF>"
    StringMap<int> tokensToIds_;
    std::unordered_map<int, std::string> idsToTokens_;
    std::optional<std::string> bosToken_;
    std::optional<int> bosTokenId_;
    std::optional<std::string> eosToken_;
    std::optional<int> eosTokenId_;
    std::optional<std::string> unknownToken_;
    std::optional<int> unknownTokenId_;
};

} // namespace tokenizers
