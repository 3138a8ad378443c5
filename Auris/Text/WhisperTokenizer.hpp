#pragma once

#include "Auris/Text/SpecialTokens.hpp"
#include "Tokenizers/Tokenizer.hpp"

#include <set>
#include <string>
#include <vector>

namespace auris {

// Decoded words and, for each word, the token ids it was made of (equal lengths).
struct WordSplit {
    std::vector<std::string> words;
    std::vector<std::vector<int>> wordTokens;

    friend bool operator==(const WordSplit&, const WordSplit&) = default;
};

// A tokenizer that also knows the speech model's control tokens, its language tokens and how to
// group token ids into words.
class WhisperTokenizer : public tokenizers::Tokenizer {
public:
    virtual const SpecialTokens& specialTokens() const = 0;
    virtual const std::set<int>& allLanguageTokens() const = 0;
    virtual WordSplit splitIntoWords(const std::vector<int>& tokenIds) const = 0;
};

} // namespace auris
