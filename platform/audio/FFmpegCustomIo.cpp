#include "platform/audio/FFmpegCustomIo.hpp"

#include "platform/audio/AudioFileError.hpp"

#include <cstdio>

namespace platform::ffmpeg {

void IoContextDeleter::operator()(AVIOContext* context) const
{
    // The library may have replaced the buffer it was given; the context's own is the one to free.
    av_freep(&context->buffer);
    avio_context_free(&context);
}

IoContextPtr makeIoContext(void* opaque, ReadPacket read, WritePacket write, Seek seek, const std::string& outOfMemory)
{
    auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferSize));
    if (!buffer) {
        throw AudioFileError(outOfMemory);
    }
    IoContextPtr io(avio_alloc_context(buffer, ioBufferSize, write ? 1 : 0, opaque, read, write, seek));
    if (!io) {
        av_free(buffer);
        throw AudioFileError(outOfMemory);
    }
    return io;
}

std::int64_t seekStream(std::int64_t& position, std::int64_t size, std::int64_t offset, int whence)
{
    std::int64_t target = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return size;
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = position + offset; break;
    case SEEK_END: target = size + offset; break;
    default: return AVERROR(EINVAL);
    }
    if (target < 0) {
        return AVERROR(EINVAL);
    }
    position = target;
    return target;
}

} // namespace platform::ffmpeg
