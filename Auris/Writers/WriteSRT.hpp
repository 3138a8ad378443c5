#pragma once

#include "Auris/Writers/OutputDirWriter.hpp"

namespace auris {

class WriteSRT : public OutputDirWriter {
public:
    using OutputDirWriter::OutputDirWriter;

    // Writes "<name>.srt": one numbered cue per word of segments with words, else per segment.
    Outcome<std::string> write(const TranscriptionResult& result, const std::string& fileName, const Options& options = std::nullopt) override;
};

} // namespace auris
