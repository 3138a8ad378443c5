#pragma once

#include "Auris/Writers/ResultWriting.hpp"

namespace auris {

class WriteVTT : public ResultWriting {
public:
    explicit WriteVTT(std::string outputDir)
        : outputDir_(std::move(outputDir))
    {
    }

    const std::string& outputDir() const override { return outputDir_; }
    // Writes "<name>.vtt": the "WEBVTT" header, then cues chosen as for SubRip.
    Outcome<std::string> write(const TranscriptionResult& result, const std::string& fileName, const Options& options = std::nullopt) override;

private:
    std::string outputDir_;
};

} // namespace auris
