#include "platform/audio/AudioFileWriter.hpp"

#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/FFmpegCustomIo.hpp"
#include "platform/audio/FFmpegSupport.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace platform {

using namespace ffmpeg;

namespace {

struct OutputContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

// Frames per encoder call for codecs that take any frame size.
constexpr int pcmFrameSize = 4096;
// M4A audio goes out in fragments of this many microseconds, each a whole, playable piece.
constexpr int fragmentMicroseconds = 1'000'000;

std::string lowercaseExtension(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

} // namespace

class AudioFileWriter::Encoder {
public:
    Encoder(const std::filesystem::path& path, const AudioFileSettings& settings,
        const std::function<std::unique_ptr<AudioFileOutput>()>& makeOutput)
        : path_(path)
    {
        quietenLibraryLog();
        auto format = AudioFormat::standard(settings.sampleRate, settings.channelCount);
        if (!format || settings.sampleRate != static_cast<int>(settings.sampleRate)) {
            throw AudioFileError("Unsupported audio settings for " + path.string() + ": "
                + std::to_string(settings.channelCount) + " channels at " + std::to_string(settings.sampleRate) + " Hz");
        }
        format_ = *format;
        const AVCodecID codecID = openContainer(settings);
        openCodec(codecID, settings);
        addStream();
        startFile(makeOutput);
    }

    ~Encoder()
    {
        try {
            close();
        } catch (const AudioFileError&) {
            // Nothing can report it here; the caller chose not to close explicitly.
        }
    }

    const AudioFormat& format() const { return format_; }

    void write(const PCMBuffer& buffer)
    {
        if (failed_) {
            throw AudioFileError("The audio file " + path_.string() + " could not be written before");
        }
        if (closed_) {
            throw AudioFileError("The audio file " + path_.string() + " is already closed");
        }
        if (buffer.format() != format_) {
            throw AudioFileError("The buffer's format does not match the audio file " + path_.string());
        }
        std::uint32_t written = 0;
        while (written < buffer.frameLength()) {
            const int count = static_cast<int>(std::min<std::uint32_t>(buffer.frameLength() - written, INT_MAX / 2));
            std::vector<void*> planes;
            for (int c = 0; c < format_.channelCount; ++c) {
                planes.push_back(const_cast<float*>(buffer.channelData(c) + written));
            }
            if (av_audio_fifo_write(fifo_.get(), planes.data(), count) < count) {
                throw AudioFileError("Out of memory while writing " + path_.string());
            }
            written += static_cast<std::uint32_t>(count);
            guarded([&] {
                while (av_audio_fifo_size(fifo_.get()) >= frameSize_) {
                    encodeFromFifo(frameSize_);
                }
            });
        }
    }

    void close()
    {
        if (closed_) {
            return;
        }
        closed_ = true;
        guarded([&] {
            if (const int rest = av_audio_fifo_size(fifo_.get()); rest > 0) {
                encodeFromFifo(rest);
            }
            sendToEncoder(nullptr);
            int status = av_write_trailer(context_.get());
            if (status >= 0) {
                status = flush();
            }
            if (status < 0) {
                throw AudioFileError("Cannot finish audio file " + path_.string() + ": " + errorText(status));
            }
        });
    }

    bool failed() const { return failed_; }

private:
    // The muxer for the file's extension and format; returns the codec it takes.
    AVCodecID openContainer(const AudioFileSettings& settings)
    {
        const std::string extension = lowercaseExtension(path_);
        const char* muxer = nullptr;
        AVCodecID codecID = AV_CODEC_ID_NONE;
        if (extension == ".wav" && settings.formatID == AudioFileSettings::FormatID::linearPCM) {
            muxer = "wav";
            codecID = AV_CODEC_ID_PCM_F32LE;
        } else if (extension == ".m4a" && settings.formatID == AudioFileSettings::FormatID::mpeg4AAC) {
            muxer = "ipod";
            codecID = AV_CODEC_ID_AAC;
            fragmented_ = true;
        } else {
            throw AudioFileError("Cannot write " + path_.string() + ": WAV files hold linear PCM and M4A files hold AAC");
        }

        AVFormatContext* rawContext = nullptr;
        const int status = avformat_alloc_output_context2(&rawContext, nullptr, muxer, path_.c_str());
        if (status < 0 || !rawContext) {
            throw AudioFileError("Cannot prepare audio file " + path_.string() + ": " + errorText(status));
        }
        context_.reset(rawContext);
        context_->flags |= AVFMT_FLAG_BITEXACT;
        return codecID;
    }

