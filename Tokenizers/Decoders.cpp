#include "Tokenizers/Decoders.hpp"

#include "Tokenizers/ByteEncoder.hpp"
#include "Tokenizers/NestingGuard.hpp"
#include "Tokenizers/Tokenizer.hpp"
#include "platform/text/Regex.hpp"
#include "platform/text/UnicodeText.hpp"

namespace tokenizers {

namespace {

std::optional<std::string> stringOf(const hub::Config& config, const std::string& key)
{
    const auto value = config[key];
    return value ? value->stringValue() : std::nullopt;
}

// "<0xHH>": exactly six characters; the two digits in base 16, with an optional sign as integer
// parsing allows. Values outside a byte make an ordinary token.
std::optional<std::uint8_t> byteOfToken(const std::string& token)
{
    if (token.size() != 6 || !token.starts_with("<0x") || token[5] != '>') {
        return std::nullopt;
    }
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    const char first = token[3];
    const char second = token[4];
    const int low = digit(second);
    if (low < 0) {
        return std::nullopt;
    }
    if (first == '+' || first == '-') {
        if (first == '-' && low != 0) {
            return std::nullopt;
        }
        return static_cast<std::uint8_t>(low);
    }
    const int high = digit(first);
    if (high < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(high * 16 + low);
}

} // namespace

std::string byteLevelText(std::string_view characters)
{
    std::string bytes;
    bytes.reserve(characters.size());
    std::size_t offset = 0;
    while (offset < characters.size()) {
        const std::size_t start = offset;
        const char32_t scalar = platform::nextScalar(characters, offset);
        if (const auto byte = byteForCharacter(scalar)) {
            bytes.push_back(static_cast<char>(*byte));
        } else {
            bytes.append(characters.substr(start, offset - start));
        }
    }
    return platform::decodeUtf8Lossy(bytes);
}

std::unique_ptr<Decoder> makeDecoder(const std::optional<hub::Config>& config, const std::optional<AddedTokenSet>& addedTokens)
{
    const NestingGuard guard;
    if (!config) {
        return nullptr;
    }
    const auto type = stringOf(*config, "type");
    if (!type) {
        return nullptr;
    }
    if (*type == "Sequence") return std::make_unique<DecoderSequence>(*config, addedTokens);
    if (*type == "ByteLevel") return std::make_unique<ByteLevelDecoder>(*config, addedTokens);
    if (*type == "Replace") return std::make_unique<ReplaceDecoder>(*config);
    if (*type == "ByteFallback") return std::make_unique<ByteFallbackDecoder>(*config);
    if (*type == "Fuse") return std::make_unique<FuseDecoder>(*config);
    if (*type == "Strip") return std::make_unique<StripDecoder>(*config);
    if (*type == "Metaspace") return std::make_unique<MetaspaceDecoder>(*config);
    throw TokenizerError::configuration("Unsupported Decoder type: " + *type);
}

DecoderSequence::DecoderSequence(const hub::Config& config, const std::optional<AddedTokenSet>& addedTokens)
{
    const auto list = config["decoders"];
    const auto elements = list ? list->arrayValue() : std::nullopt;
    if (!elements) {
        throw TokenizerError::configuration("No decoders in Sequence");
    }
    for (const hub::Config& element : *elements) {
        if (auto decoder = makeDecoder(element, addedTokens)) {
            decoders_.push_back(std::move(decoder));
        }
    }
}

std::vector<std::string> DecoderSequence::decode(const std::vector<std::string>& tokens) const
{
    std::vector<std::string> result = tokens;
    for (const auto& decoder : decoders_) {
        result = decoder->decode(result);
    }
    return result;
}

ByteLevelDecoder::ByteLevelDecoder(const hub::Config& config)
    : ByteLevelDecoder(config, std::nullopt)
{
}

ByteLevelDecoder::ByteLevelDecoder(const hub::Config&, const std::optional<AddedTokenSet>& addedTokens)
    : addedTokens_(addedTokens.value_or(AddedTokenSet {}))
{
}

std::vector<std::string> ByteLevelDecoder::decode(const std::vector<std::string>& tokens) const
{
    std::vector<std::string> out;
    std::string run;
    for (const auto& token : tokens) {
        if (addedTokens_.contains(token)) {
            if (!run.empty()) {
                out.push_back(byteLevelText(run));
                run.clear();
            }
            out.push_back(token);
        } else {
            run += token;
        }
    }
    if (!run.empty()) {
        out.push_back(byteLevelText(run));
    }
    return out;
}

ReplaceDecoder::ReplaceDecoder(const hub::Config& config)
    : pattern_(StringReplacePattern::fromConfig(config))
{
}

std::vector<std::string> ReplaceDecoder::decode(const std::vector<std::string>& tokens) const
{
    if (!pattern_) {
        return tokens;
    }
    std::vector<std::string> out;
    out.reserve(tokens.size());
    for (const auto& token : tokens) {
        out.push_back(pattern_->replace(token));
    }
    return out;
}

std::vector<std::string> ByteFallbackDecoder::decode(const std::vector<std::string>& tokens) const
{
    std::vector<std::string> out;
    std::string bytes;
    for (const auto& token : tokens) {
        if (const auto byte = byteOfToken(token)) {
            bytes.push_back(static_cast<char>(*byte));
            continue;
        }
        if (!bytes.empty()) {
            out.push_back(platform::decodeUtf8Lossy(bytes));
            bytes.clear();
        }
        out.push_back(token);
    }
    if (!bytes.empty()) {
        out.push_back(platform::decodeUtf8Lossy(bytes));
    }
    return out;
}

std::vector<std::string> FuseDecoder::decode(const std::vector<std::string>& tokens) const
{
    std::string fused;
    for (const auto& token : tokens) {
        fused += token;
    }
    return {fused};
}

StripDecoder::StripDecoder(const hub::Config& config)
{
    const auto content = stringOf(config, "content");
    if (!content) {
        throw TokenizerError::configuration("Incorrect StripDecoder configuration: can't parse `content`.");
    }
    const auto start = config["start"] ? config["start"]->intValue() : std::nullopt;
    if (!start) {
        throw TokenizerError::configuration("Incorrect StripDecoder configuration: can't parse `start`.");
    }
    const auto stop = config["stop"] ? config["stop"]->intValue() : std::nullopt;
    if (!stop) {
        throw TokenizerError::configuration("Incorrect StripDecoder configuration: can't parse `stop`.");
    }
    content_ = *content;
    start_ = *start;
    stop_ = *stop;
}

std::vector<std::string> StripDecoder::decode(const std::vector<std::string>& tokens) const
{
    std::vector<std::string> out;
    out.reserve(tokens.size());
    for (const auto& token : tokens) {
        std::size_t first = 0;
        std::size_t last = token.size();
        for (int i = 0; i < start_ && first < last && token[first] == ' '; ++i) {
            ++first;
        }
        for (int i = 0; i < stop_ && last > first && token[last - 1] == ' '; ++i) {
            --last;
        }
        out.push_back(token.substr(first, last - first));
    }
    return out;
}

MetaspaceDecoder::MetaspaceDecoder(const hub::Config& config)
{
    const auto prefix = config["addPrefixSpace"];
    addPrefixSpace_ = prefix && prefix->boolValue() ? *prefix->boolValue() : false;
    replacement_ = stringOf(config, "replacement").value_or("_");
}

std::vector<std::string> MetaspaceDecoder::decode(const std::vector<std::string>& tokens) const
{
    std::vector<std::string> out;
    out.reserve(tokens.size());
    for (const auto& token : tokens) {
        out.push_back(platform::replacingOccurrences(token, replacement_, " "));
    }
    if (addPrefixSpace_ && !out.empty() && out.front().starts_with(' ')) {
        out.front().erase(0, 1);
    }
    return out;
}

} // namespace tokenizers
