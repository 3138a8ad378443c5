#pragma once

#include <filesystem>
#include <string>

namespace auris {

// "%8.2f ms / %6.0f runs (%8.2f ms/run) %5.2f%%" of a stage time (seconds), its run count and the
// full pipeline time in milliseconds.
std::string formatTimingLine(double seconds, double runs, double fullPipelineMilliseconds);

// printf-style formatting into a std::string.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A leading "~" becomes the home folder; relative paths are taken from the current folder.
std::string resolveAbsolutePath(const std::string& path);

} // namespace auris
