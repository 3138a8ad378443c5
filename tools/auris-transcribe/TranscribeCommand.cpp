#include "tools/auris-transcribe/TranscribeCommand.hpp"

#include "Auris/Engine/Auris.hpp"
#include "Auris/Text/Constants.hpp"
#include "Auris/Utilities/TextFormatting.hpp"
#include "Auris/Utilities/TranscriptionUtilities.hpp"
#include "Auris/Writers/WriteJSON.hpp"
#include "Auris/Writers/WriteSRT.hpp"
#include "Auris/Writers/WriteVTT.hpp"

#include <charconv>
#include <chrono>
#include <stdexcept>

namespace auris {

const char* const transcribeCommandUsage
    = "usage: auris-transcribe [--model-folder DIR | --model NAME] [--repo ID] [--download-base DIR]\n"
      "           [--tokenizer-folder DIR] [--language xx] [--format json|srt|vtt|text] [--output-dir DIR]\n"
      "           [--chunking vad|none] [--workers N] [--verbose] FILE...\n";

namespace {

using Clock = std::chrono::steady_clock;

TranscribeCommandOptions::Format formatNamed(const std::string& name)
{
    if (name == "text") return TranscribeCommandOptions::Format::text;
    if (name == "json") return TranscribeCommandOptions::Format::json;
    if (name == "srt") return TranscribeCommandOptions::Format::srt;
    if (name == "vtt") return TranscribeCommandOptions::Format::vtt;
    throw std::invalid_argument("--format takes json, srt, vtt or text, not \"" + name + "\"");
}

int workerCount(const std::string& text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        throw std::invalid_argument("--workers takes a whole number from 0, not \"" + text + "\"");
    }
    return value;
}

std::unique_ptr<ResultWriting> writerFor(TranscribeCommandOptions::Format format, const std::string& outputDir)
{
    switch (format) {
    case TranscribeCommandOptions::Format::json: return std::make_unique<WriteJSON>(outputDir);
    case TranscribeCommandOptions::Format::srt: return std::make_unique<WriteSRT>(outputDir);
    case TranscribeCommandOptions::Format::vtt: return std::make_unique<WriteVTT>(outputDir);
    case TranscribeCommandOptions::Format::text: break;
    }
    return nullptr;
}

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

// Stage times summed over the chunks, which may have run side by side.
void printTimings(std::ostream& err, const std::string& path, const TranscriptionTimings& timings,
    const TranscriptionTimings& engineTimings, double audioSeconds, double wallSeconds)
{
    const double totalMilliseconds = wallSeconds * 1000;
    err << path << ": " << formatString("%.2f", audioSeconds) << " s of audio in " << formatString("%.2f", wallSeconds)
        << " s, real-time factor " << formatString("%.4f", wallSeconds / std::max(audioSeconds, 0.001)) << "\n";
    auto stage = [&](const char* label, double seconds, double runs) {
        err << "  " << formatString("%-22s", label) << formatTimingLine(seconds, runs, totalMilliseconds) << "\n";
    };
    stage("Model Load:", engineTimings.modelLoading, 1);
    stage("Audio Load:", engineTimings.audioLoading, 1);
    stage("Audio Processing:", timings.audioProcessing, timings.totalAudioProcessingRuns);
    stage("Mels:", timings.logmels, timings.totalLogmelRuns);
    stage("Encoding:", timings.encoding, timings.totalEncodingRuns);
    stage("Prefill:", timings.prefill, 1);
    stage("Decoding:", timings.decodingPredictions, timings.totalDecodingLoops);
    stage("- Logit Filtering:", timings.decodingFiltering, timings.totalDecodingLoops);
    stage("- Sampling:", timings.decodingSampling, timings.totalDecodingLoops);
    stage("- Kv Caching:", timings.decodingKvCaching, timings.totalKVUpdateRuns);
    stage("- Word Timestamps:", timings.decodingWordTimestamps, timings.totalTimestampAlignmentRuns);
    stage("Fallbacks:", timings.decodingFallback, timings.totalDecodingFallbacks);
    stage("Decoding Full Loop:", timings.decodingLoop, timings.totalDecodingLoops);
    err << "  " << formatString("%-22s", "Windows:") << formatString("%.0f", timings.totalDecodingWindows) << "\n";
}

} // namespace

