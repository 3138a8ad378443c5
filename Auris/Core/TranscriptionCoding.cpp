#include "Auris/Core/TranscriptionCoding.hpp"

#include "Auris/Core/TimingFields.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace auris {

namespace {

using ordered_json = nlohmann::ordered_json;
using json = nlohmann::json;

// Floats are written with their shortest decimal text, so 0.1f reads "0.1" and reads back exactly.
ordered_json number(float value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    *result.ptr = '\0';
    return std::strtod(buffer, nullptr);
}

ordered_json number(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    return value;
}

const json& member(const json& object, const char* key)
{
    if (!object.is_object()) {
        throw ResultCodingError(std::string("expected an object holding \"") + key + "\"");
    }
    auto it = object.find(key);
    if (it == object.end()) {
        throw ResultCodingError(std::string("missing key \"") + key + "\"");
    }
    return *it;
}

const json* optionalMember(const json& object, const char* key)
{
    auto it = object.find(key);
    return it == object.end() || it->is_null() ? nullptr : &*it;
}

double readDouble(const json& value, const char* key)
{
    if (value.is_number()) {
        return value.get<double>();
    }
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text == "inf") return std::numeric_limits<double>::infinity();
        if (text == "-inf") return -std::numeric_limits<double>::infinity();
        if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
    }
    throw ResultCodingError(std::string("\"") + key + "\" is not a number");
}

float readFloat(const json& value, const char* key)
{
    const double number = readDouble(value, key);
    if (std::isfinite(number) && std::fabs(number) > std::numeric_limits<float>::max()) {
        throw ResultCodingError(std::string("\"") + key + "\" does not fit in a Float");
    }
    return static_cast<float>(number);
}

int readInt(const json& value, const char* key)
{
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto number = value.get<std::uint64_t>();
            if (number <= static_cast<std::uint64_t>(std::numeric_limits<int>::max())) return static_cast<int>(number);
        } else {
            const auto number = value.get<std::int64_t>();
            if (number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max()) {
                return static_cast<int>(number);
            }
        }
        throw ResultCodingError(std::string("\"") + key + "\" does not fit in an Int");
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (std::trunc(number) == number && number >= std::numeric_limits<int>::min()
            && number <= std::numeric_limits<int>::max()) {
            return static_cast<int>(number);
        }
    }
    throw ResultCodingError(std::string("\"") + key + "\" is not an integer");
}

std::string readString(const json& value, const char* key)
{
    if (!value.is_string()) {
        throw ResultCodingError(std::string("\"") + key + "\" is not a string");
    }
    return value.get<std::string>();
}

const json& readArray(const json& value, const char* key)
{
    if (!value.is_array()) {
        throw ResultCodingError(std::string("\"") + key + "\" is not a list");
    }
    return value;
}

std::vector<int> readInts(const json& value, const char* key)
{
    std::vector<int> numbers;
    for (const auto& element : readArray(value, key)) {
        numbers.push_back(readInt(element, key));
    }
    return numbers;
}

// Maps with integer keys are objects whose keys are the integers' decimal text.
ordered_json logProbsJSON(const std::vector<std::map<int, float>>& tokenLogProbs)
{
    ordered_json list = ordered_json::array();
    for (const auto& entry : tokenLogProbs) {
        ordered_json object = ordered_json::object();
        for (const auto& [token, logProb] : entry) {
            object[std::to_string(token)] = number(logProb);
        }
        list.push_back(std::move(object));
    }
    return list;
}

std::vector<std::map<int, float>> readLogProbs(const json& value, const char* key)
{
    std::vector<std::map<int, float>> list;
    for (const auto& element : readArray(value, key)) {
        if (!element.is_object()) {
            throw ResultCodingError(std::string("\"") + key + "\" holds an entry that is not an object");
        }
        std::map<int, float> entry;
        for (const auto& [tokenText, logProb] : element.items()) {
            int token = 0;
            const auto* end = tokenText.data() + tokenText.size();
            const auto parsed = std::from_chars(tokenText.data(), end, token);
            if (tokenText.empty() || parsed.ec != std::errc() || parsed.ptr != end) {
                throw ResultCodingError(std::string("\"") + key + "\" has a key that is not a token id");
            }
            entry[token] = readFloat(logProb, key);
        }
        list.push_back(std::move(entry));
    }
    return list;
}

} // namespace

ordered_json toJSON(const WordTiming& word)
{
    ordered_json json = ordered_json::object();
    json["word"] = word.word;
    json["tokens"] = word.tokens;
    json["start"] = number(word.start);
    json["end"] = number(word.end);
    json["probability"] = number(word.probability);
    return json;
}

