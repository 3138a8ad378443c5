#include "Auris/Writers/WriteSRT.hpp"

namespace auris {

Outcome<std::string> WriteSRT::write(const TranscriptionResult& result, const std::string& fileName, const Options&)
{
    std::string contents;
    int index = 1;
    forEachCue(result, [&](float start, float end, const std::string& text) {
        contents += formatSegment(index++, start, end, text);
    });
    return writeFile(fileName, ".srt", contents);
}

} // namespace auris
