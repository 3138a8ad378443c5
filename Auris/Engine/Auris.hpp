#pragma once

#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Core/ModelTypes.hpp"
#include "Auris/Core/Outcome.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"
#include "Auris/Engine/AurisConfig.hpp"
#include "Auris/Engine/BoundedWorkers.hpp"
#include "Auris/Engine/ModelSupport.hpp"
#include "Hub/Progress.hpp"
#include "platform/ml/ComputeGate.hpp"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

namespace auris {

// The language a recording is spoken in, and the probability of every language the decoder scored.
struct LanguageDetection {
    std::string language;
    std::map<std::string, float> langProbs;
};

// The speech-recognition engine: finds, downloads, prewarms and loads a folder of models, loads the
// matching tokenizer, detects languages and transcribes files and sample arrays.
//
// Every operation is synchronous and safe to call from several threads. Model loading runs one at a
// time, and transcriptions that find the models unloaded share one load. Batches run on the caller's
// thread plus helper threads, never more than the machine has cores.
class Auris {
public:
    static constexpr int sampleRate = 16000;
    static constexpr int hopLength = 160;
    static constexpr int chunkLength = 30;
    static constexpr int windowSamples = 480000;
    static constexpr float secondsPerTimeToken = 0.02f;

    static constexpr const char* defaultModelRepo = "aurislabs/auris-coreml";
    static constexpr const char* melBundleName = "MelSpectrogram.mlmodelc";
    static constexpr const char* audioEncoderBundleName = "AudioEncoder.mlmodelc";
    static constexpr const char* textDecoderBundleName = "TextDecoder.mlmodelc";
    static constexpr const char* prefillBundleName = "TextDecoderContextPrefill.mlmodelc";
    // Vocabulary size of the English-only models.
    static constexpr int englishOnlyLogitsSize = 51864;
    // Samples of silence the voice-activity chunker keeps around each cut.
    static constexpr int chunkerWindowPadding = 16000;
    // Frames moved at a time when a loaded buffer becomes a sample list.
    static constexpr int conversionChunkSize = 1024;

    using ProgressCallback = TextDecoding::ProgressCallback;
    using TranscriptionOutcome = Outcome<std::vector<TranscriptionResult>>;
    using DownloadProgressCallback = std::function<void(const hub::Progress&)>;

    // Configures the engine-wide logger, settles the model name, finds or downloads the model folder,
    // and prewarms and loads the models as asked. A download failure becomes
    // WhisperError::modelsUnavailable ("Model not found. ..."); loading failures pass unchanged.
    explicit Auris(AurisConfig config = {});
    // Stops any live capture of the audio processor.
    ~Auris();
    Auris(const Auris&) = delete;
    Auris& operator=(const Auris&) = delete;

    // --- State ---

    ModelVariant modelVariant() const;
    ModelState modelState() const;
    ModelComputeOptions modelCompute() const;
    void setModelCompute(const ModelComputeOptions& modelCompute);
    std::shared_ptr<const WhisperTokenizer> tokenizer() const;
    void setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer);

    // Components are shared with whoever passed them in; a null component throws std::invalid_argument.
    std::shared_ptr<AudioProcessing> audioProcessor() const;
    void setAudioProcessor(std::shared_ptr<AudioProcessing> audioProcessor);
    std::shared_ptr<FeatureExtracting> featureExtractor() const;
    void setFeatureExtractor(std::shared_ptr<FeatureExtracting> featureExtractor);
    std::shared_ptr<AudioEncoding> audioEncoder() const;
    void setAudioEncoder(std::shared_ptr<AudioEncoding> audioEncoder);
    std::shared_ptr<TextDecoding> textDecoder() const;
    void setTextDecoder(std::shared_ptr<TextDecoding> textDecoder);
    std::vector<std::shared_ptr<LogitsFiltering>> logitsFilters() const;
    void setLogitsFilters(std::vector<std::shared_ptr<LogitsFiltering>> logitsFilters);
    std::shared_ptr<SegmentSeeking> segmentSeeker() const;
    void setSegmentSeeker(std::shared_ptr<SegmentSeeking> segmentSeeker);

