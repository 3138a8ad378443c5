#pragma once

// Drives one built tokenizer with arbitrary input: the bytes as text to tokenize and encode (ill-
// formed UTF-8 included), the encoding decoded again, and the bytes read as token ids to decode.

#include "FuzzSupport.hpp"
#include "FuzzTokenizers.hpp"
#include "Hub/Config.hpp"
#include "Tokenizers/AutoTokenizer.hpp"

#include <exception>
#include <memory>

namespace fuzztokenizers {

inline std::shared_ptr<tokenizers::Tokenizer> build(const TokenizerFiles& files)
{
    return tokenizers::AutoTokenizer::from(hub::Config(files.config), hub::Config(files.data));
}

inline void codeArbitraryInput(const tokenizers::Tokenizer& tokenizer, const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        tokenizer.tokenize(text);
        tokenizer.decode(tokenizer.encode(text));
    } catch (const std::exception&) {
    }
    std::vector<int> ids;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        ids.push_back(static_cast<std::int16_t>(data[i] | data[i + 1] << 8));
    }
    try {
        tokenizer.decode(ids);
        for (int id : ids) {
            if (const auto token = tokenizer.convertIdToToken(id)) {
                tokenizer.convertTokenToId(*token);
            }
        }
    } catch (const std::exception&) {
    }
}

} // namespace fuzztokenizers
