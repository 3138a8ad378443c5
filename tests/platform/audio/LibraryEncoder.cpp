#include "platform/audio/LibraryEncoder.hpp"

#include "platform/audio/FFmpegSupport.hpp"

#include <stdexcept>

namespace testsupport {

using namespace platform::ffmpeg;

namespace {

void check(int status, const char* what)
{
    if (status < 0) {
        throw std::runtime_error(std::string(what) + ": " + errorText(status));
    }
}

void drain(AVCodecContext* codec, AVFormatContext* format, AVStream* stream, const AVFrame* frame)
{
    check(avcodec_send_frame(codec, frame), "send frame");
    PacketPtr packet = makePacket();
    for (;;) {
        const int status = avcodec_receive_packet(codec, packet.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            return;
        }
        check(status, "receive packet");
        av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        check(av_interleaved_write_frame(format, packet.get()), "write packet");
    }
}

} // namespace

bool encodeWithLibrary(const std::filesystem::path& path, const std::string& muxer, const std::string& encoder,
    int sampleRate, const std::vector<std::vector<float>>& channels, const std::string& muxerOptions)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder.c_str());
    if (!codec) {
        return false;
    }
    AVFormatContext* format = nullptr;
    check(avformat_alloc_output_context2(&format, nullptr, muxer.c_str(), path.c_str()), "output");
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> formatOwner(format, [](AVFormatContext* f) {
        avio_closep(&f->pb);
        avformat_free_context(f);
    });
    CodecContextPtr context(avcodec_alloc_context3(codec));
    const int channelCount = static_cast<int>(channels.size());
    // The first float layout the encoder lists: planar or interleaved.
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_FLT) {
            sampleFormat = *f;
            break;
        }
    }
    if (sampleFormat == AV_SAMPLE_FMT_NONE) {
        return false;
    }
    context->sample_fmt = sampleFormat;
    context->sample_rate = sampleRate;
    context->time_base = {1, sampleRate};
    context->bit_rate = 64000 * channelCount;
    av_channel_layout_default(&context->ch_layout, channelCount);
    if (format->oformat->flags & AVFMT_GLOBALHEADER) {
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    check(avcodec_open2(context.get(), codec, nullptr), "open encoder");
    AVStream* stream = avformat_new_stream(format, nullptr);
    stream->time_base = context->time_base;
    check(avcodec_parameters_from_context(stream->codecpar, context.get()), "parameters");
    check(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), "create file");
    AVDictionary* options = nullptr;
    check(av_dict_parse_string(&options, muxerOptions.c_str(), "=", ":", 0), "muxer options");
    const int header = avformat_write_header(format, &options);
    av_dict_free(&options);
    check(header, "header");

    const int frameSize = context->frame_size > 0 ? context->frame_size : 1024;
    const int total = static_cast<int>(channels.front().size());
    FramePtr frame = makeFrame();
    for (int start = 0; start < total; start += frameSize) {
        const int count = std::min(frameSize, total - start);
        av_frame_unref(frame.get());
        frame->nb_samples = count;
        frame->format = sampleFormat;
        frame->sample_rate = sampleRate;
        check(av_channel_layout_copy(&frame->ch_layout, &context->ch_layout), "layout");
        check(av_frame_get_buffer(frame.get(), 0), "frame buffer");
        for (int c = 0; c < channelCount; ++c) {
            for (int i = 0; i < count; ++i) {
                const float sample = channels[static_cast<std::size_t>(c)][static_cast<std::size_t>(start + i)];
                if (sampleFormat == AV_SAMPLE_FMT_FLTP) {
                    reinterpret_cast<float*>(frame->extended_data[c])[i] = sample;
                } else {
                    reinterpret_cast<float*>(frame->data[0])[i * channelCount + c] = sample;
                }
            }
        }
        frame->pts = start;
        drain(context.get(), format, stream, frame.get());
    }
    drain(context.get(), format, stream, nullptr);
    check(av_write_trailer(format), "trailer");
    return true;
}

} // namespace testsupport
