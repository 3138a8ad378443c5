#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Writers/WriteSRT.hpp"
#include "Tokenizers/TokenizerFixtures.hpp"
#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"
#include "tools/auris-transcribe/TranscribeCommand.hpp"
#include "platform/ml/compiler/WhisperModelSet.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>

using namespace auris;
using Lines = std::vector<std::string>;

namespace {

struct CommandRun {
    int status = 0;
    std::string out;
    std::string err;
};

Lines linesOf(const std::string& text)
{
    Lines lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

struct Cue {
    std::string start;
    std::string end;
    std::string text;

    friend bool operator==(const Cue&, const Cue&) = default;
};

void PrintTo(const Cue& cue, std::ostream* stream) { *stream << cue.start << " --> " << cue.end << " " << cue.text; }

std::string trimmedText(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\n");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

std::vector<Cue> subRipCues(const std::string& contents)
{
    std::vector<Cue> cues;
    const Lines lines = linesOf(contents);
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
        const auto arrow = lines[i + 1].find(" --> ");
        if (arrow != std::string::npos) {
            cues.push_back({lines[i + 1].substr(0, arrow), lines[i + 1].substr(arrow + 5), lines[i + 2]});
            i += 2;
        }
    }
    return cues;
}

} // namespace

// The harness on spoken English with a model set of the smallest "base" shape. Its weights are
// random but made decisive: a strong final norm makes every step so sure of its token that the
// decoder never falls back to sampling, so each run writes the same text; strong positions keep
// it from repeating one token, and text and timestamps take turns.
class TranscribeCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<testsupport::TemporaryDirectory>();
        ml::WhisperShape shape;
        shape.width = 64;
        shape.audioLayers = shape.textLayers = 1;
        shape.audioHeads = shape.textHeads = 2;
        const fixtures::WhisperLayout layout;
        const auto random = ml::randomWhisperWeights(7);
        ml::WhisperModelSet::write(*folder / "model", shape, ml::MultiArrayDataType::float16,
            [random](const ml::TensorSpec& tensor) {
                auto values = random(tensor);
                const float scale = tensor.name == "decoder.final_norm.weight" ? 16.0f
                    : tensor.name == "decoder.positional_embedding"            ? 20.0f
                                                                               : 1.0f;
                std::for_each(values.begin(), values.end(), [scale](float& value) { value *= scale; });
                return values;
            });
        fixtures::writeWhisperTokenizerFolder(*folder / "tokenizers/models/openai/whisper-base", layout);

