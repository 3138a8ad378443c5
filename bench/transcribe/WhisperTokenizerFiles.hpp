#pragma once

#include <filesystem>

namespace bench {

// Writes "tokenizer.json", "tokenizer_config.json" and "config.json" of a byte-level tokenizer
// with the Whisper control tokens at their usual ids (no merges: every byte is a token).
void writeWhisperTokenizerFiles(const std::filesystem::path& folder);

} // namespace bench
