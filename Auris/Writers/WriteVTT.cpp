#include "Auris/Writers/WriteVTT.hpp"

namespace auris {

Outcome<std::string> WriteVTT::write(const TranscriptionResult& result, const std::string& fileName, const Options&)
{
    std::string contents = "WEBVTT\n\n";
    forEachCue(result, [&](float start, float end, const std::string& text) {
        contents += formatTiming(start, end, text);
    });
    return writeFile(fileName, ".vtt", contents);
}

} // namespace auris
