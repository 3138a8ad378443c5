#include "Auris/Writers/WriteJSON.hpp"

#include "Auris/Core/TranscriptionCoding.hpp"

namespace auris {

Outcome<std::string> WriteJSON::write(const TranscriptionResult& result, const std::string& fileName, const Options&)
{
    std::string contents;
    try {
        contents = encodeTranscriptionResult(result, true);
    } catch (...) {
        return Outcome<std::string>::failure(std::current_exception());
    }
    return writeFile(fileName, ".json", contents);
}

} // namespace auris
