#include "Tokenizers/StringReplacePattern.hpp"

#include "Tokenizers/Tokenizer.hpp"
#include "Tokenizers/TokenizerRegex.hpp"

namespace tokenizers {

StringReplacePattern::StringReplacePattern(Kind kind, std::string pattern, std::optional<platform::Regex> regex, std::string replacement)
    : kind_(kind)
    , pattern_(std::move(pattern))
    , regex_(std::move(regex))
    , replacement_(std::move(replacement))
{
}

StringReplacePattern StringReplacePattern::regexp(platform::Regex regexp, std::string replacement)
{
    std::string source = regexp.pattern();
    return StringReplacePattern(Kind::regexp, std::move(source), std::move(regexp), std::move(replacement));
}

StringReplacePattern StringReplacePattern::string(std::string pattern, std::string replacement)
{
    return StringReplacePattern(Kind::string, std::move(pattern), std::nullopt, std::move(replacement));
}

std::optional<StringReplacePattern> StringReplacePattern::fromConfig(const hub::Config& config)
{
    const auto content = config["content"];
    const auto replacement = content ? content->stringValue() : std::nullopt;
    if (!replacement) {
        return std::nullopt;
    }
    const auto pattern = config["pattern"];
    if (!pattern) {
        return std::nullopt;
    }
    if (const auto literal = (*pattern)["String"]; literal && literal->stringValue()) {
        return string(*literal->stringValue(), *replacement);
    }
    if (const auto expression = (*pattern)["Regex"]; expression && expression->stringValue()) {
        const std::string source = *expression->stringValue();
        try {
            return regexp(tokenizerRegex::compile(source), *replacement);
        } catch (const platform::RegexError&) {
            throw TokenizerError::configuration("Cannot build regexp from " + source);
        }
    }
    return std::nullopt;
}

std::string StringReplacePattern::replace(std::string_view text) const
{
    if (kind_ == Kind::regexp) {
        return tokenizerRegex::replaceAll(*regex_, text, replacement_);
    }
    return platform::replacingOccurrences(text, pattern_, replacement_);
}

} // namespace tokenizers
