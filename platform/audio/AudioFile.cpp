#include "platform/audio/AudioFile.hpp"

#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/FFmpegCustomIo.hpp"
#include "platform/audio/FFmpegSupport.hpp"
#include "platform/system/RegularFile.hpp"
#include "platform/system/SystemLog.hpp"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace platform {

using namespace ffmpeg;

namespace {

// The open file as FFmpeg reads it: through callbacks over the one descriptor, at a position of
// this reader's own, so that starting over needs no second open of the path (which a FIFO or a
// file replaced meanwhile would answer differently).
class FileReader {
public:
    FileReader(int descriptor, std::int64_t size)
        : descriptor_(descriptor)
        , size_(size)
    {
    }

    static int read(void* opaque, std::uint8_t* buffer, int size)
    {
        auto& reader = *static_cast<FileReader*>(opaque);
        for (;;) {
            const auto count = ::pread(reader.descriptor_, buffer, static_cast<std::size_t>(size), reader.position_);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                return AVERROR(errno);
            }
            if (count == 0) {
                return AVERROR_EOF;
            }
            reader.position_ += count;
            return static_cast<int>(count);
        }
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence)
    {
        auto& reader = *static_cast<FileReader*>(opaque);
        return seekStream(reader.position_, reader.size_, offset, whence);
    }

private:
    int descriptor_;
    std::int64_t size_;
    std::int64_t position_ = 0;
};

// The container context reads through the reader and its I/O context until it is closed, so it
// always goes first.
struct Demuxer {
    std::unique_ptr<FileReader> reader;
    IoContextPtr io;
    InputContextPtr context;
    int streamIndex = -1;

    Demuxer() = default;
    Demuxer(Demuxer&&) noexcept = default;
    Demuxer& operator=(Demuxer&& other) noexcept
    {
        context.reset();
        reader = std::move(other.reader);
        io = std::move(other.io);
        context = std::move(other.context);
        streamIndex = other.streamIndex;
        return *this;
    }
    ~Demuxer() { context.reset(); }

    AVStream* stream() const { return context->streams[streamIndex]; }
};

Demuxer openDemuxer(const RegularFile& file, const std::filesystem::path& path)
{
    quietenLibraryLog();
    Demuxer demuxer;
    demuxer.reader = std::make_unique<FileReader>(file.descriptor().get(), static_cast<std::int64_t>(file.size()));
    demuxer.io = makeIoContext(
        demuxer.reader.get(), &FileReader::read, nullptr, &FileReader::seek, "Out of memory for reading " + path.string());
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        throw AudioFileError("Out of memory for reading " + path.string());
    }
    raw->pb = demuxer.io.get();
    // The path still names the file, which helps the library guess its container.
    int status = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        throw AudioFileError("Cannot open audio file " + path.string() + ": " + errorText(status));
    }
    demuxer.context.reset(raw);
    status = avformat_find_stream_info(demuxer.context.get(), nullptr);
    if (status < 0) {
        throw AudioFileError("Cannot read the streams of audio file " + path.string() + ": " + errorText(status));
    }
    demuxer.streamIndex = av_find_best_stream(demuxer.context.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (demuxer.streamIndex < 0) {
        throw AudioFileError("No audio stream in " + path.string());
    }
    for (unsigned i = 0; i < demuxer.context->nb_streams; ++i) {
        if (static_cast<int>(i) != demuxer.streamIndex) {
            demuxer.context->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    return demuxer;
}

RegularFile openAudioFile(const std::filesystem::path& path)
{
    try {
        return RegularFile::open(path);
    } catch (const std::filesystem::filesystem_error& error) {
        throw AudioFileError("Cannot open audio file " + path.string() + ": " + RegularFile::reason(error));
    }
}

AudioFormat formatOf(const Demuxer& demuxer, const std::filesystem::path& path)
{
    const AVCodecParameters* parameters = demuxer.stream()->codecpar;
    auto format = AudioFormat::standard(parameters->sample_rate, parameters->ch_layout.nb_channels);
    if (!format) {
        throw AudioFileError("Unsupported audio format in " + path.string() + ": "
            + std::to_string(parameters->ch_layout.nb_channels) + " channels at "
            + std::to_string(parameters->sample_rate) + " Hz");
    }
    return *format;
}

CodecContextPtr openCodec(const Demuxer& demuxer, const std::filesystem::path& path)
{
    const AVCodecParameters* parameters = demuxer.stream()->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) {
        throw AudioFileError("No decoder for the audio codec of " + path.string() + " ("
            + avcodec_get_name(parameters->codec_id) + ")");
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        throw AudioFileError("Out of memory for an audio decoder");
    }
    int status = avcodec_parameters_to_context(context.get(), parameters);
    if (status >= 0) {
        context->pkt_timebase = demuxer.stream()->time_base;
        status = avcodec_open2(context.get(), codec, nullptr);
    }
    if (status < 0) {
        throw AudioFileError("Cannot start the audio decoder for " + path.string() + ": " + errorText(status));
    }
    return context;
}

// Where a file holds less than its own header or index says (cut short by a crash, an interrupted
// copy or a full disk), the words for it; none when it holds all of it.
std::optional<std::string> shortfall(const Demuxer& demuxer, std::int64_t packets, std::int64_t frames)
{
    // The container's own index lists its packets.
    const AVStream* stream = demuxer.stream();
    const std::int64_t listed = stream->nb_frames;
    if (listed > 0 && packets < listed) {
        return "it holds " + std::to_string(packets) + " of the " + std::to_string(listed) + " packets its index lists";
    }
    // Most containers state their duration up front. Lossless codecs state it exactly; lossy ones
    // count priming and padding too, a few thousand frames at most.
    if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0
        || demuxer.context->duration_estimation_method != AVFMT_DURATION_FROM_STREAM) {
        return std::nullopt;
    }
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream->codecpar->codec_id);
    const bool lossless = descriptor && (descriptor->props & AV_CODEC_PROP_LOSSLESS);
    const std::int64_t tolerance = lossless ? 0 : 8192;
    const std::int64_t declared = av_rescale_q(stream->duration, stream->time_base, AVRational {1, stream->codecpar->sample_rate});
    if (frames < declared - tolerance) {
        return "it holds " + std::to_string(frames) + " of the " + std::to_string(declared) + " frames its header declares";
    }
    return std::nullopt;
}

