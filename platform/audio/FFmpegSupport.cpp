#include "platform/audio/FFmpegSupport.hpp"

#include "platform/audio/AudioFileError.hpp"

#include <mutex>

namespace platform::ffmpeg {

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0) {
        return "error " + std::to_string(code);
    }
    return text;
}

FramePtr makeFrame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        throw AudioFileError("Out of memory for an audio frame");
    }
    return frame;
}

PacketPtr makePacket()
{
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw AudioFileError("Out of memory for an audio packet");
    }
    return packet;
}

void quietenLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Failures reach callers as errors with messages; the library's console chatter is noise.
        av_log_set_level(AV_LOG_QUIET);
    });
}

} // namespace platform::ffmpeg
