#pragma once

#include "Tokenizers/Decoder.hpp"
#include "Tokenizers/StringReplacePattern.hpp"

namespace tokenizers {

class DecoderSequence : public Decoder {
public:
    explicit DecoderSequence(const hub::Config& config, const std::optional<AddedTokenSet>& addedTokens = std::nullopt);
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    std::vector<std::unique_ptr<Decoder>> decoders_;
};

class ByteLevelDecoder : public Decoder {
public:
    explicit ByteLevelDecoder(const hub::Config& config);
    ByteLevelDecoder(const hub::Config& config, const std::optional<AddedTokenSet>& addedTokens);
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    AddedTokenSet addedTokens_;
};

class ReplaceDecoder : public Decoder {
public:
    explicit ReplaceDecoder(const hub::Config& config);
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    std::optional<StringReplacePattern> pattern_;
};

class ByteFallbackDecoder : public Decoder {
public:
    explicit ByteFallbackDecoder(const hub::Config&) {}
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;
};

class FuseDecoder : public Decoder {
public:
    explicit FuseDecoder(const hub::Config&) {}
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;
};

class StripDecoder : public Decoder {
public:
    explicit StripDecoder(const hub::Config& config);
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    std::string content_;
    int start_;
    int stop_;
};

class MetaspaceDecoder : public Decoder {
public:
    explicit MetaspaceDecoder(const hub::Config& config);
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    bool addPrefixSpace_;
    std::string replacement_;
};

// The text of byte-level alphabet characters: their bytes read as UTF-8 (ill-formed -> U+FFFD).
// A character outside the alphabet stands for its own UTF-8 bytes.
std::string byteLevelText(std::string_view characters);

} // namespace tokenizers
