#include "Auris/Engine/Auris.hpp"

#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Engine/TokenizerLoading.hpp"
#include "Auris/Features/AudioEncoder.hpp"
#include "Auris/Features/FeatureExtractor.hpp"
#include "Auris/Segments/SegmentSeeker.hpp"
#include "Auris/Text/TextDecoder.hpp"
#include "platform/system/SystemInfo.hpp"

#include <exception>
#include <stdexcept>

namespace auris {

namespace {

// The engine's tokenizer loading, as one function (it is overloaded).
std::shared_ptr<const WhisperTokenizer> loadTokenizerForVariant(
    ModelVariant variant, const std::optional<std::filesystem::path>& tokenizerFolder, bool useBackgroundSession)
{
    return loadTokenizer(variant, tokenizerFolder, useBackgroundSession);
}

template<typename Component>
std::shared_ptr<Component> required(std::shared_ptr<Component> component, const char* name)
{
    if (!component) {
        throw std::invalid_argument(std::string("The engine needs a ") + name);
    }
    return component;
}

} // namespace

Auris::Auris(AurisConfig config)
    : modelCompute_(config.computeOptions.value_or(ModelComputeOptions()))
    , audioProcessor_(config.audioProcessor ? std::move(config.audioProcessor) : std::make_shared<AudioProcessor>())
    , featureExtractor_(config.featureExtractor ? std::move(config.featureExtractor) : std::make_shared<FeatureExtractor>())
    , audioEncoder_(config.audioEncoder ? std::move(config.audioEncoder) : std::make_shared<AudioEncoder>())
    , textDecoder_(config.textDecoder ? std::move(config.textDecoder) : std::make_shared<TextDecoder>())
    , logitsFilters_(config.logitsFilters.value_or(std::vector<std::shared_ptr<LogitsFiltering>> {}))
    , segmentSeeker_(config.segmentSeeker ? std::move(config.segmentSeeker) : std::make_shared<SegmentSeeker>())
    , tokenizerFolder_(std::move(config.tokenizerFolder))
    , useBackgroundDownloadSession_(config.useBackgroundDownloadSession)
    , tokenizerLoader_(config.tokenizerLoader ? std::move(config.tokenizerLoader) : TokenizerLoader(loadTokenizerForVariant))
{
    Logging::shared().setLogLevel(config.verbose ? config.logLevel : Logging::LogLevel::none);

    settleModelFolder(config.model, config.downloadBase, config.modelRepo, config.modelFolder, config.download,
        config.stopToken, config.downloadProgress);

    if (config.prewarm.value_or(false)) {
        Logging::info("Prewarming models...");
        loadModels(true);
    }
    if (config.load.value_or(config.modelFolder.has_value())) {
        Logging::info("Loading models...");
        loadModels(false);
    }
}

Auris::~Auris()
{
    if (auto processor = audioProcessor()) {
        processor->stopRecording();
    }
}

void Auris::settleModelFolder(const std::optional<std::string>& model, const std::optional<std::filesystem::path>& downloadBase,
    const std::optional<std::string>& modelRepo, const std::optional<std::string>& modelFolder, bool download,
    std::stop_token stopToken, const DownloadProgressCallback& progressCallback)
{
    const std::string modelName = model ? *model : recommendedModels().defaultModel;
    if (modelFolder) {
        setModelFolder(std::filesystem::absolute(std::filesystem::path(*modelFolder)));
        return;
    }
    if (!download) {
        return;
    }
    std::filesystem::path downloaded;
    try {
        downloaded = Auris::download(modelName, downloadBase, useBackgroundDownloadSession_,
            modelRepo.value_or(defaultModelRepo), progressCallback, stopToken);
    } catch (const std::exception& error) {
        // The cause stays attached, so that callers can tell a missing connection from a missing model.
        std::throw_with_nested(WhisperError::modelsUnavailable(
            std::string("Model not found. Please check the model or repo name and try again.\nError: ") + error.what()));
    }
    setModelFolder(downloaded);
}

void Auris::setupModels(const std::optional<std::string>& model, const std::optional<std::filesystem::path>& downloadBase,
    const std::optional<std::string>& modelRepo, const std::optional<std::string>& modelFolder, bool download)
{
    settleModelFolder(model, downloadBase, modelRepo, modelFolder, download);
}

void Auris::clearState()
{
    audioProcessor()->stopRecording();
    std::lock_guard lock(mutex_);
    currentTimings_ = TranscriptionTimings();
}

void Auris::loggingCallback(Logging::Callback callback)
{
    Logging::shared().setLoggingCallback(std::move(callback));
}

ModelSupport Auris::recommendedModels()
{
    const std::string device = deviceName();
    Logging::debug("Running on " + device);
    return modelSupport(device);
}

std::string Auris::deviceName()
{
    return platform::SystemInfo::machineName();
}

ModelVariant Auris::modelVariant() const
{
    std::lock_guard lock(mutex_);
    return modelVariant_;
}

ModelState Auris::modelState() const
{
    std::lock_guard lock(mutex_);
    return modelState_;
}

void Auris::setModelState(ModelState state)
{
    std::lock_guard lock(mutex_);
    modelState_ = state;
}

ModelComputeOptions Auris::modelCompute() const
{
    std::lock_guard lock(mutex_);
    return modelCompute_;
}

void Auris::setModelCompute(const ModelComputeOptions& modelCompute)
{
    std::lock_guard lock(mutex_);
    modelCompute_ = modelCompute;
}

std::shared_ptr<const WhisperTokenizer> Auris::tokenizer() const
{
    std::lock_guard lock(mutex_);
    return tokenizer_;
}

void Auris::setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer)
{
    std::lock_guard lock(mutex_);
    tokenizer_ = std::move(tokenizer);
}

