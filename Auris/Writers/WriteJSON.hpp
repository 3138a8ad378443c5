#pragma once

#include "Auris/Writers/ResultWriting.hpp"

namespace auris {

class WriteJSON : public ResultWriting {
public:
    explicit WriteJSON(std::string outputDir)
        : outputDir_(std::move(outputDir))
    {
    }

    const std::string& outputDir() const override { return outputDir_; }
    // Writes "<name>.json": the whole result, pretty-printed.
    Outcome<std::string> write(const TranscriptionResult& result, const std::string& fileName, const Options& options = std::nullopt) override;

private:
    std::string outputDir_;
};

} // namespace auris
