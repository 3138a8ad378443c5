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

// Where the Whisper control tokens sit. The usual layout puts <|endoftext|> at 50257 and names eight
// languages, leaving the other language ids empty. The compact one packs every control token and
// all 99 languages right after the merged tokens, so that each id below `vocabularySize()` is a
// token: the layout for small synthetic models.
struct WhisperLayout {
    int endOfText = 50257;
    bool allLanguages = false;

    static WhisperLayout compact();
    // Ids from <|endoftext|> to the last timestamp <|30.00|>.
    static constexpr int controlTokenCount = 1608;
    int timeTokenBegin() const { return endOfText + 107; }
    int vocabularySize() const { return endOfText + controlTokenCount; }
};

// A byte-level "tokenizer.json": the 256 alphabet characters, the merged tokens, and the Whisper
// control tokens as added tokens (<|endoftext|>, <|startoftranscript|>, languages, <|translate|> at
// <|endoftext|> + 101 ... <|0.00|> at <|endoftext|> + 107).
nlohmann::json whisperTokenizerData(WhisperLayout layout = {});
// "tokenizer_config.json" naming the given class.
nlohmann::json whisperTokenizerConfig(const std::string& tokenizerClass = "WhisperTokenizer");

// Writes config.json, tokenizer.json and tokenizer_config.json into the folder.
void writeWhisperTokenizerFolder(const std::filesystem::path& folder, WhisperLayout layout = {});

// A minimal tokenizer.json around the given model section, with no other stage.
nlohmann::json bpeData(const nlohmann::json& vocab, const nlohmann::json& merges);

} // namespace fixtures
