#include "Tokenizers/UnigramTokenizer.hpp"

#include "Tokenizers/CanonicalText.hpp"
#include "Tokenizers/TokenLattice.hpp"
#include "Tokenizers/Tokenizer.hpp"
#include "platform/text/Graphemes.hpp"

#include <algorithm>
#include <stdexcept>

namespace tokenizers {

namespace {

using nlohmann::json;

// The canonical spelling of each character; the trie's elements.
std::vector<std::string> canonicalCharacters(std::string_view text)
{
    std::vector<std::string> characters;
    for (std::string_view character : platform::graphemeClusters(text)) {
        characters.push_back(canonicalText(character));
    }
    return characters;
}

std::string joined(const std::vector<std::string>& characters)
{
    std::string text;
    for (const auto& character : characters) {
        text += character;
    }
    return text;
}

SentencePieceToken pieceOf(const json& entry)
{
    if (!entry.is_array() || entry.empty() || !entry.front().is_string() || !entry.back().is_number()) {
        throw TokenizerError::malformedVocab();
    }
    return {entry.front().get<std::string>(), static_cast<float>(entry.back().get<double>())};
}

} // namespace

UnigramTokenizer::UnigramTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData, const AddedTokens&)
{
    const auto model = tokenizerData["model"];
    const auto vocabConfig = model ? (*model)["vocab"] : std::nullopt;
    const json* entries = vocabConfig ? vocabConfig->value() : nullptr;
    const auto isList = [](const json& value) { return value.is_array(); };
    if (!entries || !entries->is_array() || !std::all_of(entries->begin(), entries->end(), isList)) {
        throw TokenizerError::missingVocab();
    }
    vocab_.reserve(entries->size());
    for (const json& entry : *entries) {
        vocab_.push_back(pieceOf(entry));
    }
    for (const auto& piece : vocab_) {
        minScore_ = std::min(minScore_, piece.score);
    }

    const auto unknownId = (*model)["unkId"] ? (*model)["unkId"]->intValue() : std::nullopt;
    // An id that names no piece leaves the unknown token undefined.
    if (!unknownId || *unknownId < 0 || static_cast<std::size_t>(*unknownId) >= vocab_.size()) {
        throw TokenizerError::malformedVocab();
    }
    unknownTokenId_ = *unknownId;
    unknownPiece_ = {vocab_[static_cast<std::size_t>(*unknownId)].token, minScore_ - 10.0f};

    std::vector<std::vector<std::string>> spellings;
    spellings.reserve(vocab_.size());
    tokensToIds_.reserve(vocab_.size());
    for (std::size_t id = 0; id < vocab_.size(); ++id) {
        spellings.push_back(canonicalCharacters(vocab_[id].token));
        tokensToIds_[joined(spellings.back())] = static_cast<int>(id);
    }

    bosTokenId_ = idOf(*bosToken_);
    if (const auto eos = tokenizerConfig["eosToken"]) {
        eosToken_ = eos->stringValue();
    }
    if (eosToken_) {
        eosTokenId_ = idOf(*eosToken_);
    }
    trie_.append(spellings);
}

std::optional<int> UnigramTokenizer::idOf(const std::string& token) const
{
    const auto found = tokensToIds_.find(joined(canonicalCharacters(token)));
    return found == tokensToIds_.end() ? std::nullopt : std::optional<int>(found->second);
}

std::vector<std::string> UnigramTokenizer::tokenize(const std::string& text) const
{
    TokenLattice lattice(text, bosTokenId_.value_or(0), eosTokenId_.value_or(0));
    const std::vector<std::string> characters = canonicalCharacters(lattice.sentence());
    const std::span<const std::string> all(characters);
    for (std::size_t start = 0; start < characters.size(); ++start) {
        auto found = trie_.commonPrefixSearchIterator(all.subspan(start));
        bool coveredByOneCharacter = false;
        while (const auto piece = found.next()) {
            const std::string spelling = joined(*piece);
            const auto id = tokensToIds_.find(spelling);
            if (id == tokensToIds_.end()) {
                throw std::logic_error("Token not in vocab: " + spelling);
            }
            const int length = static_cast<int>(piece->size());
            lattice.insert(static_cast<int>(start), length, vocab_[static_cast<std::size_t>(id->second)].score, id->second);
            coveredByOneCharacter = coveredByOneCharacter || length == 1;
        }
        if (!coveredByOneCharacter) {
            lattice.insert(static_cast<int>(start), 1, unknownPiece_.score, *unknownTokenId_);
        }
    }
    return lattice.tokens();
}

std::optional<int> UnigramTokenizer::convertTokenToId(const std::string& token) const
{
    if (const auto id = idOf(token)) {
        return id;
    }
    return unknownTokenId_;
}

std::optional<std::string> UnigramTokenizer::convertIdToToken(int id) const
{
    if (id < 0 || static_cast<std::size_t>(id) >= vocab_.size()) {
        return std::nullopt;
    }
    return vocab_[static_cast<std::size_t>(id)].token;
}

} // namespace tokenizers