template<typename Sample, typename Convert>
void copyChannel(const AVFrame& frame, int channel, int channelCount, bool planar, int offset, int count, float* out,
    Convert convert)
{
    if (planar) {
        const auto* in = reinterpret_cast<const Sample*>(frame.extended_data[channel]) + offset;
        for (int i = 0; i < count; ++i) {
            out[i] = convert(in[i]);
        }
    } else {
        const auto* in = reinterpret_cast<const Sample*>(frame.extended_data[0])
            + static_cast<std::size_t>(offset) * static_cast<std::size_t>(channelCount) + channel;
        for (int i = 0; i < count; ++i) {
            out[i] = convert(in[static_cast<std::size_t>(i) * static_cast<std::size_t>(channelCount)]);
        }
    }
}

bool isSupportedSampleFormat(int format)
{
    switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(format))) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S64:
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_DBL:
        return true;
    default:
        return false;
    }
}

// Converts `count` frames from `offset` of a decoded frame into the buffer's planes at `outOffset`.
void copyFrames(const AVFrame& frame, int offset, int count, PCMBuffer& buffer, std::uint32_t outOffset)
{
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int channels = buffer.format().channelCount;
    for (int c = 0; c < channels; ++c) {
        float* out = buffer.channelData(c) + outOffset;
        switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            copyChannel<std::uint8_t>(frame, c, channels, planar, offset, count, out,
                [](std::uint8_t x) { return (static_cast<float>(x) - 128.0f) * (1.0f / 128.0f); });
            break;
        case AV_SAMPLE_FMT_S16:
            copyChannel<std::int16_t>(frame, c, channels, planar, offset, count, out,
                [](std::int16_t x) { return static_cast<float>(x) * (1.0f / 32768.0f); });
            break;
        case AV_SAMPLE_FMT_S32:
            copyChannel<std::int32_t>(frame, c, channels, planar, offset, count, out,
                [](std::int32_t x) { return static_cast<float>(static_cast<double>(x) * (1.0 / 2147483648.0)); });
            break;
        case AV_SAMPLE_FMT_S64:
            copyChannel<std::int64_t>(frame, c, channels, planar, offset, count, out,
                [](std::int64_t x) { return static_cast<float>(static_cast<double>(x) * (1.0 / 9223372036854775808.0)); });
            break;
        case AV_SAMPLE_FMT_FLT:
            copyChannel<float>(frame, c, channels, planar, offset, count, out, [](float x) { return x; });
            break;
        case AV_SAMPLE_FMT_DBL:
            copyChannel<double>(frame, c, channels, planar, offset, count, out,
                [](double x) { return static_cast<float>(x); });
            break;
        default:
            break;
        }
    }
}

} // namespace

