#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace fixtures {

// Id of a byte's alphabet character in the base vocabulary: the printable bytes first, in byte
// order (so "!" is 0), then the other 68 bytes (so the blank is 220).
int baseId(unsigned char byte);

// The merges of the small Whisper-style vocabulary; the token made by merge i has id 256 + i.
const std::vector<std::string>& whisperMerges();

// A byte-level "tokenizer.json": the 256 alphabet characters, the merged tokens, and the Whisper
// control tokens as added tokens with their multilingual ids (<|endoftext|> 50257 ... <|0.00|> 50364),
// of the languages only the first eight (<|en|> 50259 to <|ja|> 50266).
nlohmann::json whisperTokenizerData();
// "tokenizer_config.json" naming the given class.
nlohmann::json whisperTokenizerConfig(const std::string& tokenizerClass = "WhisperTokenizer");

// Writes config.json, tokenizer.json and tokenizer_config.json into the folder.
void writeWhisperTokenizerFolder(const std::filesystem::path& folder);

// A minimal tokenizer.json around the given model section, with no other stage.
nlohmann::json bpeData(const nlohmann::json& vocab, const nlohmann::json& merges);

} // namespace fixtures
