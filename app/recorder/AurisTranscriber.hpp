#pragma once

#include "app/recorder/SpeechTranscriber.hpp"

#include "Auris/Engine/Auris.hpp"

#include <memory>

namespace parlino {

// The real engine behind the recorder: an `Auris` made with the recorder's settings.
class AurisTranscriber final : public SpeechTranscriber {
public:
    explicit AurisTranscriber(std::unique_ptr<auris::Auris> engine);

    // The engine the recorder asks for: verbose debug logging, prewarmed, loaded, downloaded when
    // missing, in the foreground; mel on CPU and GPU, the encoder on all units, the decoder on CPU
    // and Neural Engine, the prefill on the CPU.
    static auris::AurisConfig configuration(const TranscriberRequest& request, std::stop_token stopToken);
    static std::shared_ptr<SpeechTranscriber> create(const TranscriberRequest& request, std::stop_token stopToken);

    std::vector<auris::TranscriptionResult> transcribe(const std::string& audioPath,
        const auris::DecodingOptions& decodeOptions, const ProgressCallback& callback,
        std::stop_token stopToken) override;

    auris::Auris& engine() { return *engine_; }

private:
    std::unique_ptr<auris::Auris> engine_;
};

} // namespace parlino