class AudioFile::Decoder {
public:
    explicit Decoder(const std::filesystem::path& path)
        : path_(path)
        , file_(openAudioFile(path))
    {
        Demuxer demuxer = openDemuxer(file_, path_);
        format_ = formatOf(demuxer, path_);
        start(std::move(demuxer));
        // Only decoding tells the exact frame count: container durations and packet counts are
        // estimates for lossy codecs (priming, padding, pre-skip).
        std::int64_t frames = 0;
        while (decodeNext()) {
            frames += frame_->nb_samples;
        }
        length_ = frames;
        std::optional<std::string> missing = shortfall(demuxer_, packetsRead_, frames);
        if (!missing && cutPacket_) {
            missing = "its last packet is cut off";
        }
        if (missing) {
            // What is whole is the recording as far as it goes; the file itself is left as it is.
            endsEarly_ = true;
            SystemLog::write("Parlino", "AudioFile", SystemLog::Type::error,
                "⚠️ The audio file " + path_.string() + " ends early (" + *missing + "): reading the "
                    + std::to_string(frames) + " frames it holds");
        }
        rewind();
    }

    const std::filesystem::path& path() const { return path_; }
    const AudioFormat& format() const { return format_; }
    std::int64_t length() const { return length_; }
    bool endsEarly() const { return endsEarly_; }
    std::int64_t position() const { return position_; }

    void setPosition(std::int64_t position)
    {
        if (position < 0) {
            throw std::out_of_range("a frame position cannot be negative");
        }
        position_ = position;
    }

    void read(PCMBuffer& buffer, std::uint32_t frameCount)
    {
        if (buffer.format() != format_) {
            throw AudioFileError("The buffer's format does not match the audio file " + path_.string());
        }
        if (buffer.frameCapacity() < frameCount) {
            throw AudioFileError("A buffer of " + std::to_string(buffer.frameCapacity()) + " frames cannot hold "
                + std::to_string(frameCount) + " frames");
        }
        buffer.setFrameLength(0);
        const auto wanted = static_cast<std::uint32_t>(
            std::clamp<std::int64_t>(length_ - position_, 0, static_cast<std::int64_t>(frameCount)));
        try {
            if (position_ < cursor_) {
                rewind();
            }
            std::uint32_t delivered = 0;
            while (delivered < wanted) {
                if (!hasFrame_ || frameOffset_ >= frame_->nb_samples) {
                    if (!decodeNext()) {
                        throw AudioFileError("The audio file " + path_.string() + " ends after " + std::to_string(cursor_)
                            + " of its " + std::to_string(length_) + " frames");
                    }
                    continue;
                }
                const int available = frame_->nb_samples - frameOffset_;
                if (cursor_ < position_) {
                    const auto skipped = static_cast<int>(std::min<std::int64_t>(available, position_ - cursor_));
                    frameOffset_ += skipped;
                    cursor_ += skipped;
                    continue;
                }
                const auto count = static_cast<int>(std::min<std::int64_t>(available, wanted - delivered));
                copyFrames(*frame_, frameOffset_, count, buffer, delivered);
                frameOffset_ += count;
                cursor_ += count;
                delivered += static_cast<std::uint32_t>(count);
            }
            buffer.setFrameLength(delivered);
            position_ += delivered;
        } catch (...) {
            // The decoder's place is unknown now; the next read starts again from the beginning.
            cursor_ = std::numeric_limits<std::int64_t>::max();
            buffer.setFrameLength(0);
            throw;
        }
    }

private:
    void rewind()
    {
        Demuxer demuxer = openDemuxer(file_, path_);
        if (formatOf(demuxer, path_) != format_) {
            throw AudioFileError("The audio file " + path_.string() + " changed while it was read");
        }
        start(std::move(demuxer));
    }

