#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tokenizers {

// Text to token ids and back. Absent values are empty optionals, never sentinel ids.
class Tokenizer {
public:
    virtual ~Tokenizer() = default;

    virtual std::vector<std::string> tokenize(const std::string& text) const = 0;
    virtual std::vector<int> encode(const std::string& text) const = 0;
    std::vector<int> operator()(const std::string& text) const { return encode(text); }
    virtual std::string decode(const std::vector<int>& tokens) const = 0;

    virtual std::optional<int> convertTokenToId(const std::string& token) const = 0;
    // The token's own id, never the unknown token's id standing in for it: control-token lookups
    // must see that a vocabulary lacks a token.
    virtual std::optional<int> knownTokenId(const std::string& token) const
    {
        auto id = convertTokenToId(token);
        if (id && id == unknownTokenId() && unknownToken() != token) {
            return std::nullopt;
        }
        return id;
    }
    virtual std::vector<std::optional<int>> convertTokensToIds(const std::vector<std::string>& tokens) const
    {
        std::vector<std::optional<int>> ids;
        ids.reserve(tokens.size());
        for (const auto& token : tokens) {
            ids.push_back(convertTokenToId(token));
        }
        return ids;
    }
    virtual std::optional<std::string> convertIdToToken(int id) const = 0;
    virtual std::vector<std::optional<std::string>> convertIdsToTokens(const std::vector<int>& ids) const
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

// What can go wrong while a tokenizer is built; callers match on the kind.
class TokenizerError : public std::runtime_error {
public:
    enum class Kind {
        unsupportedTokenizer,
        tooLong,
        missingConfig,
        missingTokenizerClassInConfig,
        missingVocab,
        malformedVocab,
        configuration,
    };

    static TokenizerError unsupportedTokenizer(const std::string& className)
    {
        return TokenizerError(Kind::unsupportedTokenizer, className, "unsupportedTokenizer(\"" + className + "\")");
    }
    static TokenizerError tooLong(const std::string& text)
    {
        return TokenizerError(Kind::tooLong, text, "tooLong(\"" + text + "\")");
    }
    static TokenizerError missingConfig() { return TokenizerError(Kind::missingConfig, "", "missingConfig"); }
    static TokenizerError missingTokenizerClassInConfig()
    {
        return TokenizerError(Kind::missingTokenizerClassInConfig, "", "missingTokenizerClassInConfig");
    }
    static TokenizerError missingVocab() { return TokenizerError(Kind::missingVocab, "", "missingVocab"); }
    static TokenizerError malformedVocab() { return TokenizerError(Kind::malformedVocab, "", "malformedVocab"); }
    // A tokenizer stage that cannot be built from its section; what() is exactly the message.
    static TokenizerError configuration(const std::string& message)
    {
        return TokenizerError(Kind::configuration, message, message);
    }

    Kind kind() const { return kind_; }
    const std::string& payload() const { return payload_; }

private:
    TokenizerError(Kind kind, std::string payload, const std::string& text)
        : std::runtime_error(text)
        , kind_(kind)
        , payload_(std::move(payload))
    {
    }
    Kind kind_;
    std::string payload_;
};

} // namespace tokenizers
