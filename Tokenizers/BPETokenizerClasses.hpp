#pragma once

#include "Tokenizers/BPETokenizer.hpp"

namespace tokenizers {

// Byte-pair models known by other class names; each is the byte-pair model itself under its own type.
class CodeGenTokenizer : public BPETokenizer {
public:
    using BPETokenizer::BPETokenizer;
};

class CodeLlamaTokenizer : public BPETokenizer {
public:
    using BPETokenizer::BPETokenizer;
};

class FalconTokenizer : public BPETokenizer {
public:
    using BPETokenizer::BPETokenizer;
};

class GemmaTokenizer : public BPETokenizer {
public:
    using BPETokenizer::BPETokenizer;
};

class GPT2Tokenizer : public BPETokenizer {
public:
    using BPETokenizer::BPETokenizer;
};

class LlamaTokenizer : public BPETokenizer {
public:
    using BPETokenizer::BPETokenizer;
};

// The tokenizer module's Whisper model, not the engine's Whisper tokenizer interface.
class WhisperTokenizer : public BPETokenizer {
public:
    using BPETokenizer::BPETokenizer;
};

class CohereTokenizer : public BPETokenizer {
public:
    using BPETokenizer::BPETokenizer;
};

} // namespace tokenizers
