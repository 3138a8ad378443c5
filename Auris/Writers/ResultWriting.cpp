#include "Auris/Writers/ResultWriting.hpp"

#include "Auris/Utilities/TextFormatting.hpp"
#include "platform/system/AtomicFileWriter.hpp"

#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace auris {

std::string ResultWriting::formatTime(float seconds, bool alwaysIncludeHours, const std::string& decimalMarker) const
{
    // Whole milliseconds first, so that 2.3 s reads 2.300 and not 2.299 as float truncation gives.
    constexpr double maximumMilliseconds = 1e15;
    double milliseconds = std::round(static_cast<double>(seconds) * 1000.0);
    if (!(milliseconds > 0)) milliseconds = 0;
    if (milliseconds > maximumMilliseconds) milliseconds = maximumMilliseconds;
    const auto total = static_cast<long long>(milliseconds);
    const long long hours = total / 3'600'000;
    const long long minutes = total / 60'000 % 60;
    const long long secs = total / 1000 % 60;
    const long long millis = total % 1000;
    if (hours < 1 && !alwaysIncludeHours) {
        return formatString("%02lld:%02lld", minutes, secs) + decimalMarker + formatString("%03lld", millis);
    }
    return formatString("%02lld:%02lld:%02lld", hours, minutes, secs) + decimalMarker + formatString("%03lld", millis);
}

std::string ResultWriting::formatSegment(int index, float start, float end, const std::string& text) const
{
    return std::to_string(index) + "\n" + formatTime(start, true, ",") + " --> " + formatTime(end, true, ",") + "\n"
        + text + "\n\n";
}

std::string ResultWriting::formatTiming(float start, float end, const std::string& text) const
{
    return formatTime(start, false, ".") + " --> " + formatTime(end, false, ".") + "\n" + text + "\n\n";
}

void ResultWriting::forEachCue(
    const TranscriptionResult& result, const std::function<void(float start, float end, const std::string& text)>& cue)
{
    for (const auto& segment : result.segments) {
        if (segment.words && !segment.words->empty()) {
            for (const auto& word : *segment.words) {
                cue(word.start, word.end, word.word);
            }
        } else {
            cue(segment.start, segment.end, segment.text);
        }
    }
}

Outcome<std::string> ResultWriting::writeFile(
    const std::string& fileName, const std::string& extension, const std::string& contents) const
{
    try {
        // The name is one path component: no folders, nothing that leaves the output folder.
        if (fileName.empty() || fileName == "." || fileName == ".." || fileName.find('/') != std::string::npos
            || fileName.find('\0') != std::string::npos) {
            throw std::invalid_argument("invalid output file name \"" + fileName + "\"");
        }
        const auto path = std::filesystem::absolute(std::filesystem::path(outputDir()) / (fileName + extension));
        // A temporary file of an unpredictable name, created exclusively and never through a
        // link planted in the folder, then renamed over the destination.
        platform::AtomicFileWriter::writeFile(path, contents);
        return Outcome<std::string>::success(path.string());
    } catch (...) {
        return Outcome<std::string>::failure(std::current_exception());
    }
}

} // namespace auris
