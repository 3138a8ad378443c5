#include "Auris/Text/WhisperTokenizerWrapper.hpp"

#include "Auris/Core/WhisperError.hpp"
#include "Auris/Text/Constants.hpp"
#include "platform/text/LanguageRecognizer.hpp"
#include "platform/text/TextTransforms.hpp"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>

namespace auris {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

std::optional<std::string> recogniseLanguage(const std::string& text)
{
    platform::LanguageRecognizer recognizer;
    recognizer.processString(text);
    return recognizer.dominantLanguage();
}

bool isWrittenWithoutSpaces(const std::optional<std::string>& language)
{
    static constexpr std::array<std::string_view, 6> codes {"zh", "ja", "th", "lo", "my", "yue"};
    return language && std::find(codes.begin(), codes.end(), *language) != codes.end();
}

std::int32_t clampedLength(std::string_view text)
{
    return static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
}

bool isSingleCharacter(std::string_view text)
{
    if (text.empty()) return false;
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<icu::BreakIterator> iterator(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    bool single = false;
    if (U_SUCCESS(status) && iterator) {
        iterator->setText(utext, status);
        if (U_SUCCESS(status)) {
            iterator->first();
            const int32_t second = iterator->next();
            single = second != icu::BreakIterator::DONE && iterator->next() == icu::BreakIterator::DONE;
        }
    }
    utext_close(utext);
    return single;
}

bool startsWithPunctuation(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::int32_t offset = 0;
    UChar32 c = 0;
    U8_NEXT(bytes, offset, clampedLength(text), c);
    return c >= 0 && u_ispunct(c);
}

} // namespace

WhisperTokenizerWrapper::WhisperTokenizerWrapper(
    std::shared_ptr<const tokenizers::Tokenizer> tokenizer, LanguageGuess languageGuess)
    : tokenizer_(std::move(tokenizer))
    , languageGuess_(languageGuess ? std::move(languageGuess) : LanguageGuess(recogniseLanguage))
{
    if (!tokenizer_) {
        throw WhisperError::tokenizerUnavailable();
    }
    // Whisper's unknown token is "<|endoftext|>": a lookup that fell back to it would turn every
    // missing control token into the end token.
    auto idOf = [&](const std::string& text, int fallback) { return tokenizer_->knownTokenId(text).value_or(fallback); };
    specialTokens_.endToken = idOf("<|endoftext|>", 50257);
    specialTokens_.englishToken = idOf("<|en|>", 50259);
    specialTokens_.noSpeechToken = idOf("<|nospeech|>", 50362);
    specialTokens_.noTimestampsToken = idOf("<|notimestamps|>", 50363);
    specialTokens_.specialTokenBegin = idOf("<|endoftext|>", 50257);
    specialTokens_.startOfPreviousToken = idOf("<|startofprev|>", 50361);
    specialTokens_.startOfTranscriptToken = idOf("<|startoftranscript|>", 50258);
    specialTokens_.timeTokenBegin = idOf("<|0.00|>", 50364);
    specialTokens_.transcribeToken = idOf("<|transcribe|>", 50359);
    specialTokens_.translateToken = idOf("<|translate|>", 50358);
    specialTokens_.whitespaceToken = idOf(" ", 220);

    for (const auto& [name, code] : Constants::languages()) {
        auto id = tokenizer_->knownTokenId("<|" + code + "|>");
        if (id && *id > specialTokens_.specialTokenBegin) {
            allLanguageTokens_.insert(*id);
        }
    }
}

WordSplit WhisperTokenizerWrapper::splitIntoWords(const std::vector<int>& tokenIds) const
{
    std::vector<int> textTokens;
    for (int token : tokenIds) {
        if (token < specialTokens_.specialTokenBegin) {
            textTokens.push_back(token);
        }
    }
    const auto language = languageGuess_(tokenizer_->decode(textTokens));
    return isWrittenWithoutSpaces(language) ? splitTokensOnUnicode(tokenIds) : splitTokensOnSpaces(tokenIds);
}

WordSplit WhisperTokenizerWrapper::splitTokensOnUnicode(const std::vector<int>& tokens) const
{
    WordSplit split;
    if (tokens.empty()) {
        return split;
    }
    const std::string full = tokenizer_->decode(tokens);
    // Where the current piece starts within the full text, so that a replacement character the
    // full text itself holds is told apart from a character cut in two.
    std::size_t pieceOffset = 0;
    std::vector<int> current;
    for (int token : tokens) {
        current.push_back(token);
        std::string piece = tokenizer_->decode(current);
        const auto replacement = piece.find(replacementCharacter);
        const bool complete = replacement == std::string::npos
            || (pieceOffset + replacement <= full.size()
                && full.compare(pieceOffset + replacement, replacementCharacter.size(), replacementCharacter) == 0);
        if (complete) {
            pieceOffset += piece.size();
            split.words.push_back(std::move(piece));
            split.wordTokens.push_back(std::move(current));
            current.clear();
        }
    }
    return split;
}

WordSplit WhisperTokenizerWrapper::splitTokensOnSpaces(const std::vector<int>& tokens) const
{
    const WordSplit pieces = splitTokensOnUnicode(tokens);
    WordSplit split;
    for (std::size_t i = 0; i < pieces.words.size(); ++i) {
        const std::string& piece = pieces.words[i];
        const std::vector<int>& ids = pieces.wordTokens[i];
        const bool special = !ids.empty() && ids.front() >= specialTokens_.specialTokenBegin;
        const bool withSpace = !piece.empty() && piece.front() == ' ';
        const std::string_view trimmed = platform::trimmingBlanks(piece);
        const bool punctuation = isSingleCharacter(trimmed) && startsWithPunctuation(trimmed);
        if (special || withSpace || punctuation || split.words.empty()) {
            split.words.push_back(piece);
            split.wordTokens.push_back(ids);
        } else {
            split.words.back() += piece;
            split.wordTokens.back().insert(split.wordTokens.back().end(), ids.begin(), ids.end());
        }
    }
    return split;
}

} // namespace auris
