#include "Tokenizers/TokenizerRegex.hpp"

#include "Tokenizers/Tokenizer.hpp"

namespace tokenizers::tokenizerRegex {

namespace {

template<typename Search>
auto bounded(const platform::Regex& regex, std::string_view text, Search search)
{
    try {
        return search();
    } catch (const platform::RegexLimitError& error) {
        const char* limit = error.limit() == platform::RegexLimitError::Limit::time ? "time" : "stack";
        throw TokenizerError::configuration("The regular expression \"" + regex.pattern() + "\" ran past its " + limit
            + " limit on a text of " + std::to_string(text.size()) + " bytes");
    }
}

} // namespace

platform::Regex compile(std::string_view pattern)
{
    return platform::Regex(pattern, limits);
}

std::vector<platform::TextRange> findAll(const platform::Regex& regex, std::string_view text)
{
    return bounded(regex, text, [&] { return regex.findAll(text); });
}

std::string replaceAll(const platform::Regex& regex, std::string_view text, std::string_view replacementTemplate)
{
    return bounded(regex, text, [&] { return regex.replaceAll(text, replacementTemplate); });
}

} // namespace tokenizers::tokenizerRegex
