#pragma once

#include "Tokenizers/Tokenizer.hpp"

namespace tokenizers {

// Bounds how deeply stage sequences may nest while a tokenizer is built, so that a hostile file
// cannot exhaust the stack.
class NestingGuard {
public:
    static constexpr int maximumDepth = 64;

    NestingGuard()
    {
        if (++depth() > maximumDepth) {
            --depth();
            throw TokenizerError::configuration("Tokenizer stages nested too deeply");
        }
    }
    ~NestingGuard() { --depth(); }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

private:
    static int& depth()
    {
        thread_local int value = 0;
        return value;
    }
};

} // namespace tokenizers
