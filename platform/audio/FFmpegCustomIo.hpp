#pragma once

#include "platform/audio/FFmpegSupport.hpp"

#include <cstdint>
#include <memory>
#include <string>

// FFmpeg reading and writing through callbacks of ours instead of through a path of its own.
namespace platform::ffmpeg {

struct IoContextDeleter {
    void operator()(AVIOContext* context) const;
};
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;

constexpr int ioBufferSize = 1 << 16;

using ReadPacket = int (*)(void* opaque, std::uint8_t* buffer, int size);
using WritePacket = int (*)(void* opaque, std::uint8_t* buffer, int size);
using Seek = std::int64_t (*)(void* opaque, std::int64_t offset, int whence);

// An I/O context over `opaque` with a buffer of its own; throws AudioFileError(`outOfMemory`) when
// either cannot be had.
IoContextPtr makeIoContext(
    void* opaque, ReadPacket read, WritePacket write, Seek seek, const std::string& outOfMemory);

// Answers a seek callback over a stream of `size` bytes read or written at `position`: moves
// `position` and gives it, gives the size for AVSEEK_SIZE, or AVERROR(EINVAL) for a target before
// the start or an unknown `whence`.
std::int64_t seekStream(std::int64_t& position, std::int64_t size, std::int64_t offset, int whence);

} // namespace platform::ffmpeg
