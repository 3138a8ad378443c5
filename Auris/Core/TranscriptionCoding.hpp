#pragma once

#include "Auris/Core/TranscriptionTypes.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <string_view>

namespace auris {

// JSON that does not describe a result: missing required key, wrong type, number out of range.
class ResultCodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One key per field, named and ordered as the fields; absent optionals are left out. Non-finite
// numbers, which JSON cannot hold, are written as the strings "inf", "-inf" and "nan".
nlohmann::ordered_json toJSON(const WordTiming& word);
nlohmann::ordered_json toJSON(const TranscriptionSegment& segment);
nlohmann::ordered_json toJSON(const TranscriptionTimings& timings);
nlohmann::ordered_json toJSON(const TranscriptionResult& result);

// Every key but the optional ones is required; unknown keys are ignored. Throw ResultCodingError.
WordTiming wordTimingFromJSON(const nlohmann::json& json);
TranscriptionSegment transcriptionSegmentFromJSON(const nlohmann::json& json);
TranscriptionTimings transcriptionTimingsFromJSON(const nlohmann::json& json);
TranscriptionResult transcriptionResultFromJSON(const nlohmann::json& json);

// Text forms; pretty printing indents by two spaces. Malformed UTF-8 in texts is written as U+FFFD.
std::string encodeTranscriptionResult(const TranscriptionResult& result, bool prettyPrinted = false);
TranscriptionResult decodeTranscriptionResult(std::string_view text);

} // namespace auris
