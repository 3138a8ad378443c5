#include "platform/audio/MP4Duration.hpp"

#include "platform/audio/AudioFileError.hpp"
#include "platform/system/RegularFile.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// Movie and fragment boxes are small; one larger than this is damage, not a recording.
constexpr std::uint64_t largestReadBox = std::uint64_t {64} << 20;

constexpr std::uint32_t fourCC(const char (&code)[5])
{
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24)
        | (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16)
        | (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8)
        | static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

struct Damaged {};

// Big-endian fields of a box held in memory; reading past its end is damage.
class Fields {
public:
    Fields(const unsigned char* data, std::size_t size)
        : data_(data)
        , size_(size)
    {
    }

    std::uint64_t number(int bytes)
    {
        need(static_cast<std::size_t>(bytes));
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value = (value << 8) | data_[offset_++];
        }
        return value;
    }
    void skip(std::size_t bytes)
    {
        need(bytes);
        offset_ += bytes;
    }
    std::size_t remaining() const { return size_ - offset_; }
    std::size_t offset() const { return offset_; }
    const unsigned char* here() const { return data_ + offset_; }

private:
    void need(std::size_t bytes) const
    {
        if (bytes > size_ - offset_) {
            throw Damaged {};
        }
    }

    const unsigned char* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

struct Child {
    std::uint32_t type;
    Fields body;
};

// The boxes directly inside `parent`, in order; a box that overruns its parent ends the list.
std::vector<Child> children(Fields parent)
{
    std::vector<Child> list;
    while (parent.remaining() >= 8) {
        const unsigned char* start = parent.here();
        const std::size_t room = parent.remaining();
        std::uint64_t size = parent.number(4);
        const auto type = static_cast<std::uint32_t>(parent.number(4));
        std::size_t header = 8;
        if (size == 1) {
            size = parent.number(8);
            header = 16;
        } else if (size == 0) {
            size = room;
        }
        if (size < header || size > room) {
            break;
        }
        list.push_back({type, Fields(start + header, static_cast<std::size_t>(size - header))});
        parent.skip(static_cast<std::size_t>(size - header));
    }
    return list;
}

std::optional<Fields> find(const std::vector<Child>& list, std::uint32_t type)
{
    const auto found = std::find_if(list.begin(), list.end(), [&](const Child& child) { return child.type == type; });
    return found == list.end() ? std::nullopt : std::optional<Fields>(found->body);
}

// Version and flags of a full box.
std::pair<int, std::uint32_t> versionAndFlags(Fields& box)
{
    const auto version = static_cast<int>(box.number(1));
    return {version, static_cast<std::uint32_t>(box.number(3))};
}

struct Track {
    std::uint32_t id = 0;
    std::uint64_t timescale = 0;
    std::uint64_t duration = 0;
    // Media time where presentation starts (the encoder's priming), and the edits' own length in
    // the movie's timescale when they state it.
    std::uint64_t mediaStart = 0;
    std::uint64_t editedDuration = 0;
    std::uint32_t defaultSampleDuration = 0;
    std::uint32_t defaultSampleSize = 0;
    // The sample tables of a whole (unfragmented) file.
    std::optional<Fields> sampleTable;
};

struct Movie {
    std::uint64_t timescale = 0;
    std::optional<Track> audio;
};

void readEdits(Fields edts, Track& track)
{
    const std::optional<Fields> elst = find(children(edts), fourCC("elst"));
    if (!elst) {
        return;
    }
    Fields list = *elst;
    const int version = versionAndFlags(list).first;
    const std::uint64_t count = list.number(4);
    bool started = false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t segment = list.number(version == 1 ? 8 : 4);
        const std::uint64_t mediaTime = list.number(version == 1 ? 8 : 4);
        list.skip(4);
        // An empty edit (media time -1) only delays the start.
        const bool empty = version == 1 ? mediaTime == ~std::uint64_t {0} : mediaTime == 0xffffffffu;
        if (empty) {
            continue;
        }
        if (!started) {
            track.mediaStart = mediaTime;
            started = true;
        }
        track.editedDuration += segment;
    }
}