ordered_json toJSON(const TranscriptionSegment& segment)
{
    ordered_json json = ordered_json::object();
    json["id"] = segment.id;
    json["seek"] = segment.seek;
    json["start"] = number(segment.start);
    json["end"] = number(segment.end);
    json["text"] = segment.text;
    json["tokens"] = segment.tokens;
    json["tokenLogProbs"] = logProbsJSON(segment.tokenLogProbs);
    json["temperature"] = number(segment.temperature);
    json["avgLogprob"] = number(segment.avgLogprob);
    json["compressionRatio"] = number(segment.compressionRatio);
    json["noSpeechProb"] = number(segment.noSpeechProb);
    if (segment.words) {
        ordered_json words = ordered_json::array();
        for (const auto& word : *segment.words) {
            words.push_back(toJSON(word));
        }
        json["words"] = std::move(words);
    }
    return json;
}

ordered_json toJSON(const TranscriptionTimings& timings)
{
    ordered_json json = ordered_json::object();
    for (const auto& field : timingFields) {
        json[field.name] = number(timings.*field.member);
    }
    return json;
}

ordered_json toJSON(const TranscriptionResult& result)
{
    ordered_json json = ordered_json::object();
    json["text"] = result.text;
    ordered_json segments = ordered_json::array();
    for (const auto& segment : result.segments) {
        segments.push_back(toJSON(segment));
    }
    json["segments"] = std::move(segments);
    json["language"] = result.language;
    json["timings"] = toJSON(result.timings);
    if (result.seekTime) {
        json["seekTime"] = number(*result.seekTime);
    }
    return json;
}

WordTiming wordTimingFromJSON(const json& json)
{
    WordTiming word;
    word.word = readString(member(json, "word"), "word");
    word.tokens = readInts(member(json, "tokens"), "tokens");
    word.start = readFloat(member(json, "start"), "start");
    word.end = readFloat(member(json, "end"), "end");
    word.probability = readFloat(member(json, "probability"), "probability");
    return word;
}

TranscriptionSegment transcriptionSegmentFromJSON(const json& json)
{
    TranscriptionSegment segment;
    segment.id = readInt(member(json, "id"), "id");
    segment.seek = readInt(member(json, "seek"), "seek");
    segment.start = readFloat(member(json, "start"), "start");
    segment.end = readFloat(member(json, "end"), "end");
    segment.text = readString(member(json, "text"), "text");
    segment.tokens = readInts(member(json, "tokens"), "tokens");
    segment.tokenLogProbs = readLogProbs(member(json, "tokenLogProbs"), "tokenLogProbs");
    segment.temperature = readFloat(member(json, "temperature"), "temperature");
    segment.avgLogprob = readFloat(member(json, "avgLogprob"), "avgLogprob");
    segment.compressionRatio = readFloat(member(json, "compressionRatio"), "compressionRatio");
    segment.noSpeechProb = readFloat(member(json, "noSpeechProb"), "noSpeechProb");
    if (const auto* words = optionalMember(json, "words")) {
        segment.words.emplace();
        for (const auto& word : readArray(*words, "words")) {
            segment.words->push_back(wordTimingFromJSON(word));
        }
    }
    return segment;
}

TranscriptionTimings transcriptionTimingsFromJSON(const json& json)
{
    TranscriptionTimings timings;
    for (const auto& field : timingFields) {
        timings.*field.member = readDouble(member(json, field.name), field.name);
    }
    return timings;
}

TranscriptionResult transcriptionResultFromJSON(const json& json)
{
    TranscriptionResult result;
    result.text = readString(member(json, "text"), "text");
    for (const auto& segment : readArray(member(json, "segments"), "segments")) {
        result.segments.push_back(transcriptionSegmentFromJSON(segment));
    }
    result.language = readString(member(json, "language"), "language");
    result.timings = transcriptionTimingsFromJSON(member(json, "timings"));
    if (const auto* seekTime = optionalMember(json, "seekTime")) {
        result.seekTime = readFloat(*seekTime, "seekTime");
    }
    return result;
}

std::string encodeTranscriptionResult(const TranscriptionResult& result, bool prettyPrinted)
{
    return toJSON(result).dump(prettyPrinted ? 2 : -1, ' ', false, ordered_json::error_handler_t::replace);
}

TranscriptionResult decodeTranscriptionResult(std::string_view text)
{
    json parsed;
    try {
        parsed = json::parse(text);
    } catch (const json::parse_error& error) {
        throw ResultCodingError(std::string("not valid JSON: ") + error.what());
    }
    return transcriptionResultFromJSON(parsed);
}

} // namespace auris
