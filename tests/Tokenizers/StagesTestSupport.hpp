#pragma once

#include "Tokenizers/Tokenizer.hpp"

#include <functional>
#include <string>

// The message of the TokenizerError that building throws, or "no error".
inline std::string configurationMessage(const std::function<void()>& build)
{
    try {
        build();
    } catch (const tokenizers::TokenizerError& error) {
        return error.what();
    }
    return "no error";
}
