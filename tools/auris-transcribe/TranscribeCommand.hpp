#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
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
    bool wordTimestamps = false;
    // Leaves the control and timestamp tokens in the segment texts, for looking into the decoder.
    bool keepSpecialTokens = false;
    // Temperature 0 only: the same audio always takes the same steps.
    bool noFallback = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    std::vector<std::string> files;
};

// Where the command runs: whether standard error is a terminal (a redrawn bar) or not (plain
// lines), how wide it is, and the clock for elapsed times (the steady clock when empty).
struct TranscribeCommandEnvironment {
    bool errorIsTerminal = false;
    int terminalWidth = 80;
    std::function<std::chrono::steady_clock::time_point()> now;
};

extern const char* const transcribeCommandUsage;
// The usage followed by what every option does and the exit statuses.
extern const char* const transcribeCommandHelp;

// Throws std::invalid_argument naming the first argument it cannot take. With --help the other
// arguments are not checked.
TranscribeCommandOptions parseTranscribeArguments(const std::vector<std::string>& arguments);

// Creates the engine, transcribes every file in turn and writes each file's results: text to `out`,
// or a file per input in the output folder (its path to `out`). Progress, errors and with --verbose
// the timings go to `err`. Returns 0 when every file was transcribed (and for --help, whose text
// goes to `out`), 1 when the engine or the output folder could not be set up or a file failed
// (after the others were done), 2 for bad usage.
int runTranscribeCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
    const TranscribeCommandEnvironment& environment = {});

} // namespace auris
