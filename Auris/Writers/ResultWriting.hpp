#pragma once

#include "Auris/Core/Outcome.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"

#include <any>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace auris {

// Stores a finished result as a file in `outputDir`.
class ResultWriting {
public:
    using Options = std::optional<std::map<std::string, std::any>>;

    virtual ~ResultWriting() = default;

    virtual const std::string& outputDir() const = 0;
    // Writes "<outputDir>/<fileName><extension>" atomically in UTF-8; success carries the file's
    // absolute path, failure the encoding or file-system error. A name that is not a single path
    // component fails with std::invalid_argument. `options` is accepted and not used.
    virtual Outcome<std::string> write(const TranscriptionResult& result, const std::string& fileName, const Options& options = std::nullopt) = 0;

    // "MM:SS<marker>mmm", with hours first from one hour on or when asked; rounded to the nearest
    // millisecond. Times that are negative or not a number print as zero.
    virtual std::string formatTime(float seconds, bool alwaysIncludeHours, const std::string& decimalMarker) const;

    // A SubRip cue: number, times with hours and ",", text, blank line.
    std::string formatSegment(int index, float start, float end, const std::string& text) const;
    // A WebVTT cue: times with "." and hours only when needed, text, blank line.
    std::string formatTiming(float start, float end, const std::string& text) const;

protected:
    // Subtitle cues in order: one per word of a segment with words, else one for the segment.
    static void forEachCue(
        const TranscriptionResult& result, const std::function<void(float start, float end, const std::string& text)>& cue);
    Outcome<std::string> writeFile(const std::string& fileName, const std::string& extension, const std::string& contents) const;
};

} // namespace auris
