#pragma once

// Small tokenizers of the three model kinds, as configuration and data pairs: the encoder targets
// build them once, and the seeds of the tokenizer-files target are written from them.

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

namespace fuzztokenizers {

struct TokenizerFiles {
    std::string name;
    nlohmann::json config; // tokenizer_config.json
    nlohmann::json data; // tokenizer.json
};

// make-model's byte-level Whisper tokenizer with a short vocabulary (BPE).
TokenizerFiles whisperBpe();
// A BERT-style WordPiece tokenizer.
TokenizerFiles bertWordPiece();
// A T5-style Unigram tokenizer with a Metaspace pre-tokenizer.
TokenizerFiles t5Unigram();

// Texts the seeds start from: ordinary words, blanks, accents, CJK, emoji and control tokens.
const std::vector<std::string>& sampleTexts();

} // namespace fuzztokenizers
