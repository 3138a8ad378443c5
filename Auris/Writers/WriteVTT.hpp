#pragma once

#include "Auris/Writers/OutputDirWriter.hpp"

namespace auris {

class WriteVTT : public OutputDirWriter {
public:
    using OutputDirWriter::OutputDirWriter;

    // Writes "<name>.vtt": the "WEBVTT" header, then cues chosen as for SubRip.
    Outcome<std::string> write(const TranscriptionResult& result, const std::string& fileName, const Options& options = std::nullopt) override;
};

} // namespace auris
