#include "app/recorder/AurisTranscriber.hpp"

namespace parlino {

AurisTranscriber::AurisTranscriber(std::unique_ptr<auris::Auris> engine)
    : engine_(std::move(engine))
{
}

auris::AurisConfig AurisTranscriber::configuration(const TranscriberRequest& request, std::stop_token stopToken)
{
    return auris::AurisConfig {
        .model = request.model,
        .downloadBase = request.downloadBase,
        .tokenizerFolder = request.downloadBase,
        .computeOptions = auris::ModelComputeOptions(ml::ComputeUnits::cpuAndGPU, ml::ComputeUnits::all,
            ml::ComputeUnits::cpuAndNeuralEngine, ml::ComputeUnits::cpuOnly),
        .verbose = true,
        .logLevel = auris::Logging::LogLevel::debug,
        .prewarm = true,
        .load = true,
        .download = true,
        .useBackgroundDownloadSession = false,
        .stopToken = std::move(stopToken),
        .downloadProgress = request.downloadProgress
            ? std::function<void(const hub::Progress&)>(
                  [report = request.downloadProgress](const hub::Progress& progress) { report(progress.fractionCompleted()); })
            : std::function<void(const hub::Progress&)>(),
    };
}

std::shared_ptr<SpeechTranscriber> AurisTranscriber::create(const TranscriberRequest& request, std::stop_token stopToken)
{
    return std::make_shared<AurisTranscriber>(std::make_unique<auris::Auris>(configuration(request, std::move(stopToken))));
}

std::vector<auris::TranscriptionResult> AurisTranscriber::transcribe(const std::string& audioPath,
    const auris::DecodingOptions& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    return engine_->transcribe(audioPath, decodeOptions, callback, std::move(stopToken));
}

} // namespace parlino
