#include "platform/text/Regex.hpp"

#include "platform/text/UnicodeText.hpp"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace platform {

struct Regex::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
};

namespace {

// Walks the UTF-8 text alongside its UTF-16 form, turning increasing UTF-16 indexes into byte offsets.
class OffsetMapper {
public:
    explicit OffsetMapper(std::string_view text)
        : text_(text)
    {
    }

    std::size_t byteOffset(int64_t utf16Index)
    {
        if (utf16Index < utf16_) {
            utf16_ = 0;
            byte_ = 0;
        }
        while (utf16_ < utf16Index && byte_ < text_.size()) {
            const char32_t scalar = nextScalar(text_, byte_);
            utf16_ += scalar >= 0x10000 ? 2 : 1;
        }
        return byte_;
    }

private:
    std::string_view text_;
    int64_t utf16_ = 0;
    std::size_t byte_ = 0;
};

std::unique_ptr<icu::RegexMatcher> makeMatcher(
    const icu::RegexPattern& pattern, const icu::UnicodeString& text, const RegexLimits& limits)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(text, status));
    if (U_FAILURE(status) || !matcher) {
        throw RegexError("cannot create a regular-expression matcher");
    }
    if (limits.fixedTime > 0) {
        // The engine counts time over all searches of one matcher, so the budget covers the whole text.
        const std::int64_t perText = limits.codeUnitsPerTime > 0 ? text.length() / limits.codeUnitsPerTime : 0;
        matcher->setTimeLimit(static_cast<int32_t>(std::min<std::int64_t>(limits.fixedTime + perText, INT32_MAX)), status);
    }
    if (limits.stackBytes > 0) {
        matcher->setStackLimit(limits.stackBytes, status);
    }
    if (U_FAILURE(status)) {
        throw RegexError("cannot limit a regular-expression matcher");
    }
    return matcher;
}

[[noreturn]] void throwSearchFailure(const char* what, UErrorCode status)
{
    if (status == U_REGEX_TIME_OUT) {
        throw RegexLimitError(RegexLimitError::Limit::time, std::string(what) + " ran past its time limit");
    }
    if (status == U_REGEX_STACK_OVERFLOW) {
        throw RegexLimitError(RegexLimitError::Limit::stack, std::string(what) + " ran past its stack limit");
    }
    throw RegexError(std::string(what) + " failed: " + u_errorName(status));
}

icu::UnicodeString unicodeStringOf(const std::u16string& text)
{
    // Read-only alias: no copy of the text.
    return icu::UnicodeString(false, text.data(), static_cast<int32_t>(text.size()));
}

void appendTemplate(icu::UnicodeString& out, const icu::RegexMatcher& matcher, std::u16string_view replacement)
{
    UErrorCode status = U_ZERO_ERROR;
    const int32_t groupCount = matcher.groupCount();
    for (std::size_t i = 0; i < replacement.size(); ++i) {
        const char16_t c = replacement[i];
        if (c == u'\\' && i + 1 < replacement.size()) {
            out.append(replacement[++i]);
            continue;
        }
        if (c == u'$' && i + 1 < replacement.size() && replacement[i + 1] >= u'0' && replacement[i + 1] <= u'9') {
            // The longest run of digits that still names an existing group.
            int32_t group = replacement[i + 1] - u'0';
            std::size_t next = i + 2;
            while (next < replacement.size() && replacement[next] >= u'0' && replacement[next] <= u'9') {
                const int32_t longer = group * 10 + (replacement[next] - u'0');
                if (longer > groupCount) {
                    break;
                }
                group = longer;
                ++next;
            }
            if (group <= groupCount) {
                out.append(matcher.group(group, status));
            }
            i = next - 1;
            continue;
        }
        out.append(c);
    }
}

} // namespace

Regex::Regex(std::string_view pattern, const RegexLimits& limits)
    : pattern_(pattern)
    , limits_(limits)
{
    if (!isValidUtf8(pattern)) {
        throw RegexError("pattern is not valid UTF-8");
    }
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError {};
    auto compiled = std::make_shared<Compiled>();
    compiled->pattern.reset(icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(pattern_), 0, parseError, status));
    if (U_FAILURE(status) || !compiled->pattern) {
        throw RegexError(std::string("invalid regular expression: ") + u_errorName(status));
    }
    compiled_ = std::move(compiled);
}

Regex::~Regex() = default;
Regex::Regex(const Regex&) = default;
Regex& Regex::operator=(const Regex&) = default;

std::vector<TextRange> Regex::findAll(std::string_view text) const
{
    std::vector<TextRange> ranges;
    if (text.size() > static_cast<std::size_t>(INT32_MAX / 2)) {
        throw RegexError("text too long for regular-expression search");
    }
    const std::u16string utf16 = toUtf16(text);
    const icu::UnicodeString subject = unicodeStringOf(utf16);
    auto matcher = makeMatcher(*compiled_->pattern, subject, limits_);
    OffsetMapper mapper(text);
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status) && U_SUCCESS(status)) {
        const int64_t start = matcher->start64(status);
        const int64_t end = matcher->end64(status);
        const std::size_t begin = mapper.byteOffset(start);
        ranges.push_back({begin, mapper.byteOffset(end)});
    }
    if (U_FAILURE(status)) {
        throwSearchFailure("regular-expression search", status);
    }
    return ranges;
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacementTemplate) const
{
    if (text.size() > static_cast<std::size_t>(INT32_MAX / 2)) {
        throw RegexError("text too long for regular-expression search");
    }
    const std::u16string utf16 = toUtf16(text);
    const std::u16string replacement = toUtf16(replacementTemplate);
    const icu::UnicodeString subject = unicodeStringOf(utf16);
    auto matcher = makeMatcher(*compiled_->pattern, subject, limits_);
    icu::UnicodeString out;
    int32_t copied = 0;
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status) && U_SUCCESS(status)) {
        const int32_t start = matcher->start(status);
        out.append(subject, copied, start - copied);
        appendTemplate(out, *matcher, replacement);
        copied = matcher->end(status);
    }
    if (U_FAILURE(status)) {
        throwSearchFailure("regular-expression replacement", status);
    }
    out.append(subject, copied, subject.length() - copied);
    return toUtf8(std::u16string_view(out.getBuffer(), static_cast<std::size_t>(out.length())));
}

std::vector<TextRange> findAllLiteral(std::string_view text, std::string_view needle)
{
    std::vector<TextRange> ranges;
    if (needle.empty()) {
        return ranges;
    }
    std::size_t from = 0;
    while (true) {
        const std::size_t at = text.find(needle, from);
        if (at == std::string_view::npos) {
            break;
        }
        ranges.push_back({at, at + needle.size()});
        from = at + needle.size();
    }
    return ranges;
}

std::string replacingOccurrences(std::string_view text, std::string_view target, std::string_view replacement)
{
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (const TextRange& range : findAllLiteral(text, target)) {
        out.append(text.substr(copied, range.begin - copied));
        out.append(replacement);
        copied = range.end;
    }
    out.append(text.substr(copied));
    return out;
}

} // namespace platform
