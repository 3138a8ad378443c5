#pragma once

#include "Auris/Writers/OutputDirWriter.hpp"

namespace auris {

class WriteJSON : public OutputDirWriter {
public:
    using OutputDirWriter::OutputDirWriter;

    // Writes "<name>.json": the whole result, pretty-printed.
    Outcome<std::string> write(const TranscriptionResult& result, const std::string& fileName, const Options& options = std::nullopt) override;
};

} // namespace auris
