#include "tools/auris-transcribe/TranscribeCommand.hpp"

#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Audio/VADAudioChunker.hpp"
#include "Auris/Core/TimingStages.hpp"
#include "Auris/Engine/Auris.hpp"
#include "Auris/Text/Constants.hpp"
#include "Auris/Utilities/TextFormatting.hpp"
#include "Auris/Utilities/TranscriptionUtilities.hpp"
#include "Auris/Writers/WriteJSON.hpp"
#include "Auris/Writers/WriteSRT.hpp"
#include "Auris/Writers/WriteVTT.hpp"
#include "tools/auris-transcribe/FileProgress.hpp"
#include "tools/auris-transcribe/PrintableText.hpp"
#include "tools/auris-transcribe/ProgressReporter.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>

namespace auris {

const char* const transcribeCommandUsage
    = "usage: auris-transcribe [--model NAME | --model-folder DIR] [--format text|json|srt|vtt] [--output-dir DIR]\n"
      "           [OPTION]... FILE...\n";

const char* const transcribeCommandHelp
    = "usage: auris-transcribe [--model NAME | --model-folder DIR] [--format text|json|srt|vtt] [--output-dir DIR]\n"
      "           [OPTION]... FILE...\n"
      "Transcribes audio files with the Auris engine.\n"
      "\n"
      "Model:\n"
      "  --model NAME            a model of the hub repository, downloaded once and then reused\n"
      "  --model-folder DIR      a model folder on disk; nothing is downloaded\n"
      "  --repo ID               the hub repository that --model comes from\n"
      "  --download-base DIR     where downloaded models are kept\n"
      "  --tokenizer-folder DIR  where the tokenizer is looked for, and downloaded to when missing\n"
      "Transcription:\n"
      "  --language xx           the spoken language, such as en; detected when not given\n"
      "  --chunking vad|none     cut audio longer than 30 s at its pauses (vad, the default) or not\n"
      "  --workers N             how many chunks are transcribed side by side; 0 (the default) sets no limit\n"
      "  --word-timestamps       time every word: JSON then lists the words, subtitles get a cue per word\n"
      "  --keep-special-tokens   keep the control and timestamp tokens in the segment texts (for debugging)\n"
      "  --no-fallback           decode every window once, at temperature 0 to its end, never again hotter:\n"
      "                          the same audio then always takes the same steps (for comparing builds)\n"
      "Output:\n"
      "  --format FORMAT         text (the default) to standard output, or a json, srt or vtt file per input\n"
      "  --output-dir DIR        the folder for those files, made when missing (default: the current folder)\n"
      "  --quiet                 no progress on standard error\n"
      "  --verbose               the time each stage took, for each file\n"
      "  -h, --help              this help\n"
      "\n"
      "Exit status: 0 when every file was transcribed; 1 when a file failed (the others are still done)\n"
      "or the model or the output folder could not be set up; 2 for a usage error.\n";

namespace {

using Clock = std::chrono::steady_clock;
using Format = TranscribeCommandOptions::Format;

Format formatNamed(const std::string& name)
{
    if (name == "text") return Format::text;
    if (name == "json") return Format::json;
    if (name == "srt") return Format::srt;
    if (name == "vtt") return Format::vtt;
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

std::unique_ptr<ResultWriting> writerFor(Format format, const std::string& outputDir)
{
    switch (format) {
    case Format::json: return std::make_unique<WriteJSON>(outputDir);
    case Format::srt: return std::make_unique<WriteSRT>(outputDir);
    case Format::vtt: return std::make_unique<WriteVTT>(outputDir);
    case Format::text: break;
    }
    return nullptr;
}

std::string extensionOf(Format format)
{
    switch (format) {
    case Format::json: return ".json";
    case Format::srt: return ".srt";
    case Format::vtt: return ".vtt";
    case Format::text: break;
    }
    return "";
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string trimmed(const std::string& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// A cue's text on one line: a blank line would end the cue early, so every run of white space
// becomes one blank, and none is left at the ends.
std::string cueText(const std::string& text)
{
    std::string line;
    bool pendingBlank = false;
    for (const char c : text) {
        if (isBlank(c)) {
            pendingBlank = !line.empty();
            continue;
        }
        if (pendingBlank) {
            line += ' ';
            pendingBlank = false;
        }
        line += c;
    }
    return line;
}

// The result as subtitles show it: cue texts on one line, and no cue without text.
TranscriptionResult subtitleResult(const TranscriptionResult& result)
{
    TranscriptionResult subtitles = result;
    subtitles.segments.clear();
    for (auto segment : result.segments) {
        segment.text = cueText(segment.text);
        if (segment.words) {
            for (auto& word : *segment.words) {
                word.word = cueText(word.word);
            }
            std::erase_if(*segment.words, [](const WordTiming& word) { return word.word.empty(); });
        }
        if (!segment.text.empty() || (segment.words && !segment.words->empty())) {
            subtitles.segments.push_back(std::move(segment));
        }
    }
    return subtitles;
}

// Creates the folder with its parents and makes sure a file can be created in it, so that no
// transcription is done for an output that cannot be written. Returns why not, if it cannot.
std::optional<std::string> prepareOutputFolder(const std::filesystem::path& folder)
{
    const std::string name = "\"" + printable(folder.string()) + "\"";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        return "cannot create the output folder " + name + ": " + error.message();
    }
    if (!std::filesystem::is_directory(folder, error)) {
        return "the output folder " + name + " is not a folder";
    }
    std::string probe = (folder / ".auris-transcribe-XXXXXX").string();
    const int descriptor = ::mkstemp(probe.data());
    if (descriptor < 0) {
        return "cannot write in the output folder " + name + ": " + std::generic_category().message(errno);
    }
    ::close(descriptor);
    ::unlink(probe.c_str());
    return std::nullopt;
}

// One output name per input, its file name without the extension; an input whose name an earlier
// one already took gets "-2", "-3", ... so that no output overwrites another of the same run.
std::vector<std::string> distinctOutputNames(const std::vector<std::string>& files)
{
    std::set<std::string> taken;
    std::vector<std::string> names;
    for (const auto& file : files) {
        const std::string stem = std::filesystem::path(file).stem().string();
        std::string name = stem;
        for (int suffix = 2; taken.contains(name); ++suffix) {
            name = stem + "-" + std::to_string(suffix);
        }
        taken.insert(name);
        names.push_back(name);
    }
    return names;
}

// The transcription tasks the engine runs for these samples: one per chunk when it chunks them.
std::size_t taskCount(const std::vector<float>& samples, const DecodingOptions& options)
{
    if (options.chunkingStrategy != ChunkingStrategy::vad || samples.size() <= static_cast<std::size_t>(Auris::windowSamples)) {
        return 1;
    }
    return VADAudioChunker(Auris::chunkerWindowPadding).chunkAll(samples, Auris::windowSamples, options).size();
}

// The progress of the file being transcribed, shared with the engine's progress callbacks. Those
// run on a thread of their own and may still come after the file is done; they then do nothing.
struct LiveProgress {
    explicit LiveProgress(ProgressReporter reporter)
        : reporter(std::move(reporter))
    {
    }

    void stop(bool finished)
    {
        std::lock_guard lock(mutex);
        if (!running) {
            return;
        }
        running = false;
        if (finished) {
            reporter.finish();
        } else {
            reporter.abandon();
        }
    }

    std::mutex mutex;
    bool running = true;
    std::optional<FileProgress> file;
    ProgressReporter reporter;
};

Auris::ProgressCallback progressCallback(const std::shared_ptr<LiveProgress>& live, const Auris& engine)
{
    if (!live) {
        return {};
    }
    // The engine is read only while the file runs, so it is still there.
    return [live, &engine](const TranscriptionProgress&) -> std::optional<bool> {
        std::lock_guard lock(live->mutex);
        if (live->running && live->file) {
            live->reporter.update(live->file->fraction(engine.progress()));
        }
        return std::nullopt;
    };
}

// Stage times summed over the chunks, which may have run side by side.
void printTimings(std::ostream& err, const std::string& path, const TranscriptionTimings& timings,
    double modelLoadingSeconds, double audioLoadingSeconds, double audioSeconds, double wallSeconds)
{
    const double totalMilliseconds = wallSeconds * 1000;
    err << path << ": " << formatString("%.2f", audioSeconds) << " s of audio in " << formatString("%.2f", wallSeconds)
        << " s, real-time factor " << formatString("%.4f", wallSeconds / std::max(audioSeconds, 0.001)) << "\n";
    auto stage = [&](const char* label, double seconds, double runs) {
        err << "  " << formatString("%-22s", label) << formatTimingLine(seconds, runs, totalMilliseconds) << "\n";
    };
    stage("Model Load:", modelLoadingSeconds, 1);
    // The audio load is the command's own measure, not the engine's.
    TranscriptionTimings shown = timings;
    shown.audioLoading = audioLoadingSeconds;
    for (const auto& row : timingStages(shown)) {
        if (!row.engineOnly) {
            stage(row.label, row.seconds, row.runs);
        }
    }
    err << "  " << formatString("%-22s", "Windows:") << formatString("%.0f", timings.totalDecodingWindows) << "\n";
}

// What the stages of one command run share.
struct CommandRun {
    const TranscribeCommandOptions& options;
    std::ostream& out;
    std::ostream& err;
    std::function<Clock::time_point()> now;
    std::unique_ptr<ResultWriting> writer;
    // One per input, when the results go to files.
    std::vector<std::string> outputNames;
    std::unique_ptr<Auris> engine;
    DecodingOptions decodeOptions;
    ProgressReporter::Style style;

    double secondsSince(Clock::time_point start) const { return std::chrono::duration<double>(now() - start).count(); }
};

// Makes the output folder ready and names each input's output, telling of inputs that had to be
// renamed. Returns false, having said why, when the folder cannot be written.
bool prepareOutputs(CommandRun& run)
{
    const auto& options = run.options;
    if (!run.writer) {
        return true;
    }
    if (const auto problem = prepareOutputFolder(options.outputDir)) {
        run.err << "auris-transcribe: " << *problem << "\n";
        return false;
    }
    run.outputNames = distinctOutputNames(options.files);
    const std::string extension = extensionOf(options.format);
    for (std::size_t i = 0; i < options.files.size() && !options.quiet; ++i) {
        const std::string stem = std::filesystem::path(options.files[i]).stem().string();
        if (run.outputNames[i] != stem) {
            run.err << "auris-transcribe: " << printable(options.files[i]) << " is written as "
                    << printable(run.outputNames[i] + extension) << ", an earlier input has the name "
                    << printable(stem + extension) << "\n";
        }
    }
    return true;
}

// The engine over the chosen model, or none, having said why, when it cannot be set up.
std::unique_ptr<Auris> makeEngine(const TranscribeCommandOptions& options, std::ostream& err)
{
    try {
        return std::make_unique<Auris>(AurisConfig {
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
        err << "auris-transcribe: " << printable(error.what()) << "\n";
        return nullptr;
    }
}

DecodingOptions decodingOptionsFor(const TranscribeCommandOptions& options)
{
    const DecodingOptions::Arguments defaults;
    return DecodingOptions(DecodingOptions::Arguments {
        .language = options.language,
        .temperatureFallbackCount = options.noFallback ? 0 : defaults.temperatureFallbackCount,
        .detectLanguage = !options.language.has_value(),
        .skipSpecialTokens = !options.keepSpecialTokens,
        .wordTimestamps = options.wordTimestamps,
        // An unlikely first token only ends a window so that it is decoded again, hotter.
        .firstTokenLogProbThreshold = options.noFallback ? std::nullopt : defaults.firstTokenLogProbThreshold,
        .concurrentWorkerCount = options.workers,
        .chunkingStrategy = options.chunking ? ChunkingStrategy::vad : ChunkingStrategy::none,
    });
}

// One file's results and what they took.
struct FileTranscript {
    std::vector<TranscriptionResult> results;
    TranscriptionResult merged;
    double audioLoadingSeconds = 0;
    double wallSeconds = 0;
};

FileTranscript transcribeSamples(CommandRun& run, const std::string& file, const std::shared_ptr<LiveProgress>& live)
{
    FileTranscript transcript;
    const auto start = run.now();
    const std::vector<float> samples = AudioProcessor::loadAudioSamples(file, 0.0, std::nullopt);
    transcript.audioLoadingSeconds = run.secondsSince(start);
    if (live) {
        FileProgress fileProgress(run.engine->progress(), taskCount(samples, run.decodeOptions));
        std::lock_guard lock(live->mutex);
        live->file = std::move(fileProgress);
    }
    transcript.results = run.engine->transcribe(samples, run.decodeOptions, progressCallback(live, *run.engine));
    transcript.wallSeconds = run.secondsSince(start);
    if (live) {
        live->stop(true);
    }
    transcript.merged = mergeTranscriptionResults(
        std::vector<std::optional<TranscriptionResult>>(transcript.results.begin(), transcript.results.end()));
    return transcript;
}

// The file's output: its text to `out`, or its file in the output folder and that file's path to `out`.
void writeTranscript(CommandRun& run, std::size_t index, const TranscriptionResult& merged)
{
    const auto& options = run.options;
    if (run.writer) {
        const bool subtitles = options.format == Format::srt || options.format == Format::vtt;
        const auto written = run.writer->write(subtitles ? subtitleResult(merged) : merged, run.outputNames[index]);
        run.out << printable(written.get()) << "\n";
    } else {
        if (options.files.size() > 1) {
            run.out << "# " << printable(options.files[index]) << "\n";
        }
        run.out << trimmed(merged.text) << "\n";
    }
    run.out.flush();
}

void printFileTimings(CommandRun& run, const std::string& shownFile, const FileTranscript& transcript)
{
    double audioSeconds = 0;
    for (const auto& result : transcript.results) {
        audioSeconds += result.timings.inputAudioSeconds;
    }
    printTimings(run.err, shownFile, transcript.merged.timings, run.engine->currentTimings().modelLoading,
        transcript.audioLoadingSeconds, audioSeconds, transcript.wallSeconds);
}

// Transcribes the file at `index` and writes its output; false, having said why, when it failed.
bool transcribeFile(CommandRun& run, std::size_t index)
{
    const std::string shownFile = printable(run.options.files[index]);
    std::shared_ptr<LiveProgress> live;
    if (!run.options.quiet) {
        live = std::make_shared<LiveProgress>(ProgressReporter(run.err, shownFile, run.style, run.now));
        std::lock_guard lock(live->mutex);
        live->reporter.start();
    }
    try {
        if (run.writer) {
            const std::string& name = run.outputNames[index];
            if (name.empty() || name == "." || name == "..") {
                throw std::invalid_argument("no output file name can be made from this path");
            }
        }
        const FileTranscript transcript = transcribeSamples(run, run.options.files[index], live);
        writeTranscript(run, index, transcript.merged);
        if (run.options.verbose) {
            printFileTimings(run, shownFile, transcript);
        }
        return true;
    } catch (const std::exception& error) {
        if (live) {
            live->stop(false);
        }
        run.err << "auris-transcribe: " << shownFile << ": " << printable(error.what()) << "\n";
        return false;
    }
}

} // namespace

TranscribeCommandOptions parseTranscribeArguments(const std::vector<std::string>& arguments)
{
    TranscribeCommandOptions options;
    bool onlyFiles = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= arguments.size()) {
                throw std::invalid_argument(argument + " needs a value");
            }
            return arguments[++i];
        };
        if (onlyFiles) {
            options.files.push_back(argument);
        } else if (argument == "--") {
            onlyFiles = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
            return options;
        } else if (argument == "--model-folder") {
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
        } else if (argument == "--word-timestamps") {
            options.wordTimestamps = true;
        } else if (argument == "--keep-special-tokens") {
            options.keepSpecialTokens = true;
        } else if (argument == "--no-fallback") {
            options.noFallback = true;
        } else if (argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "--verbose") {
            options.verbose = true;
        } else if (argument.starts_with("-") && argument.size() > 1) {
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

int runTranscribeCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
    const TranscribeCommandEnvironment& environment)
{
    TranscribeCommandOptions options;
    try {
        options = parseTranscribeArguments(arguments);
    } catch (const std::invalid_argument& error) {
        err << "auris-transcribe: " << printable(error.what()) << "\n"
            << transcribeCommandUsage << "Run auris-transcribe --help for the options.\n";
        return 2;
    }
    if (options.help) {
        out << transcribeCommandHelp;
        return 0;
    }
    CommandRun run {
        .options = options,
        .out = out,
        .err = err,
        .now = environment.now ? environment.now : [] { return Clock::now(); },
        .writer = writerFor(options.format, options.outputDir.string()),
    };
    if (!prepareOutputs(run)) {
        return 1;
    }
    run.engine = makeEngine(options, err);
    if (!run.engine) {
        return 1;
    }
    run.decodeOptions = decodingOptionsFor(options);
    run.style = {.terminal = environment.errorIsTerminal, .width = environment.terminalWidth};

    int status = 0;
    for (std::size_t index = 0; index < options.files.size(); ++index) {
        if (!transcribeFile(run, index)) {
            status = 1;
        }
    }
    return status;
}

} // namespace auris
