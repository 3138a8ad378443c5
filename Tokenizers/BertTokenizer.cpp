#include "Tokenizers/BertTokenizer.hpp"

#include "Tokenizers/CanonicalText.hpp"
#include "Tokenizers/Normalizers.hpp"
#include "Tokenizers/Tokenizer.hpp"
#include "platform/text/CharacterProperties.hpp"
#include "platform/text/Graphemes.hpp"
#include "platform/text/TextTransforms.hpp"
#include "platform/text/UnicodeText.hpp"

#include <algorithm>
#include <cmath>

namespace tokenizers {

namespace {

using nlohmann::json;
using platform::NormalizationForm;

constexpr char32_t degreeSign = U'\u00B0';

char32_t firstScalar(std::string_view character)
{
    std::size_t offset = 0;
    return platform::nextScalar(character, offset);
}

bool isChineseCharacter(char32_t scalar)
{
    return (scalar >= 0x4E00 && scalar <= 0x9FFF) || (scalar >= 0x3400 && scalar <= 0x4DBF)
        || (scalar >= 0x20000 && scalar <= 0x2A6DF) || (scalar >= 0x2A700 && scalar <= 0x2CEAF)
        || (scalar >= 0xF900 && scalar <= 0xFAFF) || (scalar >= 0x2F800 && scalar <= 0x2FA1F);
}

std::string foldingDiacritics(const std::string& text)
{
    const std::string decomposed = platform::normalized(text, NormalizationForm::nfd);
    return platform::normalized(removingCombiningMarks(decomposed), NormalizationForm::nfc);
}

std::map<std::string, int> vocabularyOf(const hub::Config& tokenizerData)
{
    const auto model = tokenizerData["model"];
    const auto vocabConfig = model ? (*model)["vocab"] : std::nullopt;
    const json* vocab = vocabConfig ? vocabConfig->object() : nullptr;
    if (!vocab) {
        throw TokenizerError::missingVocab();
    }
    std::map<std::string, int> result;
    for (const auto& [token, value] : vocab->items()) {
        const auto id = hub::Config::intOf(value);
        if (!id) {
            throw TokenizerError::missingVocab();
        }
        result.emplace(token, *id);
    }
    return result;
}

std::optional<std::vector<std::string>> mergesOf(const hub::Config& tokenizerData)
{
    const auto model = tokenizerData["model"];
    const auto merges = model ? (*model)["merges"] : std::nullopt;
    const json* list = merges ? merges->value() : nullptr;
    if (!list || !list->is_array()) {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    for (const json& line : *list) {
        if (!line.is_string()) {
            return std::nullopt;
        }
        lines.push_back(line.get<std::string>());
    }
    return lines;
}

bool handlesChineseChars(const hub::Config& tokenizerConfig)
{
    const auto value = tokenizerConfig["handleChineseChars"];
    const auto flag = value ? value->boolValue() : std::nullopt;
    return flag.value_or(true);
}

std::optional<std::string> stringSetting(const hub::Config& tokenizerConfig, const std::string& key)
{
    const auto value = tokenizerConfig[key];
    return value ? value->stringValue() : std::nullopt;
}

} // namespace

std::vector<std::string> BasicTokenizer::tokenize(const std::string& text) const
{
    const std::string folded = foldingDiacritics(text);
    std::vector<std::string> parts(1);
    std::size_t offset = 0;
    while (offset < folded.size()) {
        const std::size_t start = offset;
        if (platform::isBlank(platform::nextScalar(folded, offset))) {
            parts.emplace_back();
        } else {
            parts.back().append(folded, start, offset - start);
        }
    }

    std::vector<std::string> tokens;
    for (const std::string& part : parts) {
        if (std::find(neverSplit.begin(), neverSplit.end(), part) != neverSplit.end()) {
            tokens.push_back(part);
            continue;
        }
        const std::string lowered = platform::lowercased(part);
        std::string word;
        for (std::string_view character : platform::graphemeClusters(lowered)) {
            const char32_t first = firstScalar(character);
            if (platform::isAlphabetic(first) || platform::isNumeric(first) || first == degreeSign) {
                word += character;
                continue;
            }
            if (!word.empty()) {
                tokens.push_back(std::move(word));
                word.clear();
            }
            tokens.emplace_back(character);
        }
        if (!word.empty()) {
            tokens.push_back(std::move(word));
        }
    }
    return tokens;
}

std::vector<std::string> WordpieceTokenizer::tokenize(const std::string& word) const
{
    const auto characters = platform::graphemeClusters(word);
    if (characters.size() > static_cast<std::size_t>(maxInputCharsPerWord)) {
        return {unkToken};
    }
    // Byte offset of each character boundary.
    std::vector<std::size_t> bounds;
    bounds.reserve(characters.size() + 1);
    for (std::string_view character : characters) {
        bounds.push_back(static_cast<std::size_t>(character.data() - word.data()));
    }
    bounds.push_back(word.size());

    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < characters.size()) {
        std::optional<std::string> found;
        std::size_t end = characters.size();
        for (; end > start; --end) {
            std::string candidate = start > 0 ? "##" : "";
            candidate.append(word, bounds[start], bounds[end] - bounds[start]);
            if (vocab.contains(canonicalText(candidate))) {
                found = std::move(candidate);
                break;
            }
        }
        if (!found) {
            return {unkToken};
        }
        pieces.push_back(std::move(*found));
        start = end;
    }
    return pieces;
}

BertTokenizer::BertTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData, const AddedTokens&)
    : BertTokenizer(vocabularyOf(tokenizerData), mergesOf(tokenizerData), handlesChineseChars(tokenizerConfig),
          stringSetting(tokenizerConfig, "bosToken"), stringSetting(tokenizerConfig, "eosToken"))
{
}