TranscribeCommandOptions parseTranscribeArguments(const std::vector<std::string>& arguments)
{
    TranscribeCommandOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= arguments.size()) {
                throw std::invalid_argument(argument + " needs a value");
            }
            return arguments[++i];
        };
        if (argument == "--model-folder") {
            options.modelFolder = value();
        } else if (argument == "--model") {
            options.model = value();
        } else if (argument == "--repo") {
            options.repo = value();
        } else if (argument == "--download-base") {
            options.downloadBase = value();
        } else if (argument == "--tokenizer-folder") {
            options.tokenizerFolder = value();
        } else if (argument == "--language") {
            const std::string& code = value();
            if (!Constants::languageCodes().contains(code)) {
                throw std::invalid_argument("--language takes a language code such as \"en\", not \"" + code + "\"");
            }
            options.language = code;
        } else if (argument == "--format") {
            options.format = formatNamed(value());
        } else if (argument == "--output-dir") {
            options.outputDir = value();
        } else if (argument == "--chunking") {
            const std::string& strategy = value();
            if (strategy != "vad" && strategy != "none") {
                throw std::invalid_argument("--chunking takes vad or none, not \"" + strategy + "\"");
            }
            options.chunking = strategy == "vad";
        } else if (argument == "--workers") {
            options.workers = workerCount(value());
        } else if (argument == "--verbose") {
            options.verbose = true;
        } else if (argument.starts_with("--")) {
            throw std::invalid_argument("unknown option " + argument);
        } else {
            options.files.push_back(argument);
        }
    }
    if (options.modelFolder && options.model) {
        throw std::invalid_argument("--model-folder and --model exclude each other");
    }
    if (options.files.empty()) {
        throw std::invalid_argument("no audio file given");
    }
    return options;
}

int runTranscribeCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    TranscribeCommandOptions options;
    try {
        options = parseTranscribeArguments(arguments);
    } catch (const std::invalid_argument& error) {
        err << "auris-transcribe: " << error.what() << "\n" << transcribeCommandUsage;
        return 2;
    }

    std::unique_ptr<Auris> engine;
    try {
        engine = std::make_unique<Auris>(AurisConfig {
            .model = options.model,
            .downloadBase = options.downloadBase,
            .modelRepo = options.repo,
            .modelFolder = options.modelFolder,
            .tokenizerFolder = options.tokenizerFolder,
            .verbose = false,
            .load = true,
            .download = !options.modelFolder.has_value(),
        });
    } catch (const std::exception& error) {
        err << "auris-transcribe: " << error.what() << "\n";
        return 1;
    }

    DecodingOptions decodeOptions(DecodingOptions::Arguments {
        .language = options.language,
        .detectLanguage = !options.language.has_value(),
        .concurrentWorkerCount = options.workers,
        .chunkingStrategy = options.chunking ? ChunkingStrategy::vad : ChunkingStrategy::none,
    });

    const auto writer = writerFor(options.format, options.outputDir.string());
    int status = 0;
    for (const auto& file : options.files) {
        try {
            const auto start = Clock::now();
            const auto results = engine->transcribe(file, decodeOptions);
            const double wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            const auto merged = mergeTranscriptionResults(
                std::vector<std::optional<TranscriptionResult>>(results.begin(), results.end()));

            if (writer) {
                const auto written = writer->write(merged, std::filesystem::path(file).stem().string());
                out << written.get() << "\n";
            } else {
                if (options.files.size() > 1) {
                    out << "# " << file << "\n";
                }
                out << trimmed(merged.text) << "\n";
            }
            if (options.verbose) {
                double audioSeconds = 0;
                for (const auto& result : results) {
                    audioSeconds += result.timings.inputAudioSeconds;
                }
                printTimings(err, file, merged.timings, engine->currentTimings(), audioSeconds, wallSeconds);
            }
        } catch (const std::exception& error) {
            err << "auris-transcribe: " << file << ": " << error.what() << "\n";
            status = 1;
        }
    }
    return status;
}

} // namespace auris
