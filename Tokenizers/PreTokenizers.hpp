#pragma once

#include "Tokenizers/PreTokenizer.hpp"
#include "platform/text/Regex.hpp"

namespace tokenizers {

class PreTokenizerSequence : public PreTokenizer {
public:
    explicit PreTokenizerSequence(const hub::Config& config);
    std::vector<std::string> preTokenize(const std::string& text) const override;

private:
    std::vector<std::unique_ptr<PreTokenizer>> preTokenizers_;
};

// Both "Whitespace" and "WhitespaceSplit": runs of non-blank characters.
class WhitespacePreTokenizer : public PreTokenizer {
public:
    explicit WhitespacePreTokenizer(const hub::Config& config);
    std::vector<std::string> preTokenize(const std::string& text) const override;

private:
    platform::Regex re_;
};

class MetaspacePreTokenizer : public PreTokenizer {
public:
    enum class PrependScheme { first, never, always };

    explicit MetaspacePreTokenizer(const hub::Config& config);
    std::vector<std::string> preTokenize(const std::string& text) const override;

private:
    bool addPrefixSpace_;
    std::string replacement_;
    std::string stringReplacement_;
    PrependScheme prependScheme_;
    std::optional<platform::Regex> replacementPattern_; // none when the replacement is no valid expression
};

class ByteLevelPreTokenizer : public PreTokenizer {
public:
    static constexpr const char* RE = R"('s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)";

    explicit ByteLevelPreTokenizer(const hub::Config& config);
    std::vector<std::string> preTokenize(const std::string& text) const override;

    // The pieces before their bytes are spelled in the byte-level alphabet: ranges into `source`,
    // which is the text itself or, with the prefix blank, a copy kept in `storage`.
    struct RawPieces {
        std::string_view source;
        std::vector<platform::TextRange> ranges;
    };
    RawPieces rawPieces(const std::string& text, std::string& storage) const;

private:
    bool addPrefixSpace_;
    bool trimOffsets_;
    bool useRegex_;
};

class PunctuationPreTokenizer : public PreTokenizer {
public:
    static constexpr const char* PUNCTUATION_REGEX = R"(\p{P}\u0021-\u002F\u003A-\u0040\u005B-\u0060\u007B-\u007E)";

    explicit PunctuationPreTokenizer(const hub::Config& config);
    std::vector<std::string> preTokenize(const std::string& text) const override;

private:
    platform::Regex re_;
};

class DigitsPreTokenizer : public PreTokenizer {
public:
    explicit DigitsPreTokenizer(const hub::Config& config);
    std::vector<std::string> preTokenize(const std::string& text) const override;

private:
    platform::Regex re_;
};

class SplitPreTokenizer : public PreTokenizer {
public:
    explicit SplitPreTokenizer(const hub::Config& config);
    std::vector<std::string> preTokenize(const std::string& text) const override;

private:
    std::optional<std::string> literal_;
    std::optional<platform::Regex> regex_;
    bool invert_;
};

} // namespace tokenizers
