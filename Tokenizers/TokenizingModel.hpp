#pragma once

#include "Hub/Config.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tokenizers {

// The vocabulary-level algorithm inside a tokenizer (byte-pair, WordPiece, Unigram).
class TokenizingModel {
public:
    virtual ~TokenizingModel() = default;

    virtual std::vector<std::string> tokenize(const std::string& text) const = 0;
    std::vector<std::string> operator()(const std::string& text) const { return tokenize(text); }

    virtual std::optional<int> convertTokenToId(const std::string& token) const = 0;
    std::vector<std::optional<int>> convertTokensToIds(const std::vector<std::string>& tokens) const
    {
        std::vector<std::optional<int>> ids;
        ids.reserve(tokens.size());
        for (const auto& token : tokens) {
            ids.push_back(convertTokenToId(token));
        }
        return ids;
    }
    virtual std::optional<std::string> convertIdToToken(int id) const = 0;
    std::vector<std::optional<std::string>> convertIdsToTokens(const std::vector<int>& ids) const
    {
        std::vector<std::optional<std::string>> tokens;
        tokens.reserve(ids.size());
        for (int id : ids) {
            tokens.push_back(convertIdToToken(id));
        }
        return tokens;
    }

    virtual std::optional<std::string> bosToken() const = 0;
    virtual std::optional<int> bosTokenId() const = 0;
    virtual std::optional<std::string> eosToken() const = 0;
    virtual std::optional<int> eosTokenId() const = 0;
    virtual std::optional<std::string> unknownToken() const = 0;
    virtual std::optional<int> unknownTokenId() const = 0;
};

// Added tokens: token content to id.
using AddedTokens = std::map<std::string, int>;

} // namespace tokenizers
