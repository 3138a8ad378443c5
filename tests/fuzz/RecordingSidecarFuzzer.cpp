// A recording's sidecar JSON, read as the library reads it; what reads must encode and read back
// to the same recording.

#include "app/recorder/RecordingCoding.hpp"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    parlino::Recording recording;
    try {
        recording = parlino::decodeRecording(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    } catch (const parlino::RecordingDecodingError&) {
        return 0;
    }
    const QByteArray encoded = parlino::encodeRecording(recording);
    if (parlino::encodeRecording(parlino::decodeRecording(encoded)) != encoded) {
        std::abort();
    }
    return 0;
}
