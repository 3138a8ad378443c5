#include "Tokenizers/Normalizers.hpp"

#include "Tokenizers/NestingGuard.hpp"
#include "Tokenizers/Tokenizer.hpp"
#include "platform/text/Graphemes.hpp"
#include "platform/text/TextTransforms.hpp"
#include "platform/text/UnicodeText.hpp"

namespace tokenizers {

namespace {

using platform::NormalizationForm;

bool booleanOr(const hub::Config& config, const std::string& key, bool fallback)
{
    const auto value = config[key];
    return value && value->boolValue() ? *value->boolValue() : fallback;
}

bool isChineseCharacter(char32_t scalar)
{
    return (scalar >= 0x4E00 && scalar <= 0x9FFF) || (scalar >= 0x3400 && scalar <= 0x4DBF)
        || (scalar >= 0x20000 && scalar <= 0x2A6DF) || (scalar >= 0x2A700 && scalar <= 0x2CEAF)
        || (scalar >= 0xF900 && scalar <= 0xFAFF) || (scalar >= 0x2F800 && scalar <= 0x2FA1F);
}

char32_t firstScalar(std::string_view character)
{
    std::size_t offset = 0;
    return platform::nextScalar(character, offset);
}

} // namespace

std::unique_ptr<Normalizer> makeNormalizer(const std::optional<hub::Config>& config)
{
    const NestingGuard guard;
    if (!config) {
        return nullptr;
    }
    const auto typeValue = (*config)["type"];
    const auto type = typeValue ? typeValue->stringValue() : std::nullopt;
    if (!type) {
        return nullptr;
    }
    if (*type == "Sequence") return std::make_unique<NormalizerSequence>(*config);
    if (*type == "Prepend") return std::make_unique<PrependNormalizer>(*config);
    if (*type == "Replace") return std::make_unique<ReplaceNormalizer>(*config);
    if (*type == "Lowercase") return std::make_unique<LowercaseNormalizer>(*config);
    if (*type == "NFD") return std::make_unique<NFDNormalizer>(*config);
    if (*type == "NFC") return std::make_unique<NFCNormalizer>(*config);
    if (*type == "NFKD") return std::make_unique<NFKDNormalizer>(*config);
    if (*type == "NFKC") return std::make_unique<NFKCNormalizer>(*config);
    if (*type == "Bert") return std::make_unique<BertNormalizer>(*config);
    if (*type == "Precompiled") return std::make_unique<PrecompiledNormalizer>(*config);
    if (*type == "StripAccents") return std::make_unique<StripAccentsNormalizer>(*config);
    throw TokenizerError::configuration("Unsupported Normalizer type: " + *type);
}

NormalizerSequence::NormalizerSequence(const hub::Config& config)
{
    const auto list = config["normalizers"];
    const auto elements = list ? list->arrayValue() : std::nullopt;
    if (!elements) {
        throw TokenizerError::configuration("No normalizers in Sequence");
    }
    for (const hub::Config& element : *elements) {
        if (auto normalizer = makeNormalizer(element)) {
            normalizers_.push_back(std::move(normalizer));
        }
    }
}

std::string NormalizerSequence::normalize(const std::string& text) const
{
    std::string result = text;
    for (const auto& normalizer : normalizers_) {
        result = normalizer->normalize(result);
    }
    return result;
}

PrependNormalizer::PrependNormalizer(const hub::Config& config)
{
    const auto value = config["prepend"];
    prepend_ = value ? value->stringValue().value_or("") : "";
}

ReplaceNormalizer::ReplaceNormalizer(const hub::Config& config)
    : pattern_(StringReplacePattern::fromConfig(config))
{
}

std::string ReplaceNormalizer::normalize(const std::string& text) const
{
    return pattern_ ? pattern_->replace(text) : text;
}

std::string LowercaseNormalizer::normalize(const std::string& text) const
{
    return platform::lowercased(text);
}

std::string NFDNormalizer::normalize(const std::string& text) const
{
    return platform::normalized(text, NormalizationForm::nfd);
}

std::string NFCNormalizer::normalize(const std::string& text) const
{
    return platform::normalized(text, NormalizationForm::nfc);
}

std::string NFKDNormalizer::normalize(const std::string& text) const
{
    return platform::normalized(text, NormalizationForm::nfkd);
}

std::string NFKCNormalizer::normalize(const std::string& text) const
{
    return platform::normalized(text, NormalizationForm::nfkc);
}

BertNormalizer::BertNormalizer(const hub::Config& config)
    : shouldCleanText_(booleanOr(config, "cleanText", true))
    , shouldHandleChineseChars_(booleanOr(config, "handleChineseChars", true))
    , shouldLowercase_(booleanOr(config, "lowercase", true))
{
    if (const auto value = config["stripAccents"]) {
        shouldStripAccents_ = value->boolValue();
    }
}

std::string BertNormalizer::normalize(const std::string& text) const
{
    std::string result = platform::decodeUtf8Lossy(text);
    if (shouldCleanText_ || shouldHandleChineseChars_) {
        std::string rewritten;
        rewritten.reserve(result.size());
        for (std::string_view character : platform::graphemeClusters(result)) {
            const char32_t first = firstScalar(character);
            if (shouldCleanText_ && (first == U'\t' || first == U'\n' || first == U'\r')) {
                rewritten += ' ';
            } else if (shouldHandleChineseChars_ && isChineseCharacter(first)) {
                rewritten += ' ';
                rewritten += character;
                rewritten += ' ';
            } else {
                rewritten += character;
            }
        }
        result = std::move(rewritten);
    }
    if (shouldStripAccents_.value_or(false)) {
        result = removingCombiningMarks(platform::normalized(result, NormalizationForm::nfd));
    }
    if (shouldLowercase_) {
        result = platform::lowercased(result);
    }
    return result;
}

std::string PrecompiledNormalizer::normalize(const std::string& text) const
{
    std::string cleaned;
    cleaned.reserve(text.size());
    bool hasFullwidthTilde = false;
    for (char32_t scalar : platform::unicodeScalars(text)) {
        if ((scalar >= 1 && scalar <= 8) || scalar == 11 || (scalar >= 14 && scalar <= 31) || scalar == 127
            || scalar == 143 || scalar == 159) {
            continue;
        }
        if (scalar == 9 || scalar == 10 || scalar == 12 || scalar == 13 || scalar == 0x1680
            || (scalar >= 0x200B && scalar <= 0x200F) || scalar == 0x2028 || scalar == 0x2029 || scalar == 0x2581
            || scalar == 0xFEFF || scalar == 0xFFFD) {
            cleaned += ' ';
            continue;
        }
        hasFullwidthTilde = hasFullwidthTilde || scalar == 0xFF5E;
        platform::appendUtf8(cleaned, scalar);
    }
    if (!hasFullwidthTilde) {
        return platform::normalized(cleaned, NormalizationForm::nfkc);
    }
    // NFKC would fold the fullwidth tilde; keep it and normalize the pieces around it.
    const std::string_view tilde = "\xEF\xBD\x9E";
    std::string result;
    std::size_t from = 0;
    while (true) {
        const std::size_t at = cleaned.find(tilde, from);
        const std::size_t end = at == std::string::npos ? cleaned.size() : at;
        result += platform::normalized(std::string_view(cleaned).substr(from, end - from), NormalizationForm::nfkc);
        if (at == std::string::npos) {
            break;
        }
        result += tilde;
        from = at + tilde.size();
    }
    return result;
}

std::string StripAccentsNormalizer::normalize(const std::string& text) const
{
    const std::string decomposed = platform::normalized(text, NormalizationForm::nfkd);
    return platform::normalized(removingCombiningMarks(decomposed), NormalizationForm::nfkc);
}

std::string removingCombiningMarks(const std::string& decomposed)
{
    std::string result;
    result.reserve(decomposed.size());
    std::size_t offset = 0;
    while (offset < decomposed.size()) {
        const std::size_t start = offset;
        const char32_t scalar = platform::nextScalar(decomposed, offset);
        if (scalar < 0x300 || scalar > 0x36F) {
            result.append(decomposed, start, offset - start);
        }
    }
    return result;
}

} // namespace tokenizers