std::optional<Track> readTrack(Fields trak)
{
    const std::vector<Child> boxes = children(trak);
    const std::optional<Fields> tkhd = find(boxes, fourCC("tkhd"));
    const std::optional<Fields> mdia = find(boxes, fourCC("mdia"));
    if (!tkhd || !mdia) {
        return std::nullopt;
    }
    const std::vector<Child> media = children(*mdia);
    std::optional<Fields> hdlr = find(media, fourCC("hdlr"));
    std::optional<Fields> mdhd = find(media, fourCC("mdhd"));
    if (!hdlr || !mdhd) {
        return std::nullopt;
    }
    hdlr->skip(8);
    if (hdlr->number(4) != fourCC("soun")) {
        return std::nullopt;
    }
    Track track;
    Fields header = *tkhd;
    const int trackVersion = versionAndFlags(header).first;
    header.skip(trackVersion == 1 ? 16 : 8);
    track.id = static_cast<std::uint32_t>(header.number(4));
    const int mediaVersion = versionAndFlags(*mdhd).first;
    mdhd->skip(mediaVersion == 1 ? 16 : 8);
    track.timescale = mdhd->number(4);
    track.duration = mdhd->number(mediaVersion == 1 ? 8 : 4);
    if (const std::optional<Fields> edts = find(boxes, fourCC("edts"))) {
        readEdits(*edts, track);
    }
    if (const std::optional<Fields> minf = find(media, fourCC("minf"))) {
        track.sampleTable = find(children(*minf), fourCC("stbl"));
    }
    return track;
}

// For a whole file cut inside its media data: the media time its samples on disk reach; none when
// every sample the tables list is there.
std::optional<std::uint64_t> timeOnDisk(Fields table, std::uint64_t fileSize)
{
    const std::vector<Child> boxes = children(table);
    std::optional<Fields> stts = find(boxes, fourCC("stts"));
    std::optional<Fields> stsz = find(boxes, fourCC("stsz"));
    std::optional<Fields> stsc = find(boxes, fourCC("stsc"));
    std::optional<Fields> offsets = find(boxes, fourCC("stco"));
    int offsetBytes = 4;
    if (!offsets) {
        offsets = find(boxes, fourCC("co64"));
        offsetBytes = 8;
    }
    if (!stts || !stsz || !stsc || !offsets) {
        return std::nullopt;
    }
    versionAndFlags(*stts);
    versionAndFlags(*stsz);
    versionAndFlags(*stsc);
    versionAndFlags(*offsets);
    std::uint64_t timeEntries = stts->number(4);
    std::uint64_t timeLeft = 0;
    std::uint64_t delta = 0;
    const std::uint64_t uniformSize = stsz->number(4);
    std::uint64_t samplesLeft = stsz->number(4);
    // Runs of chunks that hold the same number of samples, each from its first chunk on.
    std::uint64_t runsLeft = stsc->number(4);
    const auto nextRun = [&]() -> std::optional<std::pair<std::uint64_t, std::uint64_t>> {
        if (runsLeft == 0) {
            return std::nullopt;
        }
        --runsLeft;
        const std::uint64_t firstChunk = stsc->number(4);
        const std::uint64_t samples = stsc->number(4);
        stsc->skip(4);
        return std::pair {firstChunk, samples};
    };
    std::optional<std::pair<std::uint64_t, std::uint64_t>> run = nextRun();
    std::uint64_t samplesPerChunk = 0;
    std::uint64_t time = 0;
    const std::uint64_t chunks = offsets->number(4);
    for (std::uint64_t chunk = 1; chunk <= chunks && samplesLeft > 0; ++chunk) {
        while (run && run->first <= chunk) {
            samplesPerChunk = run->second;
            run = nextRun();
        }
        std::uint64_t at = offsets->number(offsetBytes);
        for (std::uint64_t i = 0; i < samplesPerChunk && samplesLeft > 0; ++i, --samplesLeft) {
            const std::uint64_t size = uniformSize != 0 ? uniformSize : stsz->number(4);
            if (size > fileSize || at > fileSize - size) {
                return time;
            }
            at += size;
            while (timeLeft == 0 && timeEntries > 0) {
                --timeEntries;
                timeLeft = stts->number(4);
                delta = stts->number(4);
            }
            if (timeLeft > 0) {
                --timeLeft;
                time += delta;
            }
        }
    }
    return std::nullopt;
}

Movie readMovie(Fields moov)
{
    Movie movie;
    const std::vector<Child> boxes = children(moov);
    if (std::optional<Fields> mvhd = find(boxes, fourCC("mvhd"))) {
        const int version = versionAndFlags(*mvhd).first;
        mvhd->skip(version == 1 ? 16 : 8);
        movie.timescale = mvhd->number(4);
    }
    for (const Child& child : boxes) {
        if (child.type == fourCC("trak") && !movie.audio) {
            movie.audio = readTrack(child.body);
        }
    }
    if (!movie.audio) {
        return movie;
    }
    // Defaults that fragments fall back on.
    if (const std::optional<Fields> mvex = find(boxes, fourCC("mvex"))) {
        for (const Child& child : children(*mvex)) {
            if (child.type != fourCC("trex")) {
                continue;
            }
            Fields trex = child.body;
            versionAndFlags(trex);
            if (trex.number(4) != movie.audio->id) {
                continue;
            }
            trex.skip(4);
            movie.audio->defaultSampleDuration = static_cast<std::uint32_t>(trex.number(4));
            movie.audio->defaultSampleSize = static_cast<std::uint32_t>(trex.number(4));
        }
    }
    return movie;
}

