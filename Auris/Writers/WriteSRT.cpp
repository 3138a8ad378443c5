#include "Auris/Writers/WriteSRT.hpp"

namespace auris {

Outcome<std::string> WriteSRT::write(const TranscriptionResult& result, const std::string& fileName, const Options&)
{
    std::string contents;
    int index = 1;
    for (const auto& segment : result.segments) {
        if (segment.words && !segment.words->empty()) {
            for (const auto& word : *segment.words) {
                contents += formatSegment(index++, word.start, word.end, word.word);
            }
        } else {
            contents += formatSegment(index++, segment.start, segment.end, segment.text);
        }
    }
    return writeFile(fileName, ".srt", contents);
}

} // namespace auris