    TranscriptionTimings currentTimings() const;
    // Collects one child per transcription run; replaced by a fresh object after a finished run or a
    // cancellation, so read it again for the next run.
    std::shared_ptr<hub::Progress> progress() const;
    std::optional<std::filesystem::path> modelFolder() const;
    void setModelFolder(std::optional<std::filesystem::path> modelFolder);
    std::optional<std::filesystem::path> tokenizerFolder() const;
    void setTokenizerFolder(std::optional<std::filesystem::path> tokenizerFolder);
    bool useBackgroundDownloadSession() const { return useBackgroundDownloadSession_; }

    // --- Set-up ---

    // Settles the model folder as creation does (given folder, or a download when asked); neither
    // prewarms nor loads.
    void setupModels(const std::optional<std::string>& model, const std::optional<std::filesystem::path>& downloadBase,
        const std::optional<std::string>& modelRepo, const std::optional<std::string>& modelFolder, bool download);
    // Stops live capture and starts fresh timings; models and tokenizer stay.
    void clearState();
    // Where the engine's log lines go; an empty function sends them to the system log again.
    void loggingCallback(Logging::Callback callback);

    static ModelSupport recommendedModels();
    // The machine field of uname(2).
    static std::string deviceName();

    // --- Models ---

    // Finds the one folder named (or ending in) `variant` in the repository and downloads it; returns
    // the local folder. When the hub cannot be reached, a folder downloaded before is used. A stop
    // request ends the download with NetError::Code::cancelled.
    static std::filesystem::path download(const std::string& variant,
        const std::optional<std::filesystem::path>& downloadBase = std::nullopt, bool useBackgroundSession = false,
        const std::string& from = defaultModelRepo, const DownloadProgressCallback& progressCallback = {},
        std::stop_token stopToken = {});
    // The model folder names of a repository whose files match any of the patterns.
    static std::vector<std::string> fetchAvailableModels(const std::string& from, const std::vector<std::string>& matching);
    // Model folder names of the file paths, ordered by model size, then by name.
    static std::vector<std::string> formatModelFiles(const std::vector<std::string>& modelFiles);

    // Loads the models of `modelFolder` one after another, then (unless prewarming) detects the model
    // size and loads its tokenizer. Prewarming only has each model load once and let it go.
    void loadModels(bool prewarmMode = false);
    void prewarmModels() { loadModels(true); }
    void unloadModels();

    // --- Language detection ---

    LanguageDetection detectLanguage(const std::string& audioPath);
    // Judges the first 30 s (zero-padded when shorter). The name is the design's own spelling.
    LanguageDetection detectLangauge(const std::vector<float>& audioArray);

    // --- Transcription ---
    // A stop request is honoured before each run and inside it (CancellationError).

    // One entry per path: the path's results, or absent where it failed.
    std::vector<std::optional<std::vector<TranscriptionResult>>> transcribe(const std::vector<std::string>& audioPaths,
        const std::optional<DecodingOptions>& decodeOptions = std::nullopt, const ProgressCallback& callback = {},
        std::stop_token stopToken = {});
    // One entry per path: the path's results or its error.
    std::vector<TranscriptionOutcome> transcribeWithResults(const std::vector<std::string>& audioPaths,
        const std::optional<DecodingOptions>& decodeOptions = std::nullopt, const ProgressCallback& callback = {},
        std::stop_token stopToken = {});
    std::vector<std::optional<std::vector<TranscriptionResult>>> transcribe(
        const std::vector<std::vector<float>>& audioArrays, const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
        const ProgressCallback& callback = {}, std::stop_token stopToken = {});
    std::vector<TranscriptionOutcome> transcribeWithResults(const std::vector<std::vector<float>>& audioArrays,
        const std::optional<DecodingOptions>& decodeOptions = std::nullopt, const ProgressCallback& callback = {},
        std::stop_token stopToken = {});
    // Each array with its own options, in batches of the largest worker count (0: one batch of all;
    // negative: nothing runs). Outcomes come back in input order; unequal list lengths give one failure.
    std::vector<TranscriptionOutcome> transcribeWithOptions(const std::vector<std::vector<float>>& audioArrays,
        const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray, const ProgressCallback& callback = {},
        std::stop_token stopToken = {});

