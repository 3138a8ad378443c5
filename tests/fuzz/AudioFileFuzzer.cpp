// An audio file of any container the audio layer reads (the first byte picks the name's extension,
// which the container probe may use): opened, read through in blocks, and converted to the
// engine's 16 kHz mono as loading does.

#include "FuzzSupport.hpp"
#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFile.hpp"

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char* const extensions[] = {".wav", ".flac", ".mp3", ".m4a", ".ogg", ".opus", ".aac", ""};
    fuzzsupport::InputReader input(data, size);
    const auto file = fuzzsupport::scratchFolder() / (std::string("audio") + extensions[input.byte() % 8]);
    fuzzsupport::writeFile(file, input.rest());
    try {
        platform::AudioFile audio(file);
        const auto format = audio.processingFormat();
        constexpr std::uint32_t block = 4096;
        auto buffer = platform::PCMBuffer::make(format, block);
        auto converted = platform::PCMBuffer::make({16000, 1}, block + 1);
        auto converter = platform::AudioConverter::make(format, {16000, 1});
        if (!buffer || !converted || !converter) {
            return 0;
        }
        // A header may promise hours; a few million frames show the decoding as well.
        for (std::int64_t read = 0; read < (1 << 22); read += block) {
            audio.read(*buffer, block);
            if (buffer->frameLength() == 0) {
                break;
            }
            converted->setFrameLength(0);
            converter->convert(*buffer, *converted);
        }
        converted->setFrameLength(0);
        converter->flush(*converted);
        audio.setFramePosition(audio.length() / 2);
        audio.read(*buffer, block);
    } catch (const std::exception&) {
    }
    return 0;
}
