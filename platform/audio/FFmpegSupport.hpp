#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <string>

// Owning handles and small helpers over the FFmpeg libraries, for the audio layer's own files.
namespace platform::ffmpeg {

struct CodecContextDeleter {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrDeleter {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct InputContextDeleter {
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;

// FFmpeg's text for an error code.
std::string errorText(int code);

// Allocations that throw AudioFileError instead of giving null.
FramePtr makeFrame();
PacketPtr makePacket();

// Silences FFmpeg's own console messages, once per process.
void quietenLibraryLog();

} // namespace platform::ffmpeg