BertTokenizer::BertTokenizer(const std::map<std::string, int>& vocab, const std::optional<std::vector<std::string>>&,
    bool tokenizeChineseChars, std::optional<std::string> bosToken, std::optional<std::string> eosToken)
    : tokenizeChineseChars_(tokenizeChineseChars)
    , bosToken_(std::move(bosToken))
    , eosToken_(std::move(eosToken))
{
    vocab_.reserve(vocab.size());
    for (const auto& [token, id] : vocab) {
        vocab_[canonicalText(token)] = id;
        idsToTokens_[id] = token;
    }
    bosTokenId_ = idOf(bosToken_);
    eosTokenId_ = idOf(eosToken_);
    unknownTokenId_ = idOf(wordpieceTokenizer_.unkToken);
}

std::optional<int> BertTokenizer::idOf(const std::optional<std::string>& token) const
{
    if (!token) {
        return std::nullopt;
    }
    const auto found = vocab_.find(canonicalText(*token));
    return found == vocab_.end() ? std::nullopt : std::optional<int>(found->second);
}

std::string BertTokenizer::spaceOutChineseCharacters(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (std::string_view character : platform::graphemeClusters(text)) {
        if (isChineseCharacter(firstScalar(character))) {
            result += ' ';
            result += character;
            result += ' ';
        } else {
            result += character;
        }
    }
    return result;
}

std::vector<std::string> BertTokenizer::tokenize(const std::string& text) const
{
    const std::string spaced = tokenizeChineseChars_ ? spaceOutChineseCharacters(text) : text;
    std::vector<std::string> tokens;
    for (const std::string& word : basicTokenizer_.tokenize(spaced)) {
        auto pieces = wordpieceTokenizer_.tokenize(word);
        tokens.insert(tokens.end(), std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    }
    return tokens;
}

std::optional<int> BertTokenizer::convertTokenToId(const std::string& token) const
{
    if (const auto id = idOf(token)) {
        return id;
    }
    return unknownTokenId_;
}

std::optional<std::string> BertTokenizer::convertIdToToken(int id) const
{
    const auto found = idsToTokens_.find(id);
    return found == idsToTokens_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

} // namespace tokenizers