    void openCodec(AVCodecID codecID, const AudioFileSettings& settings)
    {
        const AVCodec* codec = avcodec_find_encoder(codecID);
        if (!codec) {
            throw AudioFileError(std::string("No encoder for ") + avcodec_get_name(codecID));
        }
        codec_.reset(avcodec_alloc_context3(codec));
        if (!codec_) {
            throw AudioFileError("Out of memory for an audio encoder");
        }
        codec_->sample_fmt = codecID == AV_CODEC_ID_AAC ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT;
        codec_->sample_rate = static_cast<int>(format_.sampleRate);
        av_channel_layout_default(&codec_->ch_layout, format_.channelCount);
        codec_->time_base = AVRational {1, codec_->sample_rate};
        if (settings.bitRate) {
            if (*settings.bitRate <= 0) {
                throw AudioFileError("Unsupported bit rate " + std::to_string(*settings.bitRate) + " for " + path_.string());
            }
            codec_->bit_rate = *settings.bitRate;
        }
        if (context_->oformat->flags & AVFMT_GLOBALHEADER) {
            codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        codec_->flags |= AV_CODEC_FLAG_BITEXACT;
        const int status = avcodec_open2(codec_.get(), codec, nullptr);
        if (status < 0) {
            throw AudioFileError("Cannot start the audio encoder for " + path_.string() + ": " + errorText(status));
        }
    }

    // The file's one stream and the buffers that feed the encoder whole frames.
    void addStream()
    {
        stream_ = avformat_new_stream(context_.get(), nullptr);
        if (!stream_) {
            throw AudioFileError("Out of memory for an audio stream");
        }
        stream_->time_base = codec_->time_base;
        const int status = avcodec_parameters_from_context(stream_->codecpar, codec_.get());
        if (status < 0) {
            throw AudioFileError("Cannot describe the audio stream of " + path_.string() + ": " + errorText(status));
        }

        frameSize_ = codec_->frame_size > 0 ? codec_->frame_size : pcmFrameSize;
        fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, format_.channelCount, frameSize_));
        packet_ = makePacket();
        frame_ = makeFrame();
        if (!fifo_) {
            throw AudioFileError("Out of memory for an audio encoder");
        }
    }

    // Creates the file and writes its header; a file whose header fails is removed again.
    void startFile(const std::function<std::unique_ptr<AudioFileOutput>()>& makeOutput)
    {
        try {
            output_ = makeOutput();
        } catch (const std::system_error& error) {
            throw AudioFileError("Cannot create audio file " + path_.string() + ": " + error.code().message());
        }
        try {
            openIo();
            AVDictionary* rawOptions = nullptr;
            if (fragmented_) {
                // A fragment is written whole once its second is encoded; the index at the end is
                // only an extra, so a file cut short still plays.
                av_dict_set(&rawOptions, "movflags", "empty_moov+default_base_moof", 0);
                av_dict_set_int(&rawOptions, "frag_duration", fragmentMicroseconds, 0);
            }
            std::unique_ptr<AVDictionary, DictionaryDeleter> options(rawOptions);
            rawOptions = options.release();
            int status = avformat_write_header(context_.get(), &rawOptions);
            options.reset(rawOptions);
            if (status >= 0) {
                status = flush();
            }
            if (status < 0) {
                throw AudioFileError("Cannot write the header of " + path_.string() + ": " + errorText(status));
            }
            headerEnd_ = committed_;
        } catch (...) {
            closed_ = true;
            output_->remove();
            throw;
        }
    }

    // Runs `work`; when it fails, the file keeps only what is whole, and nothing more is written.
    template <typename Work>
    void guarded(Work work)
    {
        if (failed_) {
            throw AudioFileError("The audio file " + path_.string() + " could not be written before");
        }
        try {
            work();
        } catch (const AudioFileError&) {
            failed_ = true;
            closed_ = true;
            keepWholePart();
            throw;
        }
    }

    // A fragmented file is cut back to its last whole fragment; a file without any audio on disk
    // is removed rather than left empty or as a bare header.
    void keepWholePart()
    {
        if (committed_ <= headerEnd_) {
            output_->remove();
        } else if (fragmented_) {
            output_->truncate(committed_);
        }
    }

    void openIo()
    {
        io_ = makeIoContext(this, nullptr, &Encoder::writeBytes, &Encoder::seekBytes, "Out of memory for writing " + path_.string());
        context_->pb = io_.get();
        context_->flags |= AVFMT_FLAG_CUSTOM_IO;
    }

    // Hands what the muxer has written so far to the output; after it, every byte the muxer gave
    // is on disk (a fragmenting muxer gives whole fragments only).
    int flush()
    {
        avio_flush(io_.get());
        if (io_->error < 0) {
            return io_->error;
        }
        committed_ = end_;
        return 0;
    }

