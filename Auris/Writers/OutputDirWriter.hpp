#pragma once

#include "Auris/Writers/ResultWriting.hpp"

#include <string>

namespace auris {

// A writer whose folder is fixed when it is made.
class OutputDirWriter : public ResultWriting {
public:
    explicit OutputDirWriter(std::string outputDir)
        : outputDir_(std::move(outputDir))
    {
    }

    const std::string& outputDir() const override { return outputDir_; }

private:
    std::string outputDir_;
};

} // namespace auris
