#pragma once

#include "Auris/Text/FakeTokenizer.hpp"
#include "Auris/Text/WhisperTokenizer.hpp"

#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// A small speech tokenizer: text ids below 100, the end token at 100 (where special ids begin) and
// timestamps from 200 up, each 0.02 s. Words split at leading spaces, special ids and lone
// punctuation marks, like the engine's space split.
class FakeWhisperTokenizer : public TokenizerWithoutSpecialTokens<auris::WhisperTokenizer> {
public:
    static constexpr int endToken = 100;
    static constexpr int timeTokenBegin = 200;

    explicit FakeWhisperTokenizer(std::map<int, std::string> vocabulary)
        : vocabulary_(std::move(vocabulary))
    {
        specialTokens_.endToken = endToken;
        specialTokens_.specialTokenBegin = endToken;
        specialTokens_.timeTokenBegin = timeTokenBegin;
    }

    static int timestamp(double seconds) { return timeTokenBegin + static_cast<int>(seconds * 50 + 0.5); }

    const auris::SpecialTokens& specialTokens() const override { return specialTokens_; }
    const std::set<int>& allLanguageTokens() const override { return languageTokens_; }

    auris::WordSplit splitIntoWords(const std::vector<int>& tokenIds) const override
    {
        auris::WordSplit split;
        for (int id : tokenIds) {
            const std::string piece = text(id);
            const bool punctuation = piece.size() == 1 && std::ispunct(static_cast<unsigned char>(piece[0]));
            if (split.words.empty() || id >= endToken || piece.starts_with(' ') || punctuation) {
                split.words.push_back(piece);
                split.wordTokens.push_back({id});
            } else {
                split.words.back() += piece;
                split.wordTokens.back().push_back(id);
            }
        }
        return split;
    }

    std::vector<int> encode(const std::string&) const override { return {}; }
    std::string decode(const std::vector<int>& tokens) const override
    {
        std::string result;
        for (int id : tokens) result += text(id);
        return result;
    }
    std::optional<int> convertTokenToId(const std::string&) const override { return std::nullopt; }
    std::optional<std::string> convertIdToToken(int id) const override { return text(id); }

private:
    std::string text(int id) const
    {
        if (id >= timeTokenBegin) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "<|%.2f|>", (id - timeTokenBegin) * 0.02);
            return buffer;
        }
        if (id == endToken) return "<|endoftext|>";
        auto it = vocabulary_.find(id);
        return it == vocabulary_.end() ? std::string() : it->second;
    }

    std::map<int, std::string> vocabulary_;
    auris::SpecialTokens specialTokens_;
    std::set<int> languageTokens_;
};

} // namespace testsupport
