#include "Auris/Writers/WriteVTT.hpp"

namespace auris {

Outcome<std::string> WriteVTT::write(const TranscriptionResult& result, const std::string& fileName, const Options&)
{
    std::string contents = "WEBVTT\n\n";
    for (const auto& segment : result.segments) {
        if (segment.words && !segment.words->empty()) {
            for (const auto& word : *segment.words) {
                contents += formatTiming(word.start, word.end, word.word);
            }
        } else {
            contents += formatTiming(segment.start, segment.end, segment.text);
        }
    }
    return writeFile(fileName, ".vtt", contents);
}

} // namespace auris