    // The file's results (one per voice-activity chunk on the chunking road).
    std::vector<TranscriptionResult> transcribe(const std::string& audioPath,
        const std::optional<DecodingOptions>& decodeOptions = std::nullopt, const ProgressCallback& callback = {},
        std::stop_token stopToken = {});
    std::optional<TranscriptionResult> transcribeFirst(const std::string& audioPath,
        const std::optional<DecodingOptions>& decodeOptions = std::nullopt, const ProgressCallback& callback = {},
        std::stop_token stopToken = {});
    // Audio longer than one window with `chunkingStrategy` vad is cut at silences and the chunks are
    // transcribed as a batch; anything else is one run.
    std::vector<TranscriptionResult> transcribe(const std::vector<float>& audioArray,
        const std::optional<DecodingOptions>& decodeOptions = std::nullopt, const ProgressCallback& callback = {},
        std::stop_token stopToken = {});
    std::optional<TranscriptionResult> transcribeFirst(const std::vector<float>& audioArray,
        const std::optional<DecodingOptions>& decodeOptions = std::nullopt, const ProgressCallback& callback = {},
        std::stop_token stopToken = {});

private:
    void settleModelFolder(const std::optional<std::string>& model, const std::optional<std::filesystem::path>& downloadBase,
        const std::optional<std::string>& modelRepo, const std::optional<std::string>& modelFolder, bool download,
        std::stop_token stopToken = {}, const DownloadProgressCallback& progressCallback = {});
    void loadModelsHoldingLoadLock(bool prewarmMode);
    // Loads the models unless they are loaded; concurrent callers share one load.
    void ensureModelsLoaded();
    // How many windows the loaded decoder steps together; no bound before it is loaded or when it
    // steps each window alone.
    std::size_t decoderBatchCapacity() const;
    void setModelState(ModelState state);
    // The transcription roads work on views of the caller's samples: a long recording is never
    // copied, not even into its chunks.
    std::vector<TranscriptionResult> transcribeSamples(std::span<const float> audio,
        const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken);
    // With `chunksOfOneAudio` the progress of every array also counts the others' audio.
    std::vector<TranscriptionOutcome> transcribeEach(const std::vector<std::span<const float>>& audios,
        const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray, const ProgressCallback& callback,
        std::stop_token stopToken, bool chunksOfOneAudio = false);
    std::vector<TranscriptionResult> runTranscribeTask(std::span<const float> audio,
        const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken);
    std::vector<TranscriptionResult> transcribeInChunks(std::span<const float> audio,
        const DecodingOptions& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken);

    mutable std::mutex mutex_;
    ModelVariant modelVariant_ = ModelVariant::tiny;
    ModelState modelState_ = ModelState::unloaded;
    ModelComputeOptions modelCompute_;
    std::shared_ptr<const WhisperTokenizer> tokenizer_;
    std::shared_ptr<AudioProcessing> audioProcessor_;
    std::shared_ptr<FeatureExtracting> featureExtractor_;
    std::shared_ptr<AudioEncoding> audioEncoder_;
    std::shared_ptr<TextDecoding> textDecoder_;
    std::vector<std::shared_ptr<LogitsFiltering>> logitsFilters_;
    std::shared_ptr<SegmentSeeking> segmentSeeker_;
    TranscriptionTimings currentTimings_;
    std::shared_ptr<hub::Progress> progress_ = std::make_shared<hub::Progress>();
    std::optional<std::filesystem::path> modelFolder_;
    std::optional<std::filesystem::path> tokenizerFolder_;
    const bool useBackgroundDownloadSession_;

    TokenizerLoader tokenizerLoader_;
    std::mutex loadMutex_;
    BoundedWorkers workers_ {BoundedWorkers::machineHelperLimit()};
    // The models compute one at a time: chunks transcribed side by side share the cores that way,
    // each stage with all of them, while their windows' decoder steps run together.
    std::shared_ptr<ml::ComputeGate> computeGate_ = std::make_shared<ml::ComputeGate>();
};

} // namespace auris