// Where the audio track's fragments have reached, in its timescale, counting only samples whose
// data lies within the file.
class FragmentTimeline {
public:
    FragmentTimeline(const Track& track, std::uint64_t fileSize)
        : track_(track)
        , fileSize_(fileSize)
    {
    }

    void add(Fields moof, std::uint64_t moofStart)
    {
        for (const Child& child : children(moof)) {
            if (child.type == fourCC("traf")) {
                addTrackFragment(child.body, moofStart);
            }
        }
    }

    bool any() const { return any_; }
    std::uint64_t end() const { return end_; }
    bool cut() const { return cut_; }

private:
    void addTrackFragment(Fields traf, std::uint64_t moofStart)
    {
        const std::vector<Child> boxes = children(traf);
        std::optional<Fields> tfhd = find(boxes, fourCC("tfhd"));
        if (!tfhd) {
            return;
        }
        const std::uint32_t flags = versionAndFlags(*tfhd).second;
        if (tfhd->number(4) != track_.id) {
            return;
        }
        std::uint64_t base = moofStart;
        if (flags & 0x01) {
            base = tfhd->number(8);
        }
        if (flags & 0x02) {
            tfhd->skip(4);
        }
        std::uint64_t defaultDuration = track_.defaultSampleDuration;
        std::uint64_t defaultSize = track_.defaultSampleSize;
        if (flags & 0x08) {
            defaultDuration = tfhd->number(4);
        }
        if (flags & 0x10) {
            defaultSize = tfhd->number(4);
        }

        std::uint64_t time = end_;
        if (std::optional<Fields> tfdt = find(boxes, fourCC("tfdt"))) {
            const int version = versionAndFlags(*tfdt).first;
            time = tfdt->number(version == 1 ? 8 : 4);
        }
        std::uint64_t data = base;
        for (const Child& child : boxes) {
            if (child.type != fourCC("trun")) {
                continue;
            }
            Fields trun = child.body;
            const std::uint32_t runFlags = versionAndFlags(trun).second;
            const std::uint64_t count = trun.number(4);
            if (runFlags & 0x01) {
                data = base + static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(trun.number(4))));
            }
            if (runFlags & 0x04) {
                trun.skip(4);
            }
            for (std::uint64_t i = 0; i < count; ++i) {
                const std::uint64_t duration = (runFlags & 0x100) ? trun.number(4) : defaultDuration;
                const std::uint64_t size = (runFlags & 0x200) ? trun.number(4) : defaultSize;
                trun.skip(((runFlags & 0x400) ? 4 : 0) + ((runFlags & 0x800) ? 4 : 0));
                if (data + size > fileSize_) {
                    cut_ = true;
                    return;
                }
                data += size;
                time += duration;
                any_ = true;
                end_ = std::max(end_, time);
            }
        }
    }

    const Track& track_;
    std::uint64_t fileSize_;
    std::uint64_t end_ = 0;
    bool any_ = false;
    bool cut_ = false;
};

class BoxFile {
public:
    explicit BoxFile(const std::filesystem::path& path)
        : path_(path)
        , file_(open(path))
    {
    }

    std::uint64_t size() const { return file_.size(); }

    // Type, header length and whole length of the box at `offset`; none where no whole header fits
    // or its length makes no sense. The length may reach past the end of a file cut short.
    struct Header {
        std::uint32_t type;
        std::uint64_t headerSize;
        std::uint64_t size;
    };
    std::optional<Header> header(std::uint64_t offset)
    {
        unsigned char bytes[16];
        const std::size_t got = read(offset, bytes, sizeof bytes);
        if (got < 8) {
            return std::nullopt;
        }
        Fields fields(bytes, got);
        Header header {};
        header.size = fields.number(4);
        header.type = static_cast<std::uint32_t>(fields.number(4));
        header.headerSize = 8;
        if (header.size == 1) {
            if (got < 16) {
                return std::nullopt;
            }
            header.size = fields.number(8);
            header.headerSize = 16;
        } else if (header.size == 0) {
            header.size = size() - offset;
        }
        if (header.size < header.headerSize) {
            return std::nullopt;
        }
        return header;
    }

