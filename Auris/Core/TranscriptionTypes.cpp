#include "Auris/Core/TranscriptionTypes.hpp"

#include "Auris/Core/WhisperError.hpp"
#include "Auris/Utilities/Logging.hpp"

namespace auris {

std::vector<WordTiming> TranscriptionResult::allWords() const
{
    std::vector<WordTiming> words;
    for (const auto& segment : segments) {
        if (segment.words) {
            words.insert(words.end(), segment.words->begin(), segment.words->end());
        }
    }
    return words;
}

TranscriptionSegment updateSegmentTimings(const TranscriptionSegment& segment, float seekTime)
{
    TranscriptionSegment shifted = segment;
    shifted.seek += static_cast<int>(16000.0f * seekTime);
    shifted.start += seekTime;
    shifted.end += seekTime;
    if (shifted.words) {
        for (auto& word : *shifted.words) {
            word.start += seekTime;
            word.end += seekTime;
        }
    }
    return shifted;
}

std::string WhisperError::errorDescription() const
{
    Logging::error(message());
    return message();
}

} // namespace auris
