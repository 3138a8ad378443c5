#include "Auris/Audio/AudioBufferUtilities.hpp"

#include "Auris/Utilities/Logging.hpp"
#include "platform/audio/AudioFileWriter.hpp"

#include <algorithm>

namespace auris {

bool appendBufferContents(
    platform::PCMBuffer& destination, const platform::PCMBuffer& source, std::uint32_t startFrame, std::uint32_t frameCount)
{
    if (destination.format() != source.format()) {
        Logging::debug("Format mismatch");
        return false;
    }
    if (std::uint64_t {startFrame} + frameCount > source.frameLength()) {
        Logging::debug("Insufficient audio in buffer");
        return false;
    }
    if (std::uint64_t {destination.frameLength()} + frameCount > destination.frameCapacity()) {
        Logging::debug("Insufficient space in buffer");
        return false;
    }
    const std::uint32_t end = destination.frameLength();
    for (int c = 0; c < source.format().channelCount; ++c) {
        const float* from = source.channelData(c) + startFrame;
        std::copy(from, from + frameCount, destination.channelData(c) + end);
    }
    destination.setFrameLength(end + frameCount);
    return true;
}

void writeFileCreatingDirectories(const platform::PCMBuffer& buffer, const std::filesystem::path& file)
{
    const auto folder = file.parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder)) {
        std::filesystem::create_directories(folder);
    }
    platform::AudioFileSettings settings;
    settings.formatID = platform::AudioFileSettings::FormatID::linearPCM;
    settings.sampleRate = buffer.format().sampleRate;
    settings.channelCount = buffer.format().channelCount;
    platform::AudioFileWriter writer(file, settings);
    writer.write(buffer);
    writer.close();
}

} // namespace auris
