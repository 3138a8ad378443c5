#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace auris {

// What `auris-transcribe` was asked to do.
struct TranscribeCommandOptions {
    enum class Format { text, json, srt, vtt };

    std::optional<std::string> modelFolder;
    std::optional<std::string> model;
    std::optional<std::string> repo;
    std::optional<std::filesystem::path> downloadBase;
    std::optional<std::filesystem::path> tokenizerFolder;
    std::optional<std::string> language;
    Format format = Format::text;
    std::filesystem::path outputDir = ".";
    bool chunking = true;
    int workers = 0;
    bool verbose = false;
    std::vector<std::string> files;
};

extern const char* const transcribeCommandUsage;

// Throws std::invalid_argument naming the first argument it cannot take.
TranscribeCommandOptions parseTranscribeArguments(const std::vector<std::string>& arguments);

// Creates the engine, transcribes every file in turn and writes each file's results: text to `out`,
// or a file per input in the output folder (its path to `out`). Errors, and with --verbose the
// timings, go to `err`. Returns 0 when every file was transcribed, 1 when one failed, 2 for bad usage.
int runTranscribeCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace auris
