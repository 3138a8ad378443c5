#pragma once

#include "Tokenizers/Tokenizer.hpp"

#include <unicode/utf8.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// What the test tokenizers share: no begin, end or unknown token, and tokenize hands the text back whole.
template<typename Interface>
class TokenizerWithoutSpecialTokens : public Interface {
public:
    std::vector<std::string> tokenize(const std::string& text) const override { return {text}; }
    std::optional<std::string> bosToken() const override { return std::nullopt; }
    std::optional<int> bosTokenId() const override { return std::nullopt; }
    std::optional<std::string> eosToken() const override { return std::nullopt; }
    std::optional<int> eosTokenId() const override { return std::nullopt; }
    std::optional<std::string> unknownToken() const override { return std::nullopt; }
    std::optional<int> unknownTokenId() const override { return std::nullopt; }
};

// A byte-level tokenizer over a fixed vocabulary: decoding joins the tokens' bytes and turns
// malformed UTF-8 into U+FFFD, as a byte-level decoder does.
class FakeTokenizer : public TokenizerWithoutSpecialTokens<tokenizers::Tokenizer> {
public:
    explicit FakeTokenizer(std::map<int, std::string> vocabulary)
        : vocabulary_(std::move(vocabulary))
    {
    }

    std::vector<int> encode(const std::string& text) const override
    {
        auto id = convertTokenToId(text);
        return id ? std::vector<int> {*id} : std::vector<int> {};
    }
    std::string decode(const std::vector<int>& tokens) const override
    {
        std::string bytes;
        for (int token : tokens) {
            auto it = vocabulary_.find(token);
            if (it != vocabulary_.end()) bytes += it->second;
        }
        std::string text;
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        const auto length = static_cast<std::int32_t>(bytes.size());
        std::int32_t offset = 0;
        while (offset < length) {
            const std::int32_t start = offset;
            UChar32 c = 0;
            U8_NEXT(data, offset, length, c);
            text += c < 0 ? std::string("\xEF\xBF\xBD") : bytes.substr(start, offset - start);
        }
        return text;
    }
    std::optional<int> convertTokenToId(const std::string& token) const override
    {
        for (const auto& [id, text] : vocabulary_) {
            if (text == token) return id;
        }
        return std::nullopt;
    }
    std::optional<std::string> convertIdToToken(int id) const override
    {
        auto it = vocabulary_.find(id);
        return it == vocabulary_.end() ? std::nullopt : std::optional<std::string>(it->second);
    }

private:
    std::map<int, std::string> vocabulary_;
};

} // namespace testsupport
