#include "Tokenizers/PreTokenizers.hpp"

#include "Tokenizers/ByteEncoder.hpp"
#include "Tokenizers/Gpt2Split.hpp"
#include "Tokenizers/StringSplit.hpp"
#include "Tokenizers/NestingGuard.hpp"
#include "Tokenizers/Tokenizer.hpp"
#include "Tokenizers/TokenizerRegex.hpp"
#include "platform/text/Regex.hpp"

namespace tokenizers {

namespace {

bool booleanOr(const hub::Config& config, const std::string& key, bool fallback)
{
    const auto value = config[key];
    return value && value->boolValue() ? *value->boolValue() : fallback;
}

std::optional<std::string> stringOf(const hub::Config& config, const std::string& key)
{
    const auto value = config[key];
    return value ? value->stringValue() : std::nullopt;
}

std::vector<std::string> matchedPieces(const platform::Regex& regex, std::string_view text)
{
    std::vector<std::string> pieces;
    for (const auto& range : regex.findAll(text)) {
        pieces.emplace_back(text.substr(range.begin, range.end - range.begin));
    }
    return pieces;
}

} // namespace

std::vector<std::string> PreTokenizer::preTokenizeAll(const std::vector<std::string>& texts) const
{
    std::vector<std::string> pieces;
    for (const auto& text : texts) {
        auto more = preTokenize(text);
        pieces.insert(pieces.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    }
    return pieces;
}

std::unique_ptr<PreTokenizer> makePreTokenizer(const std::optional<hub::Config>& config)
{
    const NestingGuard guard;
    if (!config) {
        return nullptr;
    }
    const auto type = stringOf(*config, "type");
    if (!type) {
        return nullptr;
    }
    if (*type == "Sequence") return std::make_unique<PreTokenizerSequence>(*config);
    if (*type == "ByteLevel") return std::make_unique<ByteLevelPreTokenizer>(*config);
    if (*type == "Punctuation") return std::make_unique<PunctuationPreTokenizer>(*config);
    if (*type == "Digits") return std::make_unique<DigitsPreTokenizer>(*config);
    if (*type == "Split") return std::make_unique<SplitPreTokenizer>(*config);
    if (*type == "Whitespace" || *type == "WhitespaceSplit") return std::make_unique<WhitespacePreTokenizer>(*config);
    if (*type == "Metaspace") return std::make_unique<MetaspacePreTokenizer>(*config);
    throw TokenizerError::configuration("Unsupported PreTokenizer type: " + *type);
}

PreTokenizerSequence::PreTokenizerSequence(const hub::Config& config)
{
    const auto list = config["pretokenizers"];
    const auto elements = list ? list->arrayValue() : std::nullopt;
    if (!elements) {
        throw TokenizerError::configuration("No pretokenizers in Sequence");
    }
    for (const hub::Config& element : *elements) {
        if (auto preTokenizer = makePreTokenizer(element)) {
            preTokenizers_.push_back(std::move(preTokenizer));
        }
    }
}

std::vector<std::string> PreTokenizerSequence::preTokenize(const std::string& text) const
{
    std::vector<std::string> pieces {text};
    for (const auto& preTokenizer : preTokenizers_) {
        pieces = preTokenizer->preTokenizeAll(pieces);
    }
    return pieces;
}

WhitespacePreTokenizer::WhitespacePreTokenizer(const hub::Config&)
    : re_(R"(\S+)")
{
}

std::vector<std::string> WhitespacePreTokenizer::preTokenize(const std::string& text) const
{
    return matchedPieces(re_, text);
}

MetaspacePreTokenizer::MetaspacePreTokenizer(const hub::Config& config)
    : addPrefixSpace_(booleanOr(config, "addPrefixSpace", false))
    , replacement_(stringOf(config, "replacement").value_or(" "))
    , stringReplacement_(stringOf(config, "strRep").value_or(replacement_))
    , prependScheme_(PrependScheme::always)
{
    const auto scheme = stringOf(config, "prependScheme");
    if (scheme == "first") {
        prependScheme_ = PrependScheme::first;
    } else if (scheme == "never") {
        prependScheme_ = PrependScheme::never;
    }
    try {
        replacementPattern_.emplace(tokenizerRegex::compile(replacement_));
    } catch (const platform::RegexError&) {
    }
}

std::vector<std::string> MetaspacePreTokenizer::preTokenize(const std::string& text) const
{
    const std::string replaced = platform::replacingOccurrences(text, " ", stringReplacement_);
    std::string prefix;
    if (addPrefixSpace_ && !replaced.starts_with(replacement_) && prependScheme_ != PrependScheme::never) {
        prefix = stringReplacement_;
    }
    // The pieces start at each match of the replacement read as a regular expression (searched
    // literally when it is none).
    const std::string prefixed = prefix + replaced;
    const auto matches = replacementPattern_ ? tokenizerRegex::findAll(*replacementPattern_, prefixed)
                                             : platform::findAllLiteral(prefixed, replacement_);
    return splitAtMatches(prefixed, matches, SplitDelimiterBehavior::mergedWithNext);
}

ByteLevelPreTokenizer::ByteLevelPreTokenizer(const hub::Config& config)
    : addPrefixSpace_(booleanOr(config, "addPrefixSpace", false))
    , trimOffsets_(booleanOr(config, "trimOffsets", true))
    , useRegex_(booleanOr(config, "useRegex", true))
{
}

ByteLevelPreTokenizer::RawPieces ByteLevelPreTokenizer::rawPieces(const std::string& text, std::string& storage) const
{
    // The prefix blank goes before the text, so only the first piece carries it and decoding gives
    // back the text with one leading blank rather than a blank before every piece.
    std::string_view source = text;
    if (addPrefixSpace_ && !text.empty() && !text.starts_with(' ')) {
        storage.clear();
        storage.reserve(text.size() + 1);
        storage += ' ';
        storage += text;
        source = storage;
    }
    RawPieces pieces {source, {}};
    if (useRegex_) {
        pieces.ranges = gpt2SplitRanges(source); // the matches of RE
    } else {
        pieces.ranges.push_back({0, source.size()});
    }
    return pieces;
}

std::vector<std::string> ByteLevelPreTokenizer::preTokenize(const std::string& text) const
{
    std::string storage;
    const auto [source, ranges] = rawPieces(text, storage);
    const ByteEncoder& encoder = byteEncoder();
    std::vector<std::string> pieces;
    pieces.reserve(ranges.size());
    for (const auto& range : ranges) {
        std::size_t size = 0;
        for (std::size_t i = range.begin; i < range.end; ++i) {
            size += encoder[static_cast<unsigned char>(source[i])].size();
        }
        std::string piece(size, '\0');
        char* out = piece.data();
        for (std::size_t i = range.begin; i < range.end; ++i) {
            const std::string& character = encoder[static_cast<unsigned char>(source[i])];
            out = std::copy(character.begin(), character.end(), out);
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

PunctuationPreTokenizer::PunctuationPreTokenizer(const hub::Config&)
    : re_(std::string("[^") + PUNCTUATION_REGEX + "]+|[" + PUNCTUATION_REGEX + "]+")
{
}

std::vector<std::string> PunctuationPreTokenizer::preTokenize(const std::string& text) const
{
    return matchedPieces(re_, text);
}

DigitsPreTokenizer::DigitsPreTokenizer(const hub::Config& config)
    : re_(booleanOr(config, "individualDigits", false) ? R"([^\d]+|\d)" : R"([^\d]+|\d+)")
{
}

std::vector<std::string> DigitsPreTokenizer::preTokenize(const std::string& text) const
{
    return matchedPieces(re_, text);
}

SplitPreTokenizer::SplitPreTokenizer(const hub::Config& config)
    : invert_(booleanOr(config, "invert", false))
{
    const auto pattern = config["pattern"];
    if (!pattern) {
        return;
    }
    if (auto literal = stringOf(*pattern, "String")) {
        literal_ = std::move(literal);
    } else if (auto expression = stringOf(*pattern, "Regex")) {
        try {
            regex_.emplace(tokenizerRegex::compile(*expression));
        } catch (const platform::RegexError&) {
            throw TokenizerError::configuration("Cannot build regexp from " + *expression);
        }
    }
}

std::vector<std::string> SplitPreTokenizer::preTokenize(const std::string& text) const
{
    if (!literal_ && !regex_) {
        return {text};
    }
    const auto matches = regex_ ? tokenizerRegex::findAll(*regex_, text) : platform::findAllLiteral(text, *literal_);
    if (matches.empty()) {
        return {text};
    }
    std::vector<std::string> pieces;
    std::size_t previousEnd = 0;
    for (const auto& match : matches) {
        if (match.begin > previousEnd) {
            pieces.push_back(text.substr(previousEnd, match.begin - previousEnd));
        }
        if (!invert_) {
            pieces.push_back(text.substr(match.begin, match.end - match.begin));
        }
        previousEnd = match.end;
    }
    pieces.push_back(text.substr(previousEnd));
    return pieces;
}

} // namespace tokenizers