std::shared_ptr<AudioProcessing> Auris::audioProcessor() const
{
    std::lock_guard lock(mutex_);
    return audioProcessor_;
}

void Auris::setAudioProcessor(std::shared_ptr<AudioProcessing> audioProcessor)
{
    auto component = required(std::move(audioProcessor), "audio processor");
    std::lock_guard lock(mutex_);
    audioProcessor_ = std::move(component);
}

std::shared_ptr<FeatureExtracting> Auris::featureExtractor() const
{
    std::lock_guard lock(mutex_);
    return featureExtractor_;
}

void Auris::setFeatureExtractor(std::shared_ptr<FeatureExtracting> featureExtractor)
{
    auto component = required(std::move(featureExtractor), "feature extractor");
    std::lock_guard lock(mutex_);
    featureExtractor_ = std::move(component);
}

std::shared_ptr<AudioEncoding> Auris::audioEncoder() const
{
    std::lock_guard lock(mutex_);
    return audioEncoder_;
}

void Auris::setAudioEncoder(std::shared_ptr<AudioEncoding> audioEncoder)
{
    auto component = required(std::move(audioEncoder), "audio encoder");
    std::lock_guard lock(mutex_);
    audioEncoder_ = std::move(component);
}

std::shared_ptr<TextDecoding> Auris::textDecoder() const
{
    std::lock_guard lock(mutex_);
    return textDecoder_;
}

void Auris::setTextDecoder(std::shared_ptr<TextDecoding> textDecoder)
{
    auto component = required(std::move(textDecoder), "text decoder");
    std::lock_guard lock(mutex_);
    textDecoder_ = std::move(component);
}

std::vector<std::shared_ptr<LogitsFiltering>> Auris::logitsFilters() const
{
    std::lock_guard lock(mutex_);
    return logitsFilters_;
}

void Auris::setLogitsFilters(std::vector<std::shared_ptr<LogitsFiltering>> logitsFilters)
{
    std::lock_guard lock(mutex_);
    logitsFilters_ = std::move(logitsFilters);
}

std::shared_ptr<SegmentSeeking> Auris::segmentSeeker() const
{
    std::lock_guard lock(mutex_);
    return segmentSeeker_;
}

void Auris::setSegmentSeeker(std::shared_ptr<SegmentSeeking> segmentSeeker)
{
    auto component = required(std::move(segmentSeeker), "segment seeker");
    std::lock_guard lock(mutex_);
    segmentSeeker_ = std::move(component);
}

TranscriptionTimings Auris::currentTimings() const
{
    std::lock_guard lock(mutex_);
    return currentTimings_;
}

std::shared_ptr<hub::Progress> Auris::progress() const
{
    std::lock_guard lock(mutex_);
    return progress_;
}

std::optional<std::filesystem::path> Auris::modelFolder() const
{
    std::lock_guard lock(mutex_);
    return modelFolder_;
}

void Auris::setModelFolder(std::optional<std::filesystem::path> modelFolder)
{
    std::lock_guard lock(mutex_);
    modelFolder_ = std::move(modelFolder);
}

std::optional<std::filesystem::path> Auris::tokenizerFolder() const
{
    std::lock_guard lock(mutex_);
    return tokenizerFolder_;
}

void Auris::setTokenizerFolder(std::optional<std::filesystem::path> tokenizerFolder)
{
    std::lock_guard lock(mutex_);
    tokenizerFolder_ = std::move(tokenizerFolder);
}

} // namespace auris
