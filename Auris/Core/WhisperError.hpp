#pragma once

#include <stdexcept>
#include <string>

namespace auris {

// The engine's error: a case and the message the throwing code chose.
class WhisperError : public std::runtime_error {
public:
    enum class Kind {
        tokenizerUnavailable,
        modelsUnavailable,
        prefillFailed,
        audioProcessingFailed,
        decodingLogitsFailed,
        segmentingFailed,
        loadAudioFailed,
        prepareDecoderInputsFailed,
        transcriptionFailed,
        decodingFailed,
        microphoneUnavailable,
    };

    WhisperError(Kind kind, const std::string& message)
        : std::runtime_error(message)
        , kind_(kind)
    {
    }

    static WhisperError tokenizerUnavailable(const std::string& m = "Tokenizer is unavailable") { return {Kind::tokenizerUnavailable, m}; }
    static WhisperError modelsUnavailable(const std::string& m = "Models are unavailable") { return {Kind::modelsUnavailable, m}; }
    static WhisperError prefillFailed(const std::string& m = "Prefill failed") { return {Kind::prefillFailed, m}; }
    static WhisperError audioProcessingFailed(const std::string& m = "Audio processing failed") { return {Kind::audioProcessingFailed, m}; }
    static WhisperError decodingLogitsFailed(const std::string& m = "Unable to decode logits") { return {Kind::decodingLogitsFailed, m}; }
    static WhisperError segmentingFailed(const std::string& m = "Segmenting failed") { return {Kind::segmentingFailed, m}; }
    static WhisperError loadAudioFailed(const std::string& m = "Failed to load audio") { return {Kind::loadAudioFailed, m}; }
    static WhisperError prepareDecoderInputsFailed(const std::string& m = "Failed to prepare decoder inputs") { return {Kind::prepareDecoderInputsFailed, m}; }
    static WhisperError transcriptionFailed(const std::string& m = "Transcription failed") { return {Kind::transcriptionFailed, m}; }
    static WhisperError decodingFailed(const std::string& m = "Decoding failed") { return {Kind::decodingFailed, m}; }
    static WhisperError microphoneUnavailable(const std::string& m = "No available microphone to record or stream") { return {Kind::microphoneUnavailable, m}; }

    Kind kind() const { return kind_; }
    std::string message() const { return what(); }
    // The message, after writing it to the engine log at error level.
    std::string errorDescription() const;

    friend bool operator==(const WhisperError& a, const WhisperError& b)
    {
        return a.kind_ == b.kind_ && std::string(a.what()) == b.what();
    }

private:
    Kind kind_;
};

} // namespace auris