    // Decoding from the first frame of a freshly opened file.
    void start(Demuxer demuxer)
    {
        codec_ = openCodec(demuxer, path_);
        demuxer_ = std::move(demuxer);
        if (!packet_) {
            packet_ = makePacket();
            frame_ = makeFrame();
        }
        av_frame_unref(frame_.get());
        hasFrame_ = false;
        frameOffset_ = 0;
        inputEnded_ = false;
        packetsRead_ = 0;
        cursor_ = 0;
    }

    // Decodes the next frame into frame_; false at the end of the stream.
    bool decodeNext()
    {
        hasFrame_ = false;
        frameOffset_ = 0;
        for (;;) {
            int status = avcodec_receive_frame(codec_.get(), frame_.get());
            if (status == 0) {
                checkFrame();
                hasFrame_ = true;
                return true;
            }
            if (status == AVERROR_EOF) {
                return false;
            }
            if (status != AVERROR(EAGAIN)) {
                throw damaged(status);
            }
            if (inputEnded_) {
                return false;
            }
            status = av_read_frame(demuxer_.context.get(), packet_.get());
            if (status == AVERROR_EOF) {
                inputEnded_ = true;
                status = avcodec_send_packet(codec_.get(), nullptr);
            } else if (status < 0) {
                throw AudioFileError("Cannot read audio file " + path_.string() + ": " + errorText(status));
            } else if (packet_->stream_index == demuxer_.streamIndex) {
                ++packetsRead_;
                if (packet_->flags & AV_PKT_FLAG_CORRUPT) {
                    // A packet the file's end cuts through: the audio ends with the packet before.
                    av_packet_unref(packet_.get());
                    cutPacket_ = true;
                    inputEnded_ = true;
                    status = avcodec_send_packet(codec_.get(), nullptr);
                } else {
                    status = avcodec_send_packet(codec_.get(), packet_.get());
                }
                av_packet_unref(packet_.get());
            } else {
                av_packet_unref(packet_.get());
                status = 0;
            }
            if (status < 0 && status != AVERROR_EOF) {
                throw damaged(status);
            }
        }
    }

    void checkFrame() const
    {
        if (frame_->ch_layout.nb_channels != format_.channelCount
            || (frame_->sample_rate != 0 && frame_->sample_rate != static_cast<int>(format_.sampleRate))
            || !isSupportedSampleFormat(frame_->format) || frame_->nb_samples < 0) {
            throw AudioFileError("The audio stream of " + path_.string() + " changes its format midway");
        }
    }

    AudioFileError damaged(int status) const
    {
        return AudioFileError("The audio file " + path_.string() + " is damaged and cannot be decoded: " + errorText(status));
    }

    std::filesystem::path path_;
    RegularFile file_;
    AudioFormat format_;
    std::int64_t length_ = 0;
    bool endsEarly_ = false;
    bool cutPacket_ = false;
    std::int64_t position_ = 0;

    Demuxer demuxer_;
    CodecContextPtr codec_;
    PacketPtr packet_;
    FramePtr frame_;
    bool hasFrame_ = false;
    int frameOffset_ = 0;
    bool inputEnded_ = false;
    std::int64_t packetsRead_ = 0;
    // Frame index of the next decoded sample not yet delivered or skipped.
    std::int64_t cursor_ = 0;
};

AudioFile::AudioFile(const std::filesystem::path& path)
    : decoder_(std::make_unique<Decoder>(path))
{
}

AudioFile::~AudioFile() = default;
AudioFile::AudioFile(AudioFile&&) noexcept = default;
AudioFile& AudioFile::operator=(AudioFile&&) noexcept = default;

const std::filesystem::path& AudioFile::path() const { return decoder_->path(); }
const AudioFormat& AudioFile::processingFormat() const { return decoder_->format(); }
std::int64_t AudioFile::length() const { return decoder_->length(); }
bool AudioFile::endsEarly() const { return decoder_->endsEarly(); }
std::int64_t AudioFile::framePosition() const { return decoder_->position(); }
void AudioFile::setFramePosition(std::int64_t framePosition) { decoder_->setPosition(framePosition); }
void AudioFile::read(PCMBuffer& buffer, std::uint32_t frameCount) { decoder_->read(buffer, frameCount); }

} // namespace platform