    std::vector<unsigned char> body(std::uint64_t offset, const Header& header)
    {
        if (header.size > largestReadBox) {
            throw AudioFileError("The audio file " + path_.string() + " holds a box too large to read");
        }
        std::vector<unsigned char> bytes(static_cast<std::size_t>(header.size - header.headerSize));
        if (read(offset + header.headerSize, bytes.data(), bytes.size()) != bytes.size()) {
            throw AudioFileError("Cannot read audio file " + path_.string() + ": it ends inside a box");
        }
        return bytes;
    }

private:
    static RegularFile open(const std::filesystem::path& path)
    {
        try {
            return RegularFile::open(path);
        } catch (const std::filesystem::filesystem_error& error) {
            throw AudioFileError("Cannot open audio file " + path.string() + ": " + RegularFile::reason(error));
        }
    }

    // Small reads are served from the last `readAhead` bytes read from the file: a fragment's box
    // and the header of the media data after it cost one system call, not three.
    std::size_t read(std::uint64_t offset, unsigned char* buffer, std::size_t size)
    {
        const std::uint64_t windowEnd = windowStart_ + window_.size();
        if (offset < windowStart_ || offset + size > windowEnd) {
            if (size > readAhead) {
                return readAt(offset, buffer, size);
            }
            window_.resize(readAhead);
            window_.resize(readAt(offset, window_.data(), readAhead));
            windowStart_ = offset;
        }
        const std::size_t available = std::min<std::uint64_t>(size, windowStart_ + window_.size() - offset);
        std::memcpy(buffer, window_.data() + (offset - windowStart_), available);
        return available;
    }

    std::size_t readAt(std::uint64_t offset, unsigned char* buffer, std::size_t size) const
    {
        std::size_t filled = 0;
        while (filled < size) {
            const auto count = ::pread(file_.descriptor().get(), buffer + filled, size - filled,
                                       static_cast<off_t>(offset + filled));
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                throw AudioFileError("Cannot read audio file " + path_.string() + ": " + std::strerror(errno));
            }
            if (count == 0) {
                break;
            }
            filled += static_cast<std::size_t>(count);
        }
        return filled;
    }

    // Enough for the fragment box of a second of audio and the next box's header.
    static constexpr std::size_t readAhead = 1024;

    std::filesystem::path path_;
    RegularFile file_;
    std::vector<unsigned char> window_;
    std::uint64_t windowStart_ = 0;
};

} // namespace

std::optional<double> MP4Duration::read(const std::filesystem::path& path)
{
    BoxFile file(path);
    const auto first = file.header(0);
    if (!first || first->type != fourCC("ftyp")) {
        return std::nullopt;
    }
    const std::string damaged = "The audio file " + path.string() + " is damaged";
    try {
        // The movie's sample table is read after the walk, so its bytes stay until then.
        std::vector<unsigned char> movieBody;
        std::optional<Movie> movie;
        std::optional<FragmentTimeline> fragments;
        std::uint64_t offset = 0;
        while (const auto box = file.header(offset)) {
            const bool whole = offset + box->size <= file.size();
            if (box->type == fourCC("moov") && !movie) {
                if (!whole) {
                    break;
                }
                movieBody = file.body(offset, *box);
                movie = readMovie(Fields(movieBody.data(), movieBody.size()));
                if (!movie->audio) {
                    throw AudioFileError("No audio stream in " + path.string());
                }
                if (movie->audio->timescale == 0) {
                    throw AudioFileError(damaged + ": its audio track has no timescale");
                }
                fragments.emplace(*movie->audio, file.size());
            } else if (box->type == fourCC("moof") && fragments) {
                // A fragment whose own box is cut holds nothing that can be placed.
                if (!whole) {
                    break;
                }
                const std::vector<unsigned char> body = file.body(offset, *box);
                fragments->add(Fields(body.data(), body.size()), offset);
                if (fragments->cut()) {
                    break;
                }
            }
            if (!whole) {
                break;
            }
            offset += box->size;
        }
        if (!movie) {
            throw AudioFileError("Cannot read audio file " + path.string() + ": it holds no movie box");
        }
        const Track& track = *movie->audio;
        if (!fragments->any() && track.sampleTable) {
            if (const std::optional<std::uint64_t> reached = timeOnDisk(*track.sampleTable, file.size())) {
                return static_cast<double>(*reached - std::min(*reached, track.mediaStart)) / static_cast<double>(track.timescale);
            }
        }
        if (!fragments->any() && track.editedDuration > 0 && movie->timescale > 0) {
            return static_cast<double>(track.editedDuration) / static_cast<double>(movie->timescale);
        }
        const std::uint64_t end = std::max(track.duration, fragments->end());
        return static_cast<double>(end - std::min(end, track.mediaStart)) / static_cast<double>(track.timescale);
    } catch (const Damaged&) {
        throw AudioFileError(damaged);
    }
}

} // namespace platform
