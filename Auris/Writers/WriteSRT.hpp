#pragma once

#include "Auris/Writers/ResultWriting.hpp"

namespace auris {

class WriteSRT : public ResultWriting {
public:
    explicit WriteSRT(std::string outputDir)
        : outputDir_(std::move(outputDir))
    {
    }

    const std::string& outputDir() const override { return outputDir_; }
    // Writes "<name>.srt": one numbered cue per word of segments with words, else per segment.
    Outcome<std::string> write(const TranscriptionResult& result, const std::string& fileName, const Options& options = std::nullopt) override;

private:
    std::string outputDir_;
};

} // namespace auris