        sentence = testsupport::speak("The quick brown fox jumps over the lazy dog.", *folder / "sentence.wav");
        if (!sentence) {
            return;
        }
        // The sentence said again and again, 65 s in all: three windows.
        auto buffer = AudioProcessor::loadAudio(sentence->string());
        const auto said = AudioProcessor::convertBufferToArray(buffer);
        std::vector<float> samples;
        while (samples.size() < 65u * 16000) {
            samples.insert(samples.end(), said.begin(), said.end());
            samples.insert(samples.end(), 8000, 0.0f);
        }
        samples.resize(65u * 16000);
        speech = *folder / "speech.wav";
        testsupport::writeAudioFile(*speech, 16000, {samples});
    }

    static void TearDownTestSuite() { folder.reset(); }

    void SetUp() override
    {
        if (!sentence) {
            GTEST_SKIP() << "espeak-ng is not available to generate speech";
        }
    }

    static CommandRun run(const Lines& arguments)
    {
        Lines all {"--model-folder", (*folder / "model").string(), "--tokenizer-folder", (*folder / "tokenizers").string(),
            "--language", "en"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::ostringstream out, err;
        CommandRun result;
        result.status = runTranscribeCommand(all, out, err);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    testsupport::TemporaryDirectory temporary;
    static inline std::unique_ptr<testsupport::TemporaryDirectory> folder;
    static inline std::optional<std::filesystem::path> sentence;
    static inline std::optional<std::filesystem::path> speech;
};

TEST_F(TranscribeCommand, SubtitlesHoldTheSpokenTextAndWordCuesOnRequest)
{
    const auto out = temporary / "out";
    auto write = [&](Lines arguments) {
        arguments.insert(arguments.end(), {"--output-dir", out.string(), "--quiet", speech->string()});
        return run(arguments).status;
    };
    ASSERT_EQ(write({"--format", "json"}), 0);
    const auto result = nlohmann::json::parse(testsupport::readFile(out / "speech.json"));
    ASSERT_FALSE(result.at("segments").empty());
    EXPECT_EQ(result.at("timings").at("totalDecodingFallbacks"), 0) << "the model must decide without sampling";

    std::string segmentCues;
    for (const std::string format : {"srt", "vtt"}) {
        SCOPED_TRACE(format);
        const auto file = out / ("speech." + format);
        ASSERT_EQ(write({"--format", format}), 0);
        const std::string clean = testsupport::readFile(file);
        EXPECT_GE(countOf(clean, " --> "), 1u) << clean;
        EXPECT_EQ(clean.find("<|"), std::string::npos) << clean;
        EXPECT_EQ(clean.find("\n\n\n"), std::string::npos) << "a cue without text: " << clean;
        if (format == "srt") {
            segmentCues = clean;
        }

        ASSERT_EQ(write({"--format", format, "--keep-special-tokens"}), 0);
        const std::string raw = testsupport::readFile(file);
        EXPECT_NE(raw.find("<|startoftranscript|>"), std::string::npos) << raw;
    }

    // With word timings the JSON lists the words, and the subtitles give each word a cue of its own.
    ASSERT_EQ(write({"--format", "json", "--word-timestamps"}), 0);
    const auto timed = nlohmann::json::parse(testsupport::readFile(out / "speech.json"));
    const WriteSRT times(out.string());
    std::vector<Cue> expected;
    for (const auto& segment : timed.at("segments")) {
        for (const auto& word : segment.value("words", nlohmann::json::array())) {
            const std::string text = trimmedText(word.at("word").get<std::string>());
            if (!text.empty()) {
                expected.push_back({times.formatTime(word.at("start").get<float>(), true, ","),
                    times.formatTime(word.at("end").get<float>(), true, ","), text});
            }
        }
    }
    ASSERT_FALSE(expected.empty()) << timed.dump();
    ASSERT_EQ(write({"--format", "srt", "--word-timestamps"}), 0);
    const auto wordCues = subRipCues(testsupport::readFile(out / "speech.srt"));
    EXPECT_EQ(wordCues, expected);
    EXPECT_GT(wordCues.size(), subRipCues(segmentCues).size());
}

TEST_F(TranscribeCommand, OutputFoldersAreMadeAndOutputsNeverShareAName)
{
    // A missing nested folder is made, and inputs with one file name get outputs of their own.
    std::filesystem::create_directories(temporary / "a");
    std::filesystem::create_directories(temporary / "b");
    const auto first = temporary / "a/x.wav";
    const auto second = temporary / "b/x.wav";
    const auto oddName = temporary / "b/line\nbreak\x1b.wav";
    for (const auto& copy : {first, second, oddName}) {
        std::filesystem::copy_file(*sentence, copy);
    }
    const auto out = temporary / "new/nested/out";
    const auto made = run({"--format", "vtt", "--output-dir", out.string(), first.string(), second.string(), oddName.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(out / "x.vtt"));
    EXPECT_TRUE(std::filesystem::is_regular_file(out / "x-2.vtt"));
    EXPECT_TRUE(std::filesystem::is_regular_file(out / "line\nbreak\x1b.vtt"));
    EXPECT_NE(made.err.find(second.string() + " is written as x-2.vtt"), std::string::npos) << made.err;
    // Names are printed on one line each, their control characters escaped.
    const std::string shownOdd = (temporary / "b/line\\nbreak\\x1B").string();
    EXPECT_EQ(linesOf(made.out),
        (Lines {(out / "x.vtt").string(), (out / "x-2.vtt").string(), (out / "line\\nbreak\\x1B.vtt").string()}));
    EXPECT_NE(made.err.find(shownOdd + ".wav: 100% of the audio"), std::string::npos) << made.err;
    EXPECT_EQ(made.err.find('\x1b'), std::string::npos);

    // A folder that cannot be made stops the run before anything is transcribed, with the reason.
    testsupport::writeFile(temporary / "file", "");
    const auto blocked = run({"--format", "srt", "--output-dir", (temporary / "file/out").string(), first.string()});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(linesOf(blocked.err), (Lines {"auris-transcribe: cannot create the output folder \"" + (temporary / "file/out").string()
                                          + "\": Not a directory"}));
    EXPECT_EQ(blocked.out, "");

    // A folder without write permission, which only binds users other than root.
    if (::geteuid() != 0) {
        const auto locked = temporary / "locked";
        std::filesystem::create_directories(locked);
        ::chmod(locked.c_str(), 0500);
        const auto refused = run({"--format", "srt", "--output-dir", locked.string(), first.string()});
        ::chmod(locked.c_str(), 0700);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(linesOf(refused.err),
            (Lines {"auris-transcribe: cannot write in the output folder \"" + locked.string() + "\": Permission denied"}));
    }
}

TEST_F(TranscribeCommand, ExitStatusesTellHelpUsageAndFailedFilesApart)
{
    const auto help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("usage: auris-transcribe")) << help.out;
    EXPECT_NE(help.out.find("--word-timestamps"), std::string::npos);
    EXPECT_EQ(help.err, "");

    std::ostringstream out, err;
    EXPECT_EQ(runTranscribeCommand({}, out, err), 2);
    EXPECT_TRUE(err.str().starts_with("auris-transcribe: no audio file given\nusage: auris-transcribe")) << err.str();
    for (const Lines& bad : {Lines {}, Lines {"--format", "doc", "x.wav"}, Lines {"--model", "tiny", "x.wav"},
             Lines {"--no-such-option", "x.wav"}, Lines {"--workers"}}) {
        const auto refused = run(bad);
        EXPECT_EQ(refused.status, 2) << testing::PrintToString(bad);
        EXPECT_NE(refused.err.find("usage: auris-transcribe"), std::string::npos);
    }

    // Each failed file gets one line and the others are still transcribed; the status tells.
    const auto missing = (temporary / "missing.wav").string();
    const auto unreadable = temporary / "noise.wav";
    testsupport::writeFile(unreadable, "not audio\nat all");
    const auto mixed = run({"--quiet", missing, sentence->string(), unreadable.string()});
    EXPECT_EQ(mixed.status, 1);
    const Lines errors = linesOf(mixed.err);
    ASSERT_EQ(errors.size(), 2u) << mixed.err;
    EXPECT_TRUE(errors[0].starts_with("auris-transcribe: " + missing + ": ")) << errors[0];
    EXPECT_TRUE(errors[1].starts_with("auris-transcribe: " + unreadable.string() + ": ")) << errors[1];
    EXPECT_NE(mixed.out.find("# " + sentence->string() + "\n"), std::string::npos);

    EXPECT_EQ(run({"--quiet", sentence->string()}).status, 0);
}

TEST_F(TranscribeCommand, ProgressGoesForwardFromNothingToAll)
{
    for (const std::string chunking : {"vad", "none"}) {
        SCOPED_TRACE(chunking);
        const auto shown = run({"--chunking", chunking, speech->string()});
        ASSERT_EQ(shown.status, 0) << shown.err;
        const std::regex progressLine(R"((.*): (\d+)% of the audio, \d+:\d\d elapsed(, about \d+:\d\d left)?)");
        std::vector<int> percentages;
        for (const auto& line : linesOf(shown.err)) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, progressLine)) << line;
            EXPECT_EQ(match[1], speech->string());
            percentages.push_back(std::stoi(match[2]));
        }
        ASSERT_GE(percentages.size(), 2u);
        EXPECT_EQ(percentages.front(), 0);
        EXPECT_EQ(percentages.back(), 100);
        EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end())) << shown.err;
        EXPECT_EQ(std::adjacent_find(percentages.begin(), percentages.end()), percentages.end()) << shown.err;
    }
    EXPECT_EQ(run({"--quiet", speech->string()}).err, "");
}
