#pragma once

#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"
#include "Auris/Text/TextDecoding.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace parlino {

// The speech engine as the recorder uses it: one loaded model that transcribes files. The recorder
// holds it through a shared pointer, so a running transcription keeps it alive across a model
// switch or a cancel. Called from worker threads, possibly several at once.
class SpeechTranscriber {
public:
    using ProgressCallback = auris::TextDecoding::ProgressCallback;

    virtual ~SpeechTranscriber() = default;

    // The file's results, one per voice-activity chunk. Throws the engine's errors; a stop request
    // may end it early with a cancellation error.
    virtual std::vector<auris::TranscriptionResult> transcribe(const std::string& audioPath,
        const auris::DecodingOptions& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
        = 0;
};

// What an engine is created for.
struct TranscriberRequest {
    // A model id that passed WhisperRecorder::isValidModelId.
    std::string model;
    // Models and tokenizers are downloaded below it.
    std::filesystem::path downloadBase;
    // Told the model download's fraction done (0 to 1) as it goes, on the creating thread.
    std::function<void(double)> downloadProgress;
};

// Creates an engine ready to transcribe: finds or downloads, prewarms and loads the model. Runs on a
// worker thread; throws when the model cannot be had. A stop request should end a download early.
using TranscriberFactory
    = std::function<std::shared_ptr<SpeechTranscriber>(const TranscriberRequest& request, std::stop_token stopToken)>;

} // namespace parlino
