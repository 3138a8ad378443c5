#pragma once

#include "Hub/Config.hpp"

#include <map>
#include <memory>
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
    // The ids convertTokenToId gives for tokenize(text), in order; tokens without one are left out.
    virtual void appendTokenIds(const std::string& text, std::vector<int>& ids) const
    {
        for (const auto& token : tokenize(text)) {
            if (const auto id = convertTokenToId(token)) {
                ids.push_back(*id);
            }
        }
    }
    std::vector<std::optional<int>> convertTokensToIds(const std::vector<std::string>& tokens) const
    {
        std::vector<std::optional<int>> ids;
        ids.reserve(tokens.size());
        for (const auto& token : tokens) {
            ids.push_back(convertTokenToId(token));
        }
        return ids;
    }
    // The token's own id, never the unknown token's id standing in for it.
    virtual std::optional<int> knownTokenId(const std::string& token) const
    {
        auto id = convertTokenToId(token);
        if (id && id == unknownTokenId() && unknownToken() != token) {
            return std::nullopt;
        }
        return id;
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

// A model that can be built from a repository's tokenizer files (the tokenizer configuration, the
// tokenizer data whose "model" section it reads, and the added tokens), so that a class table can
// hold model kinds and construct them by name.
class PreTrainedTokenizerModel : public TokenizingModel {
};

using PreTrainedTokenizerModelFactory = std::unique_ptr<PreTrainedTokenizerModel> (*)(
    const hub::Config& tokenizerConfig, const hub::Config& tokenizerData, const AddedTokens& addedTokens);

template<typename Model>
std::unique_ptr<PreTrainedTokenizerModel> makePreTrainedTokenizerModel(
    const hub::Config& tokenizerConfig, const hub::Config& tokenizerData, const AddedTokens& addedTokens)
{
    return std::make_unique<Model>(tokenizerConfig, tokenizerData, addedTokens);
}

} // namespace tokenizers