    static int writeBytes(void* opaque, std::uint8_t* bytes, int size)
    {
        auto& self = *static_cast<Encoder*>(opaque);
        try {
            self.output_->write(self.position_, std::as_bytes(std::span(bytes, static_cast<std::size_t>(size))));
        } catch (const std::system_error& error) {
            return AVERROR(error.code().value() > 0 ? error.code().value() : EIO);
        }
        self.position_ += size;
        self.end_ = std::max(self.end_, self.position_);
        return size;
    }

    static std::int64_t seekBytes(void* opaque, std::int64_t offset, int whence)
    {
        auto& self = *static_cast<Encoder*>(opaque);
        return seekStream(self.position_, self.end_, offset, whence);
    }

    void encodeFromFifo(int frames)
    {
        av_frame_unref(frame_.get());
        frame_->nb_samples = frames;
        frame_->format = codec_->sample_fmt;
        frame_->sample_rate = codec_->sample_rate;
        int status = av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout);
        if (status >= 0) {
            status = av_frame_get_buffer(frame_.get(), 0);
        }
        if (status < 0) {
            throw AudioFileError("Out of memory while writing " + path_.string());
        }
        if (codec_->sample_fmt == AV_SAMPLE_FMT_FLTP) {
            av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->extended_data), frames);
        } else {
            // The PCM codec takes interleaved samples.
            planar_.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(format_.channelCount));
            std::vector<void*> planes;
            for (int c = 0; c < format_.channelCount; ++c) {
                planes.push_back(planar_.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(frames));
            }
            av_audio_fifo_read(fifo_.get(), planes.data(), frames);
            auto* out = reinterpret_cast<float*>(frame_->data[0]);
            for (int i = 0; i < frames; ++i) {
                for (int c = 0; c < format_.channelCount; ++c) {
                    *out++ = planar_[static_cast<std::size_t>(c) * static_cast<std::size_t>(frames) + static_cast<std::size_t>(i)];
                }
            }
        }
        frame_->pts = nextPts_;
        nextPts_ += frames;
        sendToEncoder(frame_.get());
    }

    void sendToEncoder(const AVFrame* frame)
    {
        int status = avcodec_send_frame(codec_.get(), frame);
        if (status < 0) {
            throw AudioFileError("Cannot encode audio for " + path_.string() + ": " + errorText(status));
        }
        for (;;) {
            status = avcodec_receive_packet(codec_.get(), packet_.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
                return;
            }
            if (status < 0) {
                throw AudioFileError("Cannot encode audio for " + path_.string() + ": " + errorText(status));
            }
            av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            status = av_interleaved_write_frame(context_.get(), packet_.get());
            if (status >= 0) {
                status = flush();
            }
            if (status < 0) {
                throw AudioFileError("Cannot write audio file " + path_.string() + ": " + errorText(status));
            }
        }
    }

    std::filesystem::path path_;
    AudioFormat format_;
    std::unique_ptr<AudioFileOutput> output_;
    // Declared after the output and before the context: the context writes through it.
    IoContextPtr io_;
    OutputContextPtr context_;
    CodecContextPtr codec_;
    AVStream* stream_ = nullptr;
    FifoPtr fifo_;
    PacketPtr packet_;
    FramePtr frame_;
    std::vector<float> planar_;
    int frameSize_ = pcmFrameSize;
    std::int64_t nextPts_ = 0;
    bool fragmented_ = false;
    bool closed_ = false;
    bool failed_ = false;
    // Bytes of the file: where the next write goes, the end, what is on disk, and the header.
    std::int64_t position_ = 0;
    std::int64_t end_ = 0;
    std::int64_t committed_ = 0;
    std::int64_t headerEnd_ = 0;
};

AudioFileWriter::AudioFileWriter(const std::filesystem::path& path, const AudioFileSettings& settings)
    : encoder_(std::make_unique<Encoder>(path, settings, [&path] { return AudioFileOutput::create(path, AudioFileOutput::Existing::replace); }))
{
}

AudioFileWriter::AudioFileWriter(std::unique_ptr<AudioFileOutput> output, const AudioFileSettings& settings)
{
    const std::filesystem::path path = output->path();
    try {
        encoder_ = std::make_unique<Encoder>(path, settings, [&output] { return std::move(output); });
    } catch (...) {
        // Refused before the encoder took the file: it stays empty, so it goes.
        if (output) {
            output->remove();
        }
        throw;
    }
}

AudioFileWriter::~AudioFileWriter() = default;
AudioFileWriter::AudioFileWriter(AudioFileWriter&&) noexcept = default;
AudioFileWriter& AudioFileWriter::operator=(AudioFileWriter&&) noexcept = default;

const AudioFormat& AudioFileWriter::processingFormat() const { return encoder_->format(); }
void AudioFileWriter::write(const PCMBuffer& buffer) { encoder_->write(buffer); }
void AudioFileWriter::close() { encoder_->close(); }
bool AudioFileWriter::failed() const { return encoder_->failed(); }

} // namespace platform
